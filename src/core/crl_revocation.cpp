#include "core/crl_revocation.h"

#include <openssl/x509v3.h>

#include "core/node_digests.h"
#include "x509/der.h"
#include "x509/urls.h"

namespace zorbel {

namespace {

constexpr int kRemoveFromCrl = 8;  // CRLReason removeFromCRL: no longer revoked

// OpenSSL's own check, taken from a context of a store without ours.
X509_STORE_CTX_check_revocation_fn OpenSslCheck() {
    static const X509_STORE_CTX_check_revocation_fn check = [] {
        X509StorePtr store(X509_STORE_new());
        X509StoreCtxPtr context(X509_STORE_CTX_new());
        if (!store || !context || X509_STORE_CTX_init(context.get(), store.get(), nullptr, nullptr) != 1)
            return X509_STORE_CTX_check_revocation_fn{nullptr};
        return X509_STORE_CTX_get_check_revocation(context.get());
    }();
    return check;
}

// As OpenSSL reports a CRL error: the error set, the callback asked
// whether to go on (the default callback says no).
int Report(X509_STORE_CTX* context, int error) {
    X509_STORE_CTX_set_error(context, error);
    return X509_STORE_CTX_get_verify_cb(context)(0, context);
}

// OpenSSL's CRL time check: lastUpdate, then nextUpdate when present.
int CheckTimes(X509_STORE_CTX* context, const zorbelu::stores::CompactCrlParts& crl) {
    const X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
    const unsigned long flags = X509_VERIFY_PARAM_get_flags(param);
    if ((flags & X509_V_FLAG_NO_CHECK_TIME) != 0) return 1;
    time_t checkTime = X509_VERIFY_PARAM_get_time(param);
    time_t* at = (flags & X509_V_FLAG_USE_CHECK_TIME) != 0 ? &checkTime : nullptr;
    int order = X509_cmp_time(crl.thisUpdate.get(), at);
    if (order == 0 && !Report(context, X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD)) return 0;
    if (order > 0 && !Report(context, X509_V_ERR_CRL_NOT_YET_VALID)) return 0;
    if (!crl.nextUpdate) return 1;
    order = X509_cmp_time(crl.nextUpdate.get(), at);
    if (order == 0 && !Report(context, X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD)) return 0;
    if (order < 0 && !Report(context, X509_V_ERR_CRL_HAS_EXPIRED)) return 0;
    return 1;
}

// The serial's INTEGER contents, as the CRL lists them.
bool SerialContents(X509* certificate, std::vector<uint8_t>& out) {
    unsigned char* der = nullptr;
    const int size = i2d_ASN1_INTEGER(X509_get0_serialNumber(certificate), &der);
    const OpenSslBytesPtr owned(der);
    if (size <= 0) return false;
    zorbel::der::Reader reader({der, static_cast<size_t>(size)});
    zorbel::der::Tlv serial;
    if (!reader.Expect(zorbel::der::kInteger, serial)) return false;
    out.assign(serial.contents.data, serial.contents.data + serial.contents.size);
    return true;
}

}  // namespace

bool ReadCompactCrls(const ZORBELCertStore* store, CompactCrls& out) {
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        if (node->encoding != ZORBELU_ENCODING_DER || node->data == nullptr || node->length == 0) return false;
        auto crl = zorbelu::stores::SharedCompactCrl(NodeDigest(node), node->data, node->length);
        if (!crl || crl->crl.NeedsFullDecoder()) return false;
        out.push_back(std::move(crl));
    }
    return true;
}

CrlTimes TimesOf(const CompactCrls& crls) {
    CrlTimes times;
    for (const auto& crl : crls) times.emplace_back(crl->thisUpdate.get(), crl->nextUpdate.get());
    return times;
}

void CompactRevocation::Install(X509_STORE* trusted) { X509_STORE_set_check_revocation(trusted, &Check); }

void CompactRevocation::Attach(X509_STORE_CTX* context) { X509_STORE_CTX_set_app_data(context, this); }

int CompactRevocation::Check(X509_STORE_CTX* context) {
    auto* self = static_cast<CompactRevocation*>(X509_STORE_CTX_get_app_data(context));
    // OpenSSL's CRL path validation makes contexts of its own over the store.
    if (self == nullptr) return OpenSslCheck() != nullptr ? OpenSslCheck()(context) : 0;
    const unsigned long flags = X509_VERIFY_PARAM_get_flags(X509_STORE_CTX_get0_param(context));
    if ((flags & X509_V_FLAG_CRL_CHECK) == 0) return 1;
    if ((flags & X509_V_FLAG_CRL_CHECK_ALL) != 0) return self->CheckInFull(context);
    return self->CheckLeaf(context);
}

int CompactRevocation::CheckInFull(X509_STORE_CTX* context) {
    if (!addFullCrls_(X509_STORE_CTX_get0_store(context))) {
        badStoreEntry_ = true;
        return Report(context, X509_V_ERR_UNSPECIFIED);
    }
    const X509_STORE_CTX_check_revocation_fn check = OpenSslCheck();
    return check != nullptr ? check(context) : Report(context, X509_V_ERR_OUT_OF_MEM);
}

int CompactRevocation::CheckLeaf(X509_STORE_CTX* context) {
    STACK_OF(X509)* chain = X509_STORE_CTX_get0_chain(context);
    if (sk_X509_num(chain) < 2) return CheckInFull(context);
    X509* certificate = sk_X509_value(chain, 0);
    X509* issuer = sk_X509_value(chain, 1);
    if ((X509_get_extension_flags(certificate) & EXFLAG_PROXY) != 0 ||
        !zorbelu::x509::HasOnlyPlainDistributionPoints(certificate))
        return CheckInFull(context);
    const zorbelu::stores::CompactCrlParts* only = nullptr;
    for (const auto& crl : crls_) {
        if (X509_NAME_cmp(crl->issuer.get(), X509_get_issuer_name(certificate)) != 0) continue;
        if (only != nullptr) return CheckInFull(context);  // OpenSSL weighs one against the other
        only = crl.get();
    }
    if (only == nullptr || X509_check_akid(issuer, only->authorityKeyId.get()) != X509_V_OK)
        return CheckInFull(context);
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    const int signature = only->crl.VerifySignature(key);
    if (key != nullptr && signature < 0) return CheckInFull(context);
    std::vector<uint8_t> serial;
    if (!SerialContents(certificate, serial)) return Report(context, X509_V_ERR_OUT_OF_MEM);

    // From here in OpenSSL's order: the issuer's key usage, the CRL's
    // times, its signature, the serial.
    X509_STORE_CTX_set_error_depth(context, 0);
    X509_STORE_CTX_set_current_cert(context, certificate);
    if ((X509_get_extension_flags(issuer) & EXFLAG_KUSAGE) != 0 && (X509_get_key_usage(issuer) & KU_CRL_SIGN) == 0 &&
        !Report(context, X509_V_ERR_KEYUSAGE_NO_CRL_SIGN))
        return 0;
    if (!CheckTimes(context, *only)) return 0;
    if (key == nullptr && !Report(context, X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY)) return 0;
    if (key != nullptr && signature != 1 && !Report(context, X509_V_ERR_CRL_SIGNATURE_FAILURE)) return 0;
    const zorbelu::x509::RevokedEntry* entry = only->crl.Find(serial.data(), serial.size());
    if (entry != nullptr && entry->reason != kRemoveFromCrl && !Report(context, X509_V_ERR_CERT_REVOKED)) return 0;
    return 1;
}

}  // namespace zorbel
