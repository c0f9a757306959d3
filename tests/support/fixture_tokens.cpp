// fixture_tokens.cpp - RFC 3161 requests, responses and tokens.
#include "support/fixture_tokens.h"

#include <openssl/err.h>

#include "support/fixture_der.h"

#include <algorithm>

namespace zorbelu::fixtures::tokens {
namespace {

using namespace ossl;

const EVP_MD* const kAcceptedDigests[] = {EVP_md5(), EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()};

ASN1_INTEGER* SerialCallback(TS_RESP_CTX*, void* data) {  // must not throw through OpenSSL
    Asn1IntPtr serial(ASN1_INTEGER_new());
    if (serial && ASN1_INTEGER_set_uint64(serial.get(), *static_cast<const uint64_t*>(data)) != 1) serial.reset();
    return serial.release();
}

int TimeCallback(TS_RESP_CTX*, void* data, long* sec, long* usec) {
    *sec = static_cast<long>(*static_cast<const time_t*>(data));
    *usec = 0;
    return 1;
}

// SigningCertificate(V2) by hand, so that an ESS forgery can make hash and issuerSerial disagree.
void AddSigningCertificate(CMS_SignerInfo* si, X509* cert, bool v2, Forgery forgery) {
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashLength = 0;
    Check(X509_digest(cert, v2 ? EVP_sha256() : EVP_sha1(), hash, &hashLength), "X509_digest");
    std::string certHash(reinterpret_cast<char*>(hash), hashLength);
    if (forgery == Forgery::EssWrongHash) certHash.back() ^= 0x01;
    const X509_NAME* issuer =
        forgery == Forgery::EssOtherIssuer ? X509_get_subject_name(cert) : X509_get_issuer_name(cert);
    std::string serial = ToDer(i2d_ASN1_INTEGER, X509_get0_serialNumber(cert), "i2d_ASN1_INTEGER");
    if (forgery == Forgery::EssOtherSerial) serial.back() ^= 0x01;
    const std::string directoryName = der::Encode(0xA4, ToDer(i2d_X509_NAME, issuer, "i2d_X509_NAME"));
    const std::string issuerSerial = der::Encode(0x30, der::Encode(0x30, directoryName) + serial);
    const std::string certId = der::Encode(0x30, der::Encode(0x04, certHash) + issuerSerial);
    const std::string value = der::Encode(0x30, der::Encode(0x30, certId));
    const int nid = v2 ? NID_id_smime_aa_signingCertificateV2 : NID_id_smime_aa_signingCertificate;
    Check(CMS_signed_add1_attr_by_NID(si, nid, V_ASN1_SEQUENCE, value.data(), static_cast<int>(value.size())),
          "CMS_signed_add1_attr_by_NID");
}

// CMS_final writes the eContentType as content type: it is replaced and the attributes signed again.
void SignAgainWithDataContentType(CMS_SignerInfo* si, EVP_PKEY* key) {
    const int index = CMS_signed_get_attr_by_NID(si, NID_pkcs9_contentType, -1);
    if (index < 0) Fail("no content-type attribute");
    X509_ATTRIBUTE_free(CMS_signed_delete_attr(si, index));
    Check(CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data), -1),
          "content-type attribute");
    std::vector<std::string> attributes;  // DER SET OF: encodings in sorted order
    for (int i = 0; i < CMS_signed_get_attr_count(si); ++i)
        attributes.push_back(
            ToDer(i2d_X509_ATTRIBUTE, static_cast<const X509_ATTRIBUTE*>(CMS_signed_get_attr(si, i)), "attribute"));
    std::sort(attributes.begin(), attributes.end());
    std::string signedAttributes;
    for (const std::string& a : attributes) signedAttributes += a;
    signedAttributes = der::Encode(0x31, signedAttributes);
    const std::string signature = Sign(key, EVP_sha256(), signedAttributes);
    Check(ASN1_STRING_set(CMS_SignerInfo_get0_signature(si), signature.data(), static_cast<int>(signature.size())),
          "signature");
}

