#include "core/chain_check.h"

#include <openssl/x509_vfy.h>

#include <utility>

#include "core/chain_verdicts.h"
#include "core/clock.h"
#include "core/crl_revocation.h"
#include "x509/decoding.h"
#include "platform/stores/decoded_objects.h"
#include "platform/stores/system_store.h"

namespace zorbel {

namespace {

// One store node: a DER object, or PEM text with one or more objects. The
// same DER nodes come back with every verification (a chain's CA
// certificates, its CRLs): they are decoded once per process.
template <typename Ptr, typename T, T* (*Shared)(const uint8_t*, size_t), Ptr (*DecodeDerAt)(const uint8_t**, size_t),
          size_t (*ForEachPem)(const uint8_t*, size_t, size_t, const std::function<bool(Ptr)>&), typename Add>
[[nodiscard]] bool DecodeNode(const ZORBELCertNode* node, Add&& add) {
    if (node->data == nullptr || node->length == 0) return false;
    if (node->encoding == ZORBELU_ENCODING_DER) {
        Ptr object(Shared(node->data, node->length));
        if (!object) {  // not exactly one DER object: decoded as it is
            const uint8_t* p = node->data;
            object = DecodeDerAt(&p, node->length);
        }
        return object && add(std::move(object));
    }
    bool added = true;
    const size_t count = ForEachPem(node->data, node->length, SIZE_MAX, [&](Ptr object) {
        added = add(std::move(object));
        return added;
    });
    return added && count > 0;
}

template <typename Add>
[[nodiscard]] bool DecodeCertificateNode(const ZORBELCertNode* node, Add&& add) {
    using zorbelu::stores::SharedCertificate;
    namespace x509 = zorbelu::x509;
    return DecodeNode<X509Ptr, X509, SharedCertificate, x509::DecodeDerCertificateAt, x509::ForEachPemCertificate>(
        node, std::forward<Add>(add));
}

template <typename Add>
[[nodiscard]] bool DecodeCrlNode(const ZORBELCertNode* node, Add&& add) {
    using zorbelu::stores::SharedCrl;
    namespace x509 = zorbelu::x509;
    return DecodeNode<X509CrlPtr, X509_CRL, SharedCrl, x509::DecodeDerCrlAt, x509::ForEachPemCrl>(
        node, std::forward<Add>(add));
}

[[nodiscard]] bool AddCertificates(const ZORBELCertStore* store, X509_STORE* trusted) {
    for (const ZORBELCertNode* node = store->caCerts; node != nullptr; node = node->next) {
        const bool ok = DecodeCertificateNode(
            node, [&](X509Ptr certificate) { return X509_STORE_add_cert(trusted, certificate.get()) == 1; });
        if (!ok) return false;
    }
    return true;
}

[[nodiscard]] bool AddCrls(const ZORBELCertStore* store, X509_STORE* trusted) {
    for (const ZORBELCertNode* node = store->crls; node != nullptr; node = node->next) {
        const bool ok =
            DecodeCrlNode(node, [&](X509CrlPtr crl) { return X509_STORE_add_crl(trusted, crl.get()) == 1; });
        if (!ok) return false;
    }
    return true;
}

uint32_t ResultOfChainError(int error) {
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return ZORBEL_VERIFY_CERT_EXPIRED;
        case X509_V_ERR_CERT_REVOKED:
            return ZORBEL_VERIFY_CERT_REVOKED;
        case X509_V_ERR_CRL_HAS_EXPIRED:
        case X509_V_ERR_CRL_NOT_YET_VALID:
            return ZORBEL_VERIFY_CRL_EXPIRED;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
            return ZORBEL_VERIFY_UNTRUSTED;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_UNABLE_TO_GET_CRL:
        case X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER:
        case X509_V_ERR_CRL_SIGNATURE_FAILURE:
        case X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE:
        case X509_V_ERR_KEYUSAGE_NO_CRL_SIGN:
        case X509_V_ERR_DIFFERENT_CRL_SCOPE:
        case X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD:
        case X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD:
            return ZORBEL_VERIFY_INCOMPLETE;
        case X509_V_ERR_OUT_OF_MEM:
            return ZORBEL_ERR_MEMORY;
        default:
            return ZORBEL_VERIFY_CERT_INVALID;
    }
}

// Validity first, so that an expired certificate reads as expired whatever
// else is wrong with its chain.
uint32_t CheckValidity(X509* certificate, time_t now) {
    const int notBefore = X509_cmp_time(X509_get0_notBefore(certificate), &now);
    const int notAfter = X509_cmp_time(X509_get0_notAfter(certificate), &now);
    if (notBefore == 0 || notAfter == 0) return ZORBEL_VERIFY_CERT_INVALID;  // unreadable dates
    return notBefore > 0 || notAfter < 0 ? ZORBEL_VERIFY_CERT_EXPIRED : ZORBEL_OK;
}

bool IsSelfIssued(X509* certificate) {
    return X509_NAME_cmp(X509_get_subject_name(certificate), X509_get_issuer_name(certificate)) == 0;
}

// A self-issued TSA certificate vouches for itself only when a person put
// the very same certificate into the system "ROOT" store.
uint32_t CheckSelfIssued(X509* tsa) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(tsa, &der);
    const OpenSslBytesPtr owned(der);
    if (size <= 0) return ZORBEL_ERR_MEMORY;
    const auto root = zorbelu::stores::SystemStore::Open("ROOT");
    const bool trusted = root && root->Contains(der, static_cast<size_t>(size));
    if (!trusted) return ZORBEL_VERIFY_UNTRUSTED;
    return X509_verify(tsa, X509_get0_pubkey(tsa)) == 1 ? ZORBEL_OK : ZORBEL_VERIFY_CERT_INVALID;
}

