// ZORBELCreateTimeStampTokenEx: a token signed here, with the caller's TSA
// key and certificate, through OpenSSL's TS responder.
#include <cstring>

#include "core/boundary.h"
#include "core/certificate_set.h"
#include "core/clock.h"
#include "core/digest_algorithms.h"
#include "core/pem_or_der.h"
#include "core/timestamp_request.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

constexpr const char* kOfferedDigests[] = {"sha1", "md5", "sha256", "sha384", "sha512"};

struct SignerMaterial {
    PkeyPtr key;
    X509Ptr certificate;
    X509StackPtr extra;
};

int TimeNow(TS_RESP_CTX*, void*, long* seconds, long* micros) {
    *seconds = static_cast<long>(Now());
    *micros = 0;
    return 1;
}

ASN1_INTEGER* NextSerial(TS_RESP_CTX*, void* data) {
    const uint64_t fixed = *static_cast<const uint64_t*>(data);
    if (fixed == 0) return RandomPositiveInteger().release();
    Asn1IntPtr serial(ASN1_INTEGER_new());
    if (!serial || !ASN1_INTEGER_set_uint64(serial.get(), fixed)) return nullptr;
    return serial.release();
}

[[nodiscard]] uint32_t LoadSigner(const ZORBELTSASigner& signer, SignerMaterial& material) {
    material.key = DecodePrivateKey(signer.privateKey, signer.privateKeyLength);
    material.certificate = DecodeCertificate(signer.certificate, signer.certificateLength);
    material.extra.reset(sk_X509_new_null());
    if (!material.extra) return ZORBEL_ERR_MEMORY;
    if (!material.key || !material.certificate) return ZORBEL_ERR_TSA_SIGNER;
    if (signer.extraCertificates != nullptr &&
        !DecodeCertificates(signer.extraCertificates, signer.extraCertificatesLength, material.extra.get()))
        return ZORBEL_ERR_TSA_SIGNER;
    return X509_check_private_key(material.certificate.get(), material.key.get()) == 1 ? ZORBEL_OK
                                                                                        : ZORBEL_ERR_TSA_SIGNER;
}

[[nodiscard]] bool SetPolicies(TS_RESP_CTX* ctx, const ZORBELTSASigner& signer, const ZORBELTimeStampRequest& request) {
    const char* fallback = signer.defaultPolicyOid[0] != '\0' ? signer.defaultPolicyOid : request.policyOid;
    Asn1ObjPtr policy(OBJ_txt2obj(fallback, 1));
    if (!policy || !TS_RESP_CTX_set_def_policy(ctx, policy.get())) return false;
    if (request.policyOid[0] == '\0') return true;
    Asn1ObjPtr requested(OBJ_txt2obj(request.policyOid, 1));  // a local TSA signs under what it is asked
    return requested && TS_RESP_CTX_add_policy(ctx, requested.get());
}

[[nodiscard]] bool SetDigests(TS_RESP_CTX* ctx, const ZORBELTSASigner& signer) {
    for (const char* name : kOfferedDigests)
        if (!TS_RESP_CTX_add_md(ctx, EVP_get_digestbyname(name))) return false;
    const EVP_MD* signerMd = DigestForCode(signer.signerDigest == 0 ? ZORBEL_HASH_SHA256 : signer.signerDigest);
    const uint32_t essCode = signer.essCertIdDigest == 0 ? ZORBEL_HASH_SHA1 : signer.essCertIdDigest;
    const EVP_MD* essMd = essCode == ZORBEL_HASH_MD5 ? nullptr : DigestForCode(essCode);
    return signerMd != nullptr && essMd != nullptr && TS_RESP_CTX_set_signer_digest(ctx, signerMd) &&
           TS_RESP_CTX_set_ess_cert_id_digest(ctx, essMd);
}

[[nodiscard]] bool SetTokenFields(TS_RESP_CTX* ctx, const ZORBELTSASigner& signer) {
    if ((signer.accuracySeconds | signer.accuracyMillis | signer.accuracyMicros) != 0 &&
        !TS_RESP_CTX_set_accuracy(ctx, static_cast<int>(signer.accuracySeconds),
                                  static_cast<int>(signer.accuracyMillis), static_cast<int>(signer.accuracyMicros)))
        return false;
    if (signer.ordering == 1) TS_RESP_CTX_add_flags(ctx, TS_ORDERING);
    return true;
}

// The responder context; its own checks (critical timeStamping usage)
// decide whether the certificate may sign at all.
[[nodiscard]] uint32_t MakeContext(const ZORBELTSASigner& signer, const ZORBELTimeStampRequest& request,
                                   SignerMaterial& material, TsRespCtxPtr& ctx) {
    ctx.reset(TS_RESP_CTX_new());
    if (!ctx) return ZORBEL_ERR_MEMORY;
    if (!TS_RESP_CTX_set_signer_cert(ctx.get(), material.certificate.get()) ||
        !TS_RESP_CTX_set_signer_key(ctx.get(), material.key.get()))
        return ZORBEL_ERR_TSA_SIGNER;
    if (!TS_RESP_CTX_set_certs(ctx.get(), material.extra.get())) return ZORBEL_ERR_MEMORY;
    if (!SetPolicies(ctx.get(), signer, request) || !SetDigests(ctx.get(), signer) || !SetTokenFields(ctx.get(), signer))
        return ZORBEL_ERR_PARAM;
    TS_RESP_CTX_set_time_cb(ctx.get(), TimeNow, nullptr);
    TS_RESP_CTX_set_serial_cb(ctx.get(), NextSerial, const_cast<uint64_t*>(&signer.serialNumber));
    return ZORBEL_OK;
}