// 80 nested SEQUENCEs around an INTEGER: deeper than any reader should follow.
void AddDeepAttribute(CMS_SignerInfo* si) {
    std::string value = "\x02\x01\x01";
    for (int level = 0; level < 80; ++level) value = der::Encode(0x30, value);
    Asn1ObjPtr type(Check(OBJ_txt2obj("1.3.6.1.4.1.55555.7.99", 1), "OBJ_txt2obj"));
    Check(CMS_unsigned_add1_attr_by_OBJ(si, type.get(), V_ASN1_SEQUENCE, value.data(), static_cast<int>(value.size())),
          "CMS_unsigned_add1_attr_by_OBJ");
}

// Flips the last bit of the TSTInfo's serialNumber inside eContent.
void FlipContentSerialBit(std::string& token) {
    const der::Element encapsulated = der::SignedDataFields(token).at(2);
    const der::Element explicitContent = der::Children(token, encapsulated).at(1);
    const der::Element octets = der::Children(token, explicitContent).at(0);
    const der::Element tstInfo = der::Read(token, octets.contentStart(), octets.end());
    const der::Element serial = der::Children(token, tstInfo).at(3);
    token[serial.end() - 1] ^= 0x01;
}

// Reorders the certificate set [0] so that `signer` comes last.
void MoveSignerLast(std::string& token, X509* signer) {
    const std::string signerDer = ToDer(i2d_X509, static_cast<const X509*>(signer), "i2d_X509");
    const der::Element set = der::SignedDataFields(token).at(3);
    if (set.tag != 0xA0) Fail("no certificate set to reorder");
    std::string others, last;
    for (const der::Element& c : der::Children(token, set)) {
        const std::string bytes = token.substr(c.start, c.end() - c.start);
        (bytes == signerDer ? last : others) += bytes;
    }
    if (last.empty() || others.empty()) Fail("the certificate set holds no other certificate");
    token.replace(set.contentStart(), set.length, others + last);
}

}  // namespace

std::string BuildRequest(const EVP_MD* md, const std::string& digest, bool certReq, uint64_t nonce) {
    TsReqPtr req(Check(TS_REQ_new(), "TS_REQ_new"));
    Check(TS_REQ_set_version(req.get(), 1), "TS_REQ_set_version");
    X509AlgorPtr alg(Check(X509_ALGOR_new(), "X509_ALGOR_new"));
    Check(X509_ALGOR_set0(alg.get(), OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr), "X509_ALGOR_set0");
    TsMsgImprintPtr imprint(Check(TS_MSG_IMPRINT_new(), "TS_MSG_IMPRINT_new"));
    Check(TS_MSG_IMPRINT_set_algo(imprint.get(), alg.get()), "TS_MSG_IMPRINT_set_algo");
    Check(TS_MSG_IMPRINT_set_msg(imprint.get(),
                                 reinterpret_cast<unsigned char*>(const_cast<char*>(digest.data())),
                                 static_cast<int>(digest.size())),
          "TS_MSG_IMPRINT_set_msg");
    Check(TS_REQ_set_msg_imprint(req.get(), imprint.get()), "TS_REQ_set_msg_imprint");
    if (nonce != 0) Check(TS_REQ_set_nonce(req.get(), Integer(nonce).get()), "TS_REQ_set_nonce");
    Check(TS_REQ_set_cert_req(req.get(), certReq ? 1 : 0), "TS_REQ_set_cert_req");
    return ToDer(i2d_TS_REQ, static_cast<const TS_REQ*>(req.get()), "i2d_TS_REQ");
}

bool ResponderAccepts(X509* cert) { return X509_check_purpose(cert, X509_PURPOSE_TIMESTAMP_SIGN, 0) == 1; }

