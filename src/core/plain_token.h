// A token read by the bounded DER reader alone. OpenSSL's CMS and TSTInfo
// decoders build a few hundred small objects per token (algorithm
// identifiers, attributes, names with their canonical forms), which costs
// more than half of the signature check itself; the integrity check needs a
// handful of fields.
//
// Only a plain token is read so: DER throughout, every field OpenSSL would
// decode in a form its decoders always accept (non-negative minimal
// INTEGERs, well-formed OIDs, absent or NULL algorithm parameters, DER
// times, names of printable ASCII text), one SignerInfo whose signed
// attributes are the plain case of signed_attributes_signature.h, a SHA-1 or
// SHA-2 digest, no CRLs, no unsigned attributes, only X.509 certificates, a
// TSTInfo with no extensions and a TSA name, if any, that is a plain
// directory name. Reading such a token with OpenSSL would succeed and give
// the same fields; any other token is read by OpenSSL as before.
#ifndef ZORBEL_CORE_PLAIN_TOKEN_H
#define ZORBEL_CORE_PLAIN_TOKEN_H

#include <openssl/x509.h>

#include <cstdint>
#include <vector>

#include "core/signed_attributes_signature.h"
#include "x509/der.h"

namespace zorbel {

// Spans into the ContentInfo read.
struct PlainToken {
    std::vector<der::Span> certificates;  // the X.509 certificates in set order
    der::Span eContent;                   // the TSTInfo octets as signed
    int digestNid = 0;                    // the SignerInfo's digestAlgorithm
    der::Tlv sid;                         // IssuerAndSerialNumber, or [0] subjectKeyIdentifier
    SignerInfoBytes signer;               // signed attributes, signature algorithm, signature
    der::Span imprintAlgorithm;           // the TSTInfo's messageImprint: OID contents
    der::Span imprintValue;               //   and hashedMessage
};

// False when `contentInfo` (DER) is not a plain token.
[[nodiscard]] bool ReadPlainToken(const std::vector<uint8_t>& contentInfo, PlainToken& out);

// The one value of the signed attribute whose OID has these contents; false
// when it is absent.
[[nodiscard]] bool PlainAttributeValue(const PlainToken& token, const uint8_t* oid, size_t oidSize,
                                       der::Tlv& value);

// True when the SignerInfo's identifier names `certificate`, as
// CMS_SignerInfo_cert_cmp would find.
[[nodiscard]] bool PlainSignerIs(const PlainToken& token, X509* certificate);

}  // namespace zorbel

#endif