template <typename T, int (*I2d)(const T*, unsigned char**)>
[[nodiscard]] bool Encode(const T* object, std::vector<uint8_t>& out) {
    unsigned char* der = nullptr;
    const int size = I2d(object, &der);
    const OpenSslBytesPtr owned(der);
    if (size <= 0) return false;
    out.assign(der, der + size);
    return true;
}

[[nodiscard]] uint32_t Respond(TS_RESP_CTX* ctx, const ZORBELTimeStampRequest& request, TsRespPtr& response) {
    TsReqPtr req;
    Asn1IntPtr nonce;
    if (const uint32_t rc = BuildRequest(request, req, nonce); rc != ZORBEL_OK) return rc;
    std::vector<uint8_t> der;
    if (!Encode<TS_REQ, i2d_TS_REQ>(req.get(), der)) return ZORBEL_ERR_MEMORY;
    BioPtr bio(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
    if (!bio) return ZORBEL_ERR_MEMORY;
    response.reset(TS_RESP_create_response(ctx, bio.get()));
    if (!response) return ZORBEL_ERR_MEMORY;
    const long status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get())));
    return status == TS_STATUS_GRANTED || status == TS_STATUS_GRANTED_WITH_MODS ? ZORBEL_OK : ZORBEL_ERR_TSA_REJECTED;
}

[[nodiscard]] uint32_t Output(const ZORBELTSASigner& signer, uintptr_t options, TS_RESP* response,
                              std::vector<uint8_t>& out) {
    std::vector<uint8_t> token;
    if (!Encode<PKCS7, i2d_PKCS7>(TS_RESP_get_token(response), token)) return ZORBEL_ERR_MEMORY;
    if (signer.attributeCertificate != nullptr) {
        const std::vector<uint8_t> tac(signer.attributeCertificate,
                                       signer.attributeCertificate + signer.attributeCertificateLength);
        std::vector<uint8_t> withTac;
        if (!AddAttributeCertificate(token, tac, withTac)) return ZORBEL_ERR_PARAM;
        token.swap(withTac);
    }
    if (options == ZORBEL_CREATE_TOKEN) {
        out.swap(token);
        return ZORBEL_OK;
    }
    std::vector<uint8_t> whole;
    if (!Encode<TS_RESP, i2d_TS_RESP>(response, whole)) return ZORBEL_ERR_MEMORY;
    return ReplaceResponseToken(whole, token, out) ? ZORBEL_OK : ZORBEL_ERR_INTERNAL;
}

bool IsUsableSigner(const ZORBELTSASigner* signer) {
    return signer != nullptr && signer->privateKey != nullptr && signer->certificate != nullptr &&
           std::memchr(signer->defaultPolicyOid, '\0', sizeof signer->defaultPolicyOid) != nullptr &&
           (signer->attributeCertificate == nullptr || signer->attributeCertificateLength != 0);
}

[[nodiscard]] uint32_t CreateLocally(const ZORBELTSASigner& signer, uintptr_t options,
                                     const ZORBELTimeStampRequest& request, ZORBELUCertBlob* out) {
    if (signer.defaultPolicyOid[0] == '\0' && request.policyOid[0] == '\0') return ZORBEL_ERR_PARAM;
    SignerMaterial material;
    if (const uint32_t rc = LoadSigner(signer, material); rc != ZORBEL_OK) return rc;
    TsRespCtxPtr ctx;
    if (const uint32_t rc = MakeContext(signer, request, material, ctx); rc != ZORBEL_OK) return rc;
    TsRespPtr response;
    if (const uint32_t rc = Respond(ctx.get(), request, response); rc != ZORBEL_OK) return rc;
    std::vector<uint8_t> der;
    if (const uint32_t rc = Output(signer, options, response.get(), der); rc != ZORBEL_OK) return rc;
    return WriteOutput(out, der.data(), der.size());
}

}  // namespace

}  // namespace zorbel

extern "C" ZORBEL_API uint32_t ZORBELCreateTimeStampTokenEx(uintptr_t value1, uintptr_t value2,
                                                            const ZORBELTimeStampRequest* request, uintptr_t value3) {
    const auto* signer = reinterpret_cast<const ZORBELTSASigner*>(value1);
    auto* out = reinterpret_cast<ZORBELUCertBlob*>(value3);
    return zorbel::Guarded([&]() -> uint32_t {
        if (!zorbel::IsUsableSigner(signer) || out == nullptr || !zorbel::IsUsableRequest(request)) return ZORBEL_ERR_PARAM;
        if (value2 != ZORBEL_CREATE_TOKEN && value2 != ZORBEL_CREATE_RESPONSE) return ZORBEL_ERR_PARAM;
        return zorbel::CreateLocally(*signer, value2, *request, out);
    });
}