std::string Respond(const Signer& signer, const std::string& requestDer, const Issuance& issuance) {
    TsRespCtxPtr ctx(Check(TS_RESP_CTX_new(), "TS_RESP_CTX_new"));
    Check(TS_RESP_CTX_set_signer_cert(ctx.get(), signer.cert), "TS_RESP_CTX_set_signer_cert");
    Check(TS_RESP_CTX_set_signer_key(ctx.get(), signer.key), "TS_RESP_CTX_set_signer_key");
    Check(TS_RESP_CTX_set_signer_digest(ctx.get(), EVP_sha256()), "TS_RESP_CTX_set_signer_digest");
    if (!signer.extraCerts.empty()) {
        X509StackPtr extra(Check(sk_X509_new_null(), "sk_X509_new_null"));
        for (X509* c : signer.extraCerts) Check(X509_add_cert(extra.get(), c, X509_ADD_FLAG_UP_REF), "X509_add_cert");
        Check(TS_RESP_CTX_set_certs(ctx.get(), extra.get()), "TS_RESP_CTX_set_certs");
    }
    Asn1ObjPtr policy(Check(OBJ_txt2obj(kPolicyOid, 1), "OBJ_txt2obj"));
    Check(TS_RESP_CTX_set_def_policy(ctx.get(), policy.get()), "TS_RESP_CTX_set_def_policy");
    for (const EVP_MD* md : kAcceptedDigests) Check(TS_RESP_CTX_add_md(ctx.get(), md), "TS_RESP_CTX_add_md");
    Check(TS_RESP_CTX_set_accuracy(ctx.get(), 1, 0, 0), "TS_RESP_CTX_set_accuracy");
    TS_RESP_CTX_add_flags(ctx.get(), TS_TSA_NAME);
    if (issuance.essV2) Check(TS_RESP_CTX_set_ess_cert_id_digest(ctx.get(), EVP_sha256()), "ess digest");
    uint64_t serial = issuance.serial;
    time_t genTime = issuance.genTime;
    TS_RESP_CTX_set_serial_cb(ctx.get(), SerialCallback, &serial);
    TS_RESP_CTX_set_time_cb(ctx.get(), TimeCallback, &genTime);

    BioPtr in(Check(BIO_new_mem_buf(requestDer.data(), static_cast<int>(requestDer.size())), "BIO_new_mem_buf"));
    TsRespPtr resp(Check(TS_RESP_create_response(ctx.get(), in.get()), "TS_RESP_create_response"));
    // A rejected request leaves its reason on the error queue too; the response carries it, so the queue is cleared.
    ERR_clear_error();
    return ToDer(i2d_TS_RESP, static_cast<const TS_RESP*>(resp.get()), "i2d_TS_RESP");
}

std::string TokenOfResponse(const std::string& responseDer) {
    auto* p = reinterpret_cast<const unsigned char*>(responseDer.data());
    TsRespPtr resp(Check(d2i_TS_RESP(nullptr, &p, static_cast<long>(responseDer.size())), "d2i_TS_RESP"));
    const ASN1_INTEGER* status = TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(resp.get()));
    PKCS7* token = TS_RESP_get_token(resp.get());
    if (ASN1_INTEGER_get(status) != TS_STATUS_GRANTED || token == nullptr) Fail("time-stamp request not granted");
    return ToDer(i2d_PKCS7, static_cast<const PKCS7*>(token), "i2d_PKCS7");
}

