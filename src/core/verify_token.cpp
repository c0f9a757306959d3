// ZORBELVerifyTimeStampToken(Ex): the checks in their fixed order, the
// first failure being the result.
#include <openssl/err.h>

#include <cstring>

#include "core/boundary.h"
#include "core/chain_check.h"
#include "core/cms_oids.h"
#include "core/digest_algorithms.h"
#include "core/ess.h"
#include "core/signed_attributes_signature.h"
#include "core/signer_certificate.h"
#include "core/token_handle.h"
#include "core/token_reader.h"

namespace zorbel {

namespace {

// The caller's digest, checked and with its algorithm decoded.
struct ExpectedImprint {
    Asn1ObjPtr algorithm;
    const uint8_t* value = nullptr;
    size_t length = 0;
};

[[nodiscard]] bool ReadExpectedImprint(const char* oidField, size_t oidCapacity, const uint8_t* digest,
                                       uint32_t length, size_t capacity, ExpectedImprint& out) {
    if (std::memchr(oidField, '\0', oidCapacity) == nullptr || oidField[0] == '\0') return false;
    if (length == 0 || length > capacity) return false;
    out.algorithm.reset(OBJ_txt2obj(oidField, 1));
    out.value = digest;
    out.length = length;
    return static_cast<bool>(out.algorithm);
}

// The signer by its identifier: in the token, else among the store's CA
// certificates (a TSA that leaves its certificate out of the token).
X509* FindByIdentifier(const Token& token, STACK_OF(X509) * candidates) {
    if (!token.plain) return FindBySignerIdentifier(token.signerInfo, candidates);
    for (int i = 0; i < sk_X509_num(candidates); ++i)
        if (PlainSignerIs(*token.plain, sk_X509_value(candidates, i))) return sk_X509_value(candidates, i);
    return nullptr;
}

X509* FindSigner(const Token& token, STACK_OF(X509) * tokenCerts, STACK_OF(X509) * storeCerts) {
    if (X509* signer = FindByIdentifier(token, tokenCerts)) return signer;
    return FindByIdentifier(token, storeCerts);
}

template <typename T>
const T* SignedAttribute(CMS_SignerInfo* signerInfo, int nid, int type) {
    return static_cast<const T*>(CMS_signed_get0_data_by_OBJ(signerInfo, OBJ_nid2obj(nid), -3, type));
}

// contentType must name the TSTInfo and messageDigest must be the hash of
// the content as signed.
uint32_t CheckPlainSignedAttributes(const PlainToken& token, const EVP_MD* md) {
    der::Tlv contentType, messageDigest;
    if (!PlainAttributeValue(token, kContentTypeOid, sizeof kContentTypeOid, contentType) ||
        !SameBytes(contentType.contents, kTstInfoOid, sizeof kTstInfoOid))
        return ZORBEL_VERIFY_SIGNATURE;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(token.eContent.data, token.eContent.size, digest, &length, md, nullptr))
        return ZORBEL_VERIFY_UNSUPPORTED;
    if (!PlainAttributeValue(token, kMessageDigestOid, sizeof kMessageDigestOid, messageDigest) ||
        !SameBytes(messageDigest.contents, digest, length))
        return ZORBEL_VERIFY_SIGNATURE;
    return ZORBEL_OK;
}

uint32_t CheckSignedAttributes(const Token& token, const EVP_MD* md) {
    if (token.plain) return CheckPlainSignedAttributes(*token.plain, md);
    const auto* contentType = SignedAttribute<ASN1_OBJECT>(token.signerInfo, NID_pkcs9_contentType, V_ASN1_OBJECT);
    if (contentType == nullptr || OBJ_obj2nid(contentType) != NID_id_smime_ct_TSTInfo) return ZORBEL_VERIFY_SIGNATURE;
    const auto* messageDigest =
        SignedAttribute<ASN1_OCTET_STRING>(token.signerInfo, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(token.eContent->data, static_cast<size_t>(token.eContent->length), digest, &length, md, nullptr))
        return ZORBEL_VERIFY_UNSUPPORTED;
    if (messageDigest == nullptr || static_cast<unsigned int>(messageDigest->length) != length ||
        std::memcmp(messageDigest->data, digest, length) != 0)
        return ZORBEL_VERIFY_SIGNATURE;
    return ZORBEL_OK;
}

const EVP_MD* SignerDigest(const Token& token) {
    if (token.plain) return DigestForOid(OBJ_nid2obj(token.plain->digestNid));
    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(token.signerInfo, nullptr, nullptr, &digestAlgorithm, nullptr);
    const ASN1_OBJECT* digestOid = nullptr;
    X509_ALGOR_get0(&digestOid, nullptr, nullptr, digestAlgorithm);
    return DigestForOid(digestOid);
}

uint32_t CheckSignature(Token& token, X509* signer) {
    const EVP_MD* md = SignerDigest(token);
    if (md == nullptr) return ZORBEL_VERIFY_UNSUPPORTED;
    if (const uint32_t rc = CheckSignedAttributes(token, md); rc != ZORBEL_OK) return rc;
    EVP_PKEY* key = X509_get0_pubkey(signer);
    // A plainly read token has its SignerInfo read already.
    const SignatureVerdict verdict = token.plain ? CheckSignatureOfSignerInfo(token.plain->signer, md, key)
                                                 : CheckSignatureFromTokenBytes(token.contentInfo, md, key);
    switch (verdict) {
    case SignatureVerdict::kValid:
        return ZORBEL_OK;
    case SignatureVerdict::kInvalid:
        return ZORBEL_VERIFY_SIGNATURE;
    case SignatureVerdict::kNotAnswered:
        break;  // not the plain case: OpenSSL's CMS verifier decides
    }
    if (token.plain && !DecodeCms(token)) return ZORBEL_VERIFY_STRUCTURE;  // read plainly, it always decodes
    CMS_SignerInfo_set1_signer_cert(token.signerInfo, signer);
    return CMS_SignerInfo_verify(token.signerInfo) == 1 ? ZORBEL_OK : ZORBEL_VERIFY_SIGNATURE;
}

uint32_t CheckPlainImprint(const PlainToken& token, const ExpectedImprint& expected) {
    const ASN1_OBJECT* algorithm = expected.algorithm.get();
    if (!SameBytes(token.imprintAlgorithm, OBJ_get0_data(algorithm), OBJ_length(algorithm)))
        return ZORBEL_VERIFY_IMPRINT_ALGORITHM;
    if (!SameBytes(token.imprintValue, expected.value, expected.length)) return ZORBEL_VERIFY_IMPRINT_VALUE;
    return ZORBEL_OK;
}

uint32_t CheckImprint(const Token& token, const ExpectedImprint& expected) {
    if (token.plain) return CheckPlainImprint(*token.plain, expected);
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(token.tstInfo.get());
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    if (algorithm == nullptr || OBJ_cmp(algorithm, expected.algorithm.get()) != 0)
        return ZORBEL_VERIFY_IMPRINT_ALGORITHM;
    const ASN1_OCTET_STRING* value = TS_MSG_IMPRINT_get_msg(imprint);
    if (static_cast<size_t>(value->length) != expected.length ||
        std::memcmp(value->data, expected.value, expected.length) != 0)
        return ZORBEL_VERIFY_IMPRINT_VALUE;
    return ZORBEL_OK;
}

uint32_t VerifyToken(Token& token, const ExpectedImprint& expected, const ZORBELCertStore* store) {
    X509StackPtr tokenCerts = TokenCertificates(token);
    X509StackPtr storeCerts(sk_X509_new_null());
    if (!tokenCerts || !storeCerts) return ZORBEL_ERR_MEMORY;
    if (store != nullptr && !StoreCertificates(store, storeCerts.get())) return ZORBEL_VERIFY_BAD_STORE_ENTRY;
    X509* signer = FindSigner(token, tokenCerts.get(), storeCerts.get());
    if (signer == nullptr) return ZORBEL_VERIFY_NO_SIGNER_CERT;
    if (const uint32_t rc = CheckSignature(token, signer); rc != ZORBEL_OK) return rc;
    const EssBinding binding = token.plain ? ReadEssBinding(*token.plain) : ReadEssBinding(token.signerInfo);
    if (!EssBindsTo(binding, signer)) return ZORBEL_VERIFY_ESS_BINDING;
    if (const uint32_t rc = CheckImprint(token, expected); rc != ZORBEL_OK) return rc;
    if (!HasTimeStampingUsageOnly(signer)) return ZORBEL_VERIFY_CERT_INVALID;
    if (store == nullptr) return ZORBEL_OK;  // integrity only
    return CheckTsaCertificate(signer, tokenCerts.get(), store);
}

uint32_t VerifyToken(const ZORBELUBlob* blob, const ExpectedImprint& expected, const ZORBELCertStore* store) {
    Token token;
    if (const uint32_t rc = ReadTokenToVerify(blob, token); rc != ZORBEL_OK) return rc;
    return VerifyToken(token, expected, store);
}

// `token`: a blob, or a token read already. Arguments are checked before the
// token is read.
template <typename TokenOrBlob, typename Digest>
uint32_t VerifyExport(TokenOrBlob& token, const Digest* digest, const ZORBELCertStore* store) {
    const uint32_t result = Guarded([&]() -> uint32_t {
        if (digest == nullptr) return ZORBEL_ERR_PARAM;
        if (store != nullptr && store->size != ZORBEL_CERT_STORE_MARK) return ZORBEL_ERR_PARAM;
        ExpectedImprint expected;
        if (!ReadExpectedImprint(digest->algorithmOid, sizeof digest->algorithmOid, digest->digest,
                                 digest->digestLength, sizeof digest->digest, expected))
            return ZORBEL_ERR_PARAM;
        return VerifyToken(token, expected, store);
    });
    ERR_clear_error();  // leave the caller's thread without our OpenSSL errors
    return result;
}

template <typename Digest>
uint32_t VerifyBlobExport(const ZORBELUBlob* token, const Digest* digest, const void* reserved,
                          const ZORBELCertStore* store) {
    if (!IsUsableBlob(token) || reserved != nullptr) return ZORBEL_ERR_PARAM;
    return VerifyExport(token, digest, store);
}

template <typename Digest>
uint32_t VerifyReadTokenExport(ZORBELPRVToken* token, const Digest* digest, const ZORBELCertStore* store) {
    if (token == nullptr) return ZORBEL_ERR_PARAM;
    return VerifyExport(token->token, digest, store);
}

}  // namespace

}  // namespace zorbel

extern "C" {

ZORBEL_API uint32_t ZORBELVerifyTimeStampToken(const ZORBELUBlob* token, const ZORBELUDigestInfo* digest,
                                               const void* reserved, const ZORBELCertStore* store) {
    return zorbel::VerifyBlobExport(token, digest, reserved, store);
}

ZORBEL_API uint32_t ZORBELVerifyTimeStampTokenEx(const ZORBELUBlob* token, const ZORBELUDigestInfoEx* digest,
                                                 const void* reserved, const ZORBELCertStore* store) {
    return zorbel::VerifyBlobExport(token, digest, reserved, store);
}

ZORBEL_API uint32_t ZORBELPRVVerifyToken(ZORBELPRVToken* token, const ZORBELUDigestInfo* digest,
                                         const ZORBELCertStore* store) {
    return zorbel::VerifyReadTokenExport(token, digest, store);
}

ZORBEL_API uint32_t ZORBELPRVVerifyTokenEx(ZORBELPRVToken* token, const ZORBELUDigestInfoEx* digest,
                                           const ZORBELCertStore* store) {
    return zorbel::VerifyReadTokenExport(token, digest, store);
}

}  // extern "C"
