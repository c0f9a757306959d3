#include "core/token_reader.h"

#include "core/ber_to_der.h"
#include "core/cms_oids.h"
#include "x509/der.h"
#include "core/der_time.h"
#include "core/token_certificates.h"
#include "platform/stores/decoded_objects.h"

namespace zorbel {

namespace {

// PKIStatus granted (0) and grantedWithMods (1) carry a token.
constexpr uint32_t kGrantedWithMods = 1;

[[nodiscard]] bool ParseCms(Token& token, const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    token.cms.reset(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
    return static_cast<bool>(token.cms);
}

// The certificates taken out, decoded once per process; false when one is
// no certificate (OpenSSL would not have parsed the token either).
[[nodiscard]] bool DecodeTakenOut(const std::vector<der::Span>& certificates, Token& token) {
    token.certificates.reset(sk_X509_new_null());
    if (!token.certificates) return false;
    for (const der::Span& der : certificates) {
        X509Ptr certificate(zorbelu::stores::SharedCertificate(der.data, der.size));
        if (!certificate || !sk_X509_push(token.certificates.get(), certificate.get())) return false;
        (void)certificate.release();  // the stack holds the reference
    }
    return true;
}

// The certificates of a token parsed whole, as OpenSSL decoded them.
[[nodiscard]] bool CertificatesOfCms(Token& token) {
    token.certificates.reset(CMS_get1_certs(token.cms.get()));
    if (!token.certificates) token.certificates.reset(sk_X509_new_null());  // NULL for an empty set
    return static_cast<bool>(token.certificates);
}

[[nodiscard]] bool CheckSignedDataShape(Token& token) {
    if (OBJ_obj2nid(CMS_get0_type(token.cms.get())) != NID_pkcs7_signed) return false;
    if (OBJ_obj2nid(CMS_get0_eContentType(token.cms.get())) != NID_id_smime_ct_TSTInfo) return false;
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(token.cms.get());
    if (sk_CMS_SignerInfo_num(signers) != 1) return false;  // RFC 3161: exactly one signer
    token.signerInfo = sk_CMS_SignerInfo_value(signers, 0);
    // A token's signer always signs attributes: the ESS binding lives there.
    if (CMS_signed_get_attr_count(token.signerInfo) <= 0) return false;
    ASN1_OCTET_STRING** content = CMS_get0_content(token.cms.get());
    if (content == nullptr || *content == nullptr) return false;
    token.eContent = *content;
    return true;
}

[[nodiscard]] bool ParseSignedData(Token& token) {
    CertificatesTakenOut split;
    if (!TakeOutCertificates(token.contentInfo, split))
        return ParseCms(token, token.contentInfo) && CheckSignedDataShape(token) && CertificatesOfCms(token);
    return ParseCms(token, split.contentInfo) && DecodeTakenOut(split.certificates, token) &&
           CheckSignedDataShape(token);
}

// OpenSSL takes any bytes as a GeneralizedTime; a genTime that breaks the
// DER rules (a byte that is no digit, no "Z", a fraction with a trailing
// zero, a 30 February) makes the token unreadable, so that every text the
// record gives out is a time.
[[nodiscard]] bool HasDerGenTime(TS_TST_INFO* tstInfo) {
    const ASN1_GENERALIZEDTIME* time = TS_TST_INFO_get_time(tstInfo);
    if (time == nullptr || ASN1_STRING_type(time) != V_ASN1_GENERALIZEDTIME) return false;
    const std::string_view text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(time)),
                                static_cast<size_t>(ASN1_STRING_length(time)));
    return IsDerTime(text, DerTimeType::kGeneralizedTime);
}

[[nodiscard]] bool ParseTstInfo(Token& token) {
    std::vector<uint8_t> der;
    if (!BerToDer(token.eContent->data, static_cast<size_t>(token.eContent->length), der)) return false;
    const unsigned char* p = der.data();
    token.tstInfo.reset(d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(der.size())));
    return token.tstInfo && HasDerGenTime(token.tstInfo.get());
}

// The blob (a token, or a granted response around one; BER or DER) as a
// DER ContentInfo in token.contentInfo.
[[nodiscard]] uint32_t TakeContentInfo(const ZORBELUBlob* blob, Token& token) {
    if (blob == nullptr || blob->data == nullptr || blob->length == 0) return ZORBEL_ERR_PARAM;
    std::vector<uint8_t> der;
    if (!BerToDer(blob->data, blob->length, der)) return ZORBEL_VERIFY_STRUCTURE;
    return TokenFromResponseOrToken(der, token.contentInfo) ? ZORBEL_OK : ZORBEL_VERIFY_STRUCTURE;
}

// SignedData's optional certificate set [0].
[[nodiscard]] bool CertificateSet(const std::vector<uint8_t>& contentInfo, der::Tlv& set) {
    der::Reader rest({nullptr, 0});
    return SignedDataAfterContent({contentInfo.data(), contentInfo.size()}, rest) &&
           rest.NextIf(der::ContextConstructed(0), set);
}

}  // namespace