std::string SignWithCms(const Signer& signer, const std::string& requestDer, const Issuance& issuance) {
    auto* der = reinterpret_cast<const unsigned char*>(requestDer.data());
    TsReqPtr req(Check(d2i_TS_REQ(nullptr, &der, static_cast<long>(requestDer.size())), "d2i_TS_REQ"));

    TstInfoPtr info(Check(TS_TST_INFO_new(), "TS_TST_INFO_new"));
    Check(TS_TST_INFO_set_version(info.get(), 1), "TS_TST_INFO_set_version");
    Asn1ObjPtr policy(Check(OBJ_txt2obj(kPolicyOid, 1), "OBJ_txt2obj"));
    Check(TS_TST_INFO_set_policy_id(info.get(), policy.get()), "TS_TST_INFO_set_policy_id");
    Check(TS_TST_INFO_set_msg_imprint(info.get(), TS_REQ_get_msg_imprint(req.get())), "set_msg_imprint");
    Check(TS_TST_INFO_set_serial(info.get(), Integer(issuance.serial).get()), "TS_TST_INFO_set_serial");
    Asn1GeneralizedTimePtr genTime(Check(ASN1_GENERALIZEDTIME_set(nullptr, issuance.genTime), "genTime"));
    if (issuance.forgery == Forgery::GenTimeText)
        Check(ASN1_STRING_set(genTime.get(), issuance.genTimeText.data(),
                              static_cast<int>(issuance.genTimeText.size())),
              "ASN1_STRING_set");
    Check(TS_TST_INFO_set_time(info.get(), genTime.get()), "TS_TST_INFO_set_time");
    Ptr<TS_ACCURACY, TS_ACCURACY_free> accuracy(Check(TS_ACCURACY_new(), "TS_ACCURACY_new"));
    Check(TS_ACCURACY_set_seconds(accuracy.get(), Integer(1).get()), "TS_ACCURACY_set_seconds");
    Check(TS_TST_INFO_set_accuracy(info.get(), accuracy.get()), "TS_TST_INFO_set_accuracy");
    if (const ASN1_INTEGER* nonce = TS_REQ_get_nonce(req.get()))
        Check(TS_TST_INFO_set_nonce(info.get(), nonce), "TS_TST_INFO_set_nonce");
    Ptr<GENERAL_NAME, GENERAL_NAME_free> tsa(Check(GENERAL_NAME_new(), "GENERAL_NAME_new"));
    X509_NAME* subject = Check(X509_NAME_dup(X509_get_subject_name(signer.cert)), "X509_NAME_dup");
    GENERAL_NAME_set0_value(tsa.get(), GEN_DIRNAME, subject);
    Check(TS_TST_INFO_set_tsa(info.get(), tsa.get()), "TS_TST_INFO_set_tsa");
    const std::string content = ToDer(i2d_TS_TST_INFO, static_cast<const TS_TST_INFO*>(info.get()), "i2d_TS_TST_INFO");

    const bool certReq = TS_REQ_get_cert_req(req.get()) != 0;
    const unsigned int flags = CMS_BINARY | CMS_PARTIAL;
    CmsPtr cms(Check(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags), "CMS_sign"));
    Check(CMS_set1_eContentType(cms.get(), OBJ_nid2obj(NID_id_smime_ct_TSTInfo)), "CMS_set1_eContentType");
    CMS_SignerInfo* si = Check(CMS_add1_signer(cms.get(), signer.cert, signer.key, EVP_sha256(),
                                               flags | CMS_NOSMIMECAP | (certReq ? 0u : CMS_NOCERTS)),
                               "CMS_add1_signer");
    const Forgery forgery = issuance.forgery;
    if (forgery != Forgery::NoEss) AddSigningCertificate(si, signer.cert, issuance.essV2, forgery);
    if (forgery == Forgery::TwoSigners)
        Check(CMS_add1_signer(cms.get(), signer.cert, signer.key, EVP_sha256(), flags | CMS_NOSMIMECAP | CMS_NOCERTS),
              "second signer");
    if (certReq)
        for (X509* c : signer.extraCerts) Check(CMS_add1_cert(cms.get(), c), "CMS_add1_cert");
    BioPtr in(Check(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())), "BIO_new_mem_buf"));
    Check(CMS_final(cms.get(), in.get(), nullptr, CMS_BINARY), "CMS_final");
    if (forgery == Forgery::ContentTypeData) SignAgainWithDataContentType(si, signer.key);
    if (forgery == Forgery::DeepAttribute) AddDeepAttribute(si);
    std::string token = ToDer(i2d_CMS_ContentInfo, static_cast<const CMS_ContentInfo*>(cms.get()), "i2d_CMS");
    if (forgery == Forgery::ContentAfterSigning) FlipContentSerialBit(token);
    if (forgery == Forgery::SignerLastInBag) MoveSignerLast(token, signer.cert);
    if (forgery == Forgery::RejectedWithToken)  // TimeStampResp { status { rejection }, token }
        token = der::Encode(0x30, der::Encode(0x30, std::string("\x02\x01\x02", 3)) + token);
    return token;
}

}  // namespace zorbelu::fixtures::tokens
