// Reading a time-stamp token: the caller's bytes (a TimeStampToken, or a
// granted TimeStampResp) become a DER ContentInfo, the CMS SignedData and
// the TSTInfo, checked for the shape RFC 3161 gives them.
#ifndef ZORBEL_CORE_TOKEN_READER_H
#define ZORBEL_CORE_TOKEN_READER_H

#include <cstdint>
#include <optional>
#include <vector>

#include "core/plain_token.h"
#include "x509/der.h"
#include "x509/ossl_ptr.h"
#include "zorbel.h"

namespace zorbel {

struct Token {
    std::vector<uint8_t> contentInfo;  // the token as DER
    CmsPtr cms;                        // parsed without its X.509 certificates, as a rule
    X509StackPtr certificates;         // those, shared decodes: read them, never change them
    TstInfoPtr tstInfo;
    CMS_SignerInfo* signerInfo = nullptr;        // the only SignerInfo; owned by cms
    const ASN1_OCTET_STRING* eContent = nullptr; // the TSTInfo octets as signed; owned by cms
    // Read for verification without OpenSSL's decoders (plain_token.h):
    // cms, tstInfo, signerInfo and eContent are then NULL.
    std::optional<PlainToken> plain;
};

// 1 when read; 1001 for an unusable blob; 2001 when it is no token.
[[nodiscard]] uint32_t ReadToken(const ZORBELUBlob* blob, Token& token);

// The same answers, for verification only: a plain token is read without
// OpenSSL's decoders.
[[nodiscard]] uint32_t ReadTokenToVerify(const ZORBELUBlob* blob, Token& token);

// Parses the ContentInfo of a token read plainly with OpenSSL, for OpenSSL's
// CMS verifier; false when it cannot.
[[nodiscard]] bool DecodeCms(Token& token);

// ContentInfo { contentType, [0] SignedData { version, digestAlgorithms,
// encapContentInfo, ... } }: `rest` is left on the SignedData fields after
// encapContentInfo (the certificate set [0], the CRLs [1], signerInfos).
[[nodiscard]] bool SignedDataAfterContent(der::Span contentInfo, der::Reader& rest);

// ContentInfo { id-signedData, [0] EXPLICIT SignedData }, exactly so and
// with nothing after either: its contentType and its SignedData.
[[nodiscard]] bool ReadSignedDataContentInfo(der::Span contentInfo, der::Tlv& type, der::Tlv& signedData);

// Reads a DER TimeStampResp: its PKIStatus and, when present, its token.
// False when it is no TimeStampResp.
[[nodiscard]] bool ReadResponse(const std::vector<uint8_t>& der, uint32_t& status, std::vector<uint8_t>& contentInfo);

// Finds the ContentInfo inside a DER TimeStampResp or takes the DER as a
// ContentInfo. False for a response whose status is not granted.
[[nodiscard]] bool TokenFromResponseOrToken(const std::vector<uint8_t>& der, std::vector<uint8_t>& contentInfo);

// The first attribute certificate ([1] or [2]) of the SignedData
// certificate set, re-tagged as a SEQUENCE. False when there is none.
[[nodiscard]] bool FirstAttributeCertificate(const Token& token, std::vector<uint8_t>& tac);

// The certificates (X.509 only) the token carries, in set order, as new
// references; never NULL unless memory ran out.
X509StackPtr TokenCertificates(const Token& token);

}  // namespace zorbel

#endif
