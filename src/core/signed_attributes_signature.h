// The signature of a token's SignerInfo checked from the token's own bytes:
// the signed attributes are hashed as they stand in the token, their
// [0] IMPLICIT tag replaced by the SET OF tag (0x31), and the digest is
// verified with the signer's key. OpenSSL's CMS verifier instead decodes the
// attributes, encodes them again and looks the algorithms up on every call,
// which costs a good part of a signature check.
//
// Only the plain case is answered here: one SignerInfo; content type, message digest, signing time and the ESS
// signing certificate (v1, v2) at most once with one value of their own type,
// content type and message digest present; any other attribute outside the
// PKCS #9 arc (or S/MIME capabilities) with values OpenSSL keeps as bytes, in
// DER order; the attributes themselves in the signer's order (OpenSSL's
// verifier hashes them so, whether or not that is DER's); no unsigned attributes; a SHA-1/SHA-2 digest; an RSA key with
// PKCS #1 v1.5 or an EC key with ECDSA. For those, the bytes hashed are exactly those OpenSSL
// would encode and its verifier would give the same answer. Anything else
// (RSA-PSS, other attributes, other keys) is left to the caller, which
// asks OpenSSL's CMS verifier.
#ifndef ZORBEL_CORE_SIGNED_ATTRIBUTES_SIGNATURE_H
#define ZORBEL_CORE_SIGNED_ATTRIBUTES_SIGNATURE_H

#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "x509/der.h"

namespace zorbel {

enum class SignatureVerdict { kValid, kInvalid, kNotAnswered };

// `contentInfo`: the token (DER ContentInfo holding SignedData); `md`: the
// SignerInfo's digest algorithm; `key`: the signer's public key.
[[nodiscard]] SignatureVerdict CheckSignatureFromTokenBytes(const std::vector<uint8_t>& contentInfo,
                                                            const EVP_MD* md, EVP_PKEY* key);

// The parts of the one SignerInfo the check needs, pointing into the token.
struct SignerInfoBytes {
    der::Tlv signedAttributes;    // [0] IMPLICIT SET OF Attribute
    der::Tlv signatureAlgorithm;  // AlgorithmIdentifier
    der::Tlv signature;           // OCTET STRING
};

// The same for the parts of a SignerInfo already read, the only one of its
// token, without unsigned attributes and with plain signed attributes (a
// plainly read token's).
[[nodiscard]] SignatureVerdict CheckSignatureOfSignerInfo(const SignerInfoBytes& parts, const EVP_MD* md,
                                                          EVP_PKEY* key);

// True when the signed attributes ([0] IMPLICIT SET OF Attribute) are the
// plain case above.
[[nodiscard]] bool ArePlainSignedAttributes(const der::Tlv& signedAttributes);

}  // namespace zorbel

#endif