uint32_t RunChainCheck(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store, time_t now,
                       const ChainKey& key) {
    X509StorePtr trusted(X509_STORE_new());
    X509StoreCtxPtr context(X509_STORE_CTX_new());
    if (!trusted || !context) return ZORBEL_ERR_MEMORY;
    // The CRLs are read compactly when they all can be; OpenSSL then decodes
    // them only when its own revocation check is needed after all.
    CompactCrls compact;
    const bool compactly = store->crls != nullptr && ReadCompactCrls(store, compact);
    if (!compactly) compact.clear();
    CompactRevocation revocation(compact, [store](X509_STORE* into) { return AddCrls(store, into); });
    if (!AddCertificates(store, trusted.get()) || (!compactly && !AddCrls(store, trusted.get())))
        return ZORBEL_VERIFY_BAD_STORE_ENTRY;
    if (compactly) CompactRevocation::Install(trusted.get());
    if (X509_STORE_CTX_init(context.get(), trusted.get(), tsa, intermediates) != 1) return ZORBEL_ERR_MEMORY;
    if (compactly) revocation.Attach(context.get());
    // Every CA certificate of the store is an anchor, root or not. Only the
    // TSA certificate's revocation is checked: the callers fetch its CRL alone.
    unsigned long flags = X509_V_FLAG_PARTIAL_CHAIN;
    if (store->crls != nullptr) flags |= X509_V_FLAG_CRL_CHECK;
    X509_STORE_CTX_set_flags(context.get(), flags);
    X509_STORE_CTX_set_time(context.get(), 0, now);
    const bool verified = X509_verify_cert(context.get()) == 1;
    if (revocation.BadStoreEntry()) return ZORBEL_VERIFY_BAD_STORE_ENTRY;
    const uint32_t verdict = verified ? ZORBEL_OK : ResultOfChainError(X509_STORE_CTX_get_error(context.get()));
    if (verdict != ZORBEL_ERR_MEMORY)
        RememberChainVerdict(key, verdict, now, tsa, intermediates, trusted.get(), TimesOf(compact));
    return verdict;
}

uint32_t CheckChain(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store, time_t now) {
    if (store->caCerts == nullptr) return ZORBEL_VERIFY_UNTRUSTED;  // no anchor at all
    const ChainKey key = KeyOfChainCheck(tsa, intermediates, store);
    if (const std::optional<uint32_t> remembered = RememberedChainVerdict(key, now)) return *remembered;
    return RunChainCheck(tsa, intermediates, store, now, key);
}

}  // namespace

bool HasTimeStampingUsageOnly(X509* certificate) {
    int critical = 0;
    ExtKeyUsagePtr usage(
        static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, &critical, nullptr)));
    if (!usage || critical != 1 || sk_ASN1_OBJECT_num(usage.get()) != 1) return false;
    return OBJ_obj2nid(sk_ASN1_OBJECT_value(usage.get(), 0)) == NID_time_stamp;
}

bool StoreCertificates(const ZORBELCertStore* store, STACK_OF(X509) * out) {
    for (const ZORBELCertNode* node = store->caCerts; node != nullptr; node = node->next) {
        const bool ok = DecodeCertificateNode(node, [&](X509Ptr certificate) {
            if (!sk_X509_push(out, certificate.get())) return false;
            certificate.release();
            return true;
        });
        if (!ok) return false;
    }
    return true;
}

uint32_t CheckTsaCertificate(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store) {
    const time_t now = Now();
    if (const uint32_t rc = CheckValidity(tsa, now); rc != ZORBEL_OK) return rc;
    if (IsSelfIssued(tsa)) return CheckSelfIssued(tsa);
    return CheckChain(tsa, intermediates, store, now);
}

}  // namespace zorbel