bool SignedDataAfterContent(der::Span contentInfo, der::Reader& rest) {
    der::Reader top(contentInfo);
    der::Tlv ci, type, explicitContent, signedData, field;
    if (!top.Expect(der::kSequence, ci)) return false;
    der::Reader inCi = der::Inside(ci);
    if (!inCi.Expect(der::kOid, type) || !inCi.Expect(der::ContextConstructed(0), explicitContent)) return false;
    der::Reader inContent = der::Inside(explicitContent);
    if (!inContent.Expect(der::kSequence, signedData)) return false;
    rest = der::Inside(signedData);
    return rest.Expect(der::kInteger, field) && rest.Expect(der::kSet, field) && rest.Expect(der::kSequence, field);
}

bool ReadSignedDataContentInfo(der::Span contentInfo, der::Tlv& type, der::Tlv& signedData) {
    der::Reader top(contentInfo);
    der::Tlv ci, explicitContent;
    if (!top.Expect(der::kSequence, ci) || !top.AtEnd()) return false;
    der::Reader inCi = der::Inside(ci);
    if (!inCi.Expect(der::kOid, type) || !der::SameBytes(type.contents, kSignedDataOid, sizeof kSignedDataOid) ||
        !inCi.Expect(der::ContextConstructed(0), explicitContent) || !inCi.AtEnd())
        return false;
    der::Reader inContent = der::Inside(explicitContent);
    return inContent.Expect(der::kSequence, signedData) && inContent.AtEnd();
}

bool ReadResponse(const std::vector<uint8_t>& der, uint32_t& status, std::vector<uint8_t>& contentInfo) {
    der::Reader top({der.data(), der.size()});
    der::Tlv outer, statusInfo, value, token;
    if (!top.Expect(der::kSequence, outer)) return false;
    der::Reader inside = der::Inside(outer);
    if (!inside.Expect(der::kSequence, statusInfo)) return false;
    der::Reader inStatus = der::Inside(statusInfo);
    if (!inStatus.Expect(der::kInteger, value) || !der::ReadUint32(value, status)) return false;
    if (inside.Expect(der::kSequence, token)) contentInfo.assign(token.whole.data, token.whole.data + token.whole.size);
    return true;
}

bool TokenFromResponseOrToken(const std::vector<uint8_t>& der, std::vector<uint8_t>& contentInfo) {
    der::Reader top({der.data(), der.size()});
    der::Tlv outer, first;
    if (!top.Expect(der::kSequence, outer)) return false;
    der::Reader inside = der::Inside(outer);
    if (!inside.Next(first)) return false;
    if (first.Is(der::kOid)) {  // a ContentInfo: the token itself
        contentInfo.assign(outer.whole.data, outer.whole.data + outer.whole.size);
        return true;
    }
    uint32_t status = 0;
    return ReadResponse(der, status, contentInfo) && status <= kGrantedWithMods && !contentInfo.empty();
}

uint32_t ReadToken(const ZORBELUBlob* blob, Token& token) {
    if (const uint32_t rc = TakeContentInfo(blob, token); rc != ZORBEL_OK) return rc;
    return ParseSignedData(token) && ParseTstInfo(token) ? ZORBEL_OK : ZORBEL_VERIFY_STRUCTURE;
}

uint32_t ReadTokenToVerify(const ZORBELUBlob* blob, Token& token) {
    if (const uint32_t rc = TakeContentInfo(blob, token); rc != ZORBEL_OK) return rc;
    PlainToken plain;
    if (!ReadPlainToken(token.contentInfo, plain))
        return ParseSignedData(token) && ParseTstInfo(token) ? ZORBEL_OK : ZORBEL_VERIFY_STRUCTURE;
    if (!DecodeTakenOut(plain.certificates, token)) return ZORBEL_VERIFY_STRUCTURE;
    token.plain = std::move(plain);
    return ZORBEL_OK;
}

bool DecodeCms(Token& token) { return ParseCms(token, token.contentInfo) && CheckSignedDataShape(token); }

bool FirstAttributeCertificate(const Token& token, std::vector<uint8_t>& tac) {
    der::Tlv set, choice;
    if (!CertificateSet(token.contentInfo, set)) return false;
    der::Reader certificates = der::Inside(set);
    while (certificates.Next(choice)) {
        // v1AttrCert [1] and v2AttrCert [2] are IMPLICIT SEQUENCEs.
        if (!choice.Is(der::ContextConstructed(1)) && !choice.Is(der::ContextConstructed(2))) continue;
        tac.assign(choice.whole.data, choice.whole.data + choice.whole.size);
        tac[0] = der::kSequence;
        return true;
    }
    return false;
}

X509StackPtr TokenCertificates(const Token& token) {
    if (!token.certificates) return X509StackPtr(sk_X509_new_null());
    return X509StackPtr(X509_chain_up_ref(token.certificates.get()));
}

}  // namespace zorbel
