#include "verify/certificate_gathering.h"

#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "certs/certificate_decoding.h"
#include "certs/crl_cache.h"
#include "certs/crl_distribution_points.h"
#include "certs/names.h"
#include "x509/names.h"
#include "x509/ossl_ptr.h"
#include "certs/store_index.h"
#include "certs/zorbelutil_lib.h"
#include "frame/app.h"
#include "frame/module_state.h"
#include "platform/deadline.h"
#include "ui/windows.h"
#include "verify/request_validation.h"
#include "verify/verification_steps.h"
#include "zorbel.h"
#include "zorbelcomm.h"

namespace zorbelu::certs {
namespace {

namespace pf = zorbelu::platform;

constexpr uint32_t kDer = 2;

using verify::CoreStorePtr;

struct CacheStoreFree {
    void operator()(ZORBELUCRLCacheStore* cache) const noexcept { (void)FreeCrlCacheStore(cache); }
};
using CacheStorePtr = std::unique_ptr<ZORBELUCRLCacheStore, CacheStoreFree>;

const IndexedCertificate* FindIn(const StoreIndex& store, const std::optional<std::string>& subject, X509* child) {
    return subject ? store.IssuerWithSubject(*subject, child) : nullptr;
}

bool AddToCoreStore(ZORBELCertStore* coreStore, const IndexedCertificate& found, WalkEnd& why) {
    const stores::DerCertificate& der = found.entry.der;
    ZORBELUCertBlob item{const_cast<uint8_t*>(der.data()), static_cast<uint32_t>(der.size()), kDer};
    if (ZORBELAddCACert(coreStore, &item) == ZORBELU_OK) return true;
    why = WalkEnd::CoreRefused;
    return false;
}

bool IsSelfIssued(X509* certificate) {
    const uint8_t *issuer = nullptr, *subject = nullptr;
    size_t issuerLength = 0, subjectLength = 0;
    return x509::GetIssuerAndSubjectDer(certificate, &issuer, &issuerLength, &subject, &subjectLength) &&
           NamesEqual(subject, subjectLength, issuer, issuerLength);
}

// The TSA certificate of the token into scratch buffer 0, growing it while
// the core library asks for more room. The output points at the buffer
// whatever the result.
[[nodiscard]] uint32_t ObtainTsaCertificate(const ZORBELUBlob* token, ZORBELUBlob* tsaCertOut) {
    ZORBELUCertBlob blob{};
    const uint32_t result = verify::ExtractTsaCertificate(token, &blob);
    const frame::ScratchBuffer& buffer = frame::AccessScratchBuffer(frame::kTsaCertBuffer);
    tsaCertOut->data = buffer.data;
    tsaCertOut->length = result == ZORBELU_OK ? blob.length : buffer.capacity;
    // A token whose certificate cannot be had otherwise is no gathering error
    // of its own here.
    return result == ZORBELU_VS_DATA_DAMAGED ? ZORBELU_ERR_EXCEPTION : result;
}

uint32_t NotFoundAsGatheringResult(uint32_t walk) {
    return walk == ZORBELU_VS_CERT_UNTRUSTED ? ZORBELU_ERR_NOT_FOUND : walk;
}

uint32_t GetCertificates(const ZORBELUBlob* token, int32_t timeoutMs, const ZORBELUProxyInfo* proxy,
                         ZORBELUBlob* tsaCertOut, ZORBELUCertBlob** caOut, ZORBELUCertBlob** crlOut) {
    if (verify::ValidateToken(token) != ZORBELU_OK || tsaCertOut == nullptr || caOut == nullptr)
        return ZORBELU_ERR_PARAM;
    // The time limit bounds everything this call downloads.
    const pf::Deadline deadline = pf::Deadline::After(verify::EffectiveTimeLimit(timeoutMs));
    ZORBELUProxyInfo settings;
    if (const uint32_t copied = verify::CopyConnectionSettings(proxy, pf::GetActiveWindow(), &settings);
        copied != ZORBELU_OK)
        return copied;
    if (const uint32_t handed = verify::HandSettingsToCommunication(settings); handed != ZORBELU_OK) return handed;
    const ZORBELU_HWND owner = settings.ownerWindow;

    // Released on every way out, an exception's included.
    CertList list;
    CoreStorePtr store;
    try {
        if (const uint32_t obtained = ObtainTsaCertificate(token, tsaCertOut); obtained != ZORBELU_OK) return obtained;
        X509Ptr tsa(DecodeCertificate(tsaCertOut->data, static_cast<int32_t>(tsaCertOut->length), 1));
        const uint8_t* issuer = nullptr;
        size_t issuerLength = 0;
        if (!tsa || !x509::GetIssuerAndSubjectDer(tsa.get(), &issuer, &issuerLength)) return ZORBELU_ERR_EXCEPTION;
        const bool selfIssued = IsSelfIssued(tsa.get());
        list.Append(tsa.get());
        (void)tsa.release();  // the list owns it now
        if (selfIssued) {
            *caOut = nullptr;
            return ZORBELU_ERR_SELF_ISSUED;
        }
        store.reset(ZORBELCreateCertStore());
        if (!store) return ZORBELU_ERR_MEMORY;

        uint32_t walk = BuildChainFromSystemStores(store.get(), list, list[0].cert);
        if (walk != ZORBELU_OK) {
            if (FetchIssuersWithWindowsChain(list[0].cert, deadline) != ZORBELU_OK)
                return NotFoundAsGatheringResult(walk);
            // The second walk starts again at the TSA certificate's issuer.
            walk = BuildChainFromSystemStores(store.get(), list, list[0].cert);
            if (walk != ZORBELU_OK) return NotFoundAsGatheringResult(walk);
        }
    } catch (...) {
        return ZORBELU_ERR_EXCEPTION;
    }

    if (FillCrlUrlsOfList(list) != ZORBELU_OK) return ZORBELU_ERR_CDP;
    CacheStorePtr cache(CreateCrlCacheStore());
    if (!cache) return ZORBELU_ERR_MEMORY;
    const uint32_t fetched = FetchCRLsForList(store.get(), list, cache.get(), deadline, owner);
    if (const uint32_t freed = FreeCrlCacheStore(cache.release()); freed != ZORBELU_OK) return freed;
    if (fetched != ZORBELU_OK) return fetched == ZORBELU_VS_REVOCATION_UNKNOWN ? ZORBELU_ERR_CRL : fetched;

    if (crlOut == nullptr) return ZORBELU_ERR_PARAM;
    return CoreStoreToArrays(store.get(), caOut, crlOut);
}

}  // namespace

uint32_t BuildChainFromSystemStores(ZORBELCertStore* coreStore, CertList& list, X509* certificate, WalkEnd* end) {
    WalkEnd unused;
    WalkEnd& why = end != nullptr ? *end : unused;
    why = WalkEnd::NotFound;
    // One look at each store for the whole walk.
    const std::shared_ptr<const StoreIndex> ca = StoreIndex::Current("CA");
    const std::shared_ptr<const StoreIndex> root = StoreIndex::Current("ROOT");
    if (!ca || !root) {
        why = WalkEnd::StoreUnavailable;
        return ZORBELU_VS_CERT_UNTRUSTED;
    }
    const uint8_t* name = nullptr;
    size_t nameLength = 0;
    if (certificate == nullptr || !x509::GetIssuerAndSubjectDer(certificate, &name, &nameLength))
        return ZORBELU_VS_CERT_UNTRUSTED;
    std::optional<std::string> wanted = NameText(name, nameLength);
    std::set<std::string> namesSought{wanted.value_or(std::string())};
    X509* child = certificate;
    for (size_t taken = 0;;) {
        const IndexedCertificate* found = FindIn(*ca, wanted, child);
        // A self-issued certificate is not taken from "CA": the same name in "ROOT".
        if (found == nullptr || found->SelfIssued()) {
            found = FindIn(*root, wanted, child);
            if (found == nullptr) return ZORBELU_VS_CERT_UNTRUSTED;
            if (!AddToCoreStore(coreStore, *found, why)) return ZORBELU_VS_CERT_UNTRUSTED;
            why = WalkEnd::RootReached;
            return ZORBELU_OK;
        }
        if (!AddToCoreStore(coreStore, *found, why)) return ZORBELU_VS_CERT_UNTRUSTED;
        X509_up_ref(found->cert.get());
        list.Append(found->cert.get());
        child = found->cert.get();
        wanted = found->issuer;
        if (!namesSought.insert(wanted.value_or(std::string())).second) {
            why = WalkEnd::NameRepeated;
            return ZORBELU_VS_CERT_UNTRUSTED;
        }
        if (++taken >= kMaxWalkLength) {
            why = WalkEnd::LengthLimit;
            return ZORBELU_VS_CERT_UNTRUSTED;
        }
    }
}

uint32_t CoreStoreToArrays(const ZORBELCertStore* store, ZORBELUCertBlob** caOut, ZORBELUCertBlob** crlOut) {
    if (store == nullptr || store->size != ZORBEL_CERT_STORE_MARK) return ZORBELU_ERR_CERT_STORE;
    if (store->caCerts == nullptr) {
        *caOut = nullptr;
        *crlOut = nullptr;
        return ZORBELU_OK;
    }
    struct ArrayFree {
        void operator()(ZORBELUCertBlob* array) const noexcept { FreeCertBlobArray(array); }
    };
    using ArrayPtr = std::unique_ptr<ZORBELUCertBlob, ArrayFree>;
    const auto copy = [](const ZORBELCertNode* head) -> ArrayPtr {
        size_t count = 0;
        for (const ZORBELCertNode* node = head; node != nullptr; node = node->next) ++count;
        if (count == 0) return nullptr;
        ArrayPtr array(new (std::nothrow) ZORBELUCertBlob[count + 1]());  // zeroed: ends at any point
        if (!array) throw std::bad_alloc();
        size_t i = 0;
        for (const ZORBELCertNode* node = head; node != nullptr; node = node->next, ++i) {
            uint8_t* bytes = new uint8_t[node->length];
            std::memcpy(bytes, node->data, node->length);
            array.get()[i] = {bytes, node->length, node->encoding};
        }
        return array;
    };
    try {
        ArrayPtr ca = copy(store->caCerts);
        ArrayPtr crls = copy(store->crls);
        *caOut = ca.release();
        *crlOut = crls.release();
        return ZORBELU_OK;
    } catch (const std::bad_alloc&) {
        return ZORBELU_ERR_MEMORY;
    }
}

}  // namespace zorbelu::certs

extern "C" ZORBELU_API uint32_t ZORBELUGetCertificates(const ZORBELUBlob* token, int32_t timeoutMs,
                                                       const ZORBELUProxyInfo* proxy, ZORBELUBlob* tsaCertOut,
                                                       ZORBELUCertBlob** caOut, ZORBELUCertBlob** crlOut) {
    return zorbelu::frame::GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        return zorbelu::certs::GetCertificates(token, timeoutMs, proxy, tsaCertOut, caOut, crlOut);
    });
}

extern "C" ZORBELU_API uint32_t ZORBELUFreeCertificates(ZORBELUCertBlob** array) {
    return zorbelu::frame::GuardedExport<uint32_t>(ZORBELU_ERR_EXCEPTION, [&] {
        if (array == nullptr || *array == nullptr || (*array)->data == nullptr || (*array)->length == 0)
            return ZORBELU_ERR_PARAM;
        zorbelu::certs::FreeCertBlobArray(*array);
        return ZORBELU_OK;
    });
}
