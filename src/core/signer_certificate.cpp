// ZORBELGetTSACert and the signer look-up it shares with verification.
#include "core/signer_certificate.h"

#include <openssl/crypto.h>

#include "core/boundary.h"
#include "core/ess.h"
#include "core/token_handle.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

X509* FindByEss(const EssBinding& binding, STACK_OF(X509) * candidates) {
    if (binding.malformed || !binding.Present()) return nullptr;
    for (int i = 0; i < sk_X509_num(candidates); ++i) {
        X509* certificate = sk_X509_value(candidates, i);
        if (EssBindsTo(binding, certificate)) return certificate;
    }
    return nullptr;
}

[[nodiscard]] uint32_t WriteTsaCertificate(const Token& token, ZORBELUCertBlob* out) {
    if (!token.certificates) return ZORBEL_ERR_MEMORY;
    X509* tsa = FindTsaCertificate(token, token.certificates.get());
    if (tsa == nullptr) return ZORBEL_ERR_NO_TSA_CERT;
    unsigned char* der = nullptr;
    const int size = i2d_X509(tsa, &der);
    const OpenSslBytesPtr owned(der);
    if (size <= 0) return ZORBEL_ERR_MEMORY;
    return WriteOutput(out, der, static_cast<size_t>(size));
}

[[nodiscard]] uint32_t WriteTsaCertificate(const ZORBELUBlob* blob, ZORBELUCertBlob* out) {
    Token token;
    if (const uint32_t rc = ReadToken(blob, token); rc != ZORBEL_OK) return rc;
    return WriteTsaCertificate(token, out);
}

}  // namespace

X509* FindBySignerIdentifier(CMS_SignerInfo* signerInfo, STACK_OF(X509) * candidates) {
    for (int i = 0; i < sk_X509_num(candidates); ++i) {
        X509* certificate = sk_X509_value(candidates, i);
        if (CMS_SignerInfo_cert_cmp(signerInfo, certificate) == 0) return certificate;
    }
    return nullptr;
}

X509* FindTsaCertificate(const Token& token, STACK_OF(X509) * candidates) {
    if (X509* named = FindByEss(ReadEssBinding(token.signerInfo), candidates)) return named;
    return FindBySignerIdentifier(token.signerInfo, candidates);
}

}  // namespace zorbel

extern "C" {

ZORBEL_API uint32_t ZORBELGetTSACert(const ZORBELUBlob* token, ZORBELUCertBlob* out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (out == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::WriteTsaCertificate(token, out);
    });
}

ZORBEL_API uint32_t ZORBELPRVGetTokenTSACert(const ZORBELPRVToken* token, ZORBELUCertBlob* out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (token == nullptr || out == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::WriteTsaCertificate(token->token, out);
    });
}

ZORBEL_API uint32_t ZORBELPRVGetTokenTSAX509(const ZORBELPRVToken* token, X509** out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (token == nullptr || out == nullptr || !token->token.certificates) return ZORBEL_ERR_PARAM;
        X509* tsa = zorbel::FindTsaCertificate(token->token, token->token.certificates.get());
        if (tsa == nullptr) return ZORBEL_ERR_NO_TSA_CERT;
        if (X509_up_ref(tsa) != 1) return ZORBEL_ERR_INTERNAL;
        *out = tsa;
        return ZORBEL_OK;
    });
}

}  // extern "C"
