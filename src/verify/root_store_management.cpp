#include "verify/root_store_management.h"

#include <cstring>
#include <memory>
#include <vector>

#include "certs/certificate_decoding.h"
#include "certs/names.h"
#include "x509/names.h"
#include "x509/decoding.h"
#include "verify/services.h"
#include "frame/app.h"
#include "frame/module_state.h"
#include "frame/resource_text.h"
#include "certs/cert_store.h"
#include "verify/request_validation.h"
#include "verify/verification_steps.h"
#include "zorbel.h"

namespace zorbelu::certs {

// Walked in this order. The fingerprints are the SHA-1 digests of
// res/certs/cert_<id>.der; make_certs.sh prints them.
const ServiceRoot kServiceRoots[kServiceRootCount] = {
    {0, 1008, {0x3f, 0xb4, 0xe7, 0xcc, 0x59, 0xb0, 0xd6, 0x6e, 0x8d, 0xaf, 0xfe, 0x62, 0x05, 0x12, 0x50, 0x38, 0x0e, 0x62, 0xb6, 0xae}},
    {0, 1011, {0x79, 0x94, 0x77, 0x53, 0x20, 0xb5, 0x8e, 0xa3, 0xa5, 0x47, 0xc5, 0x42, 0x12, 0x7b, 0xbb, 0x86, 0x88, 0x9b, 0x42, 0x1c}},
    {0, 1081, {0x7c, 0x49, 0x86, 0xea, 0xcd, 0xf8, 0x46, 0x7f, 0xf8, 0x16, 0x18, 0xb3, 0xc1, 0x10, 0x17, 0x89, 0xa0, 0xaa, 0xb7, 0x6b}},
    {0, 1080, {0x32, 0x61, 0xe4, 0x36, 0x5e, 0x82, 0xed, 0xc4, 0x56, 0x39, 0xd6, 0xe1, 0x2e, 0xb8, 0x5a, 0x23, 0xf4, 0xca, 0xcb, 0xff}},
    {1, 1007, {0x5e, 0x90, 0xc2, 0x56, 0x3a, 0xc3, 0x04, 0xd5, 0x74, 0xf4, 0x57, 0x24, 0x41, 0xed, 0x9e, 0xc2, 0xd5, 0x5f, 0x86, 0x97}},
    {1, 1012, {0xec, 0xbc, 0xaf, 0x96, 0xd2, 0xca, 0xdb, 0x58, 0x72, 0xcf, 0xdc, 0xce, 0x6e, 0xdb, 0x28, 0xe0, 0x14, 0xb1, 0x94, 0x8d}},
    {2, 1010, {0x6c, 0x0e, 0xb1, 0x90, 0x05, 0x20, 0x20, 0x4d, 0x5b, 0x13, 0x2b, 0xd7, 0x61, 0xd9, 0x08, 0xc9, 0x61, 0xd4, 0xc3, 0xb8}},
    {2, 1009, {0x8c, 0x95, 0xe4, 0x51, 0x2b, 0xc4, 0xbd, 0xdb, 0xa2, 0x05, 0xbf, 0xc2, 0xa5, 0xcd, 0x66, 0x40, 0x2f, 0xf1, 0x6d, 0xae}},
    {3, 1011, {0x79, 0x94, 0x77, 0x53, 0x20, 0xb5, 0x8e, 0xa3, 0xa5, 0x47, 0xc5, 0x42, 0x12, 0x7b, 0xbb, 0x86, 0x88, 0x9b, 0x42, 0x1c}},
    {4, 1011, {0x79, 0x94, 0x77, 0x53, 0x20, 0xb5, 0x8e, 0xa3, 0xa5, 0x47, 0xc5, 0x42, 0x12, 0x7b, 0xbb, 0x86, 0x88, 0x9b, 0x42, 0x1c}},
};

namespace {

// The service whose walk goes on after a declined confirmation.
constexpr uint32_t kServiceWalkedToTheEnd = 2;
// The service whose token filter follows the chain upward through its
// intermediate certificate.
constexpr uint32_t kServiceWithChain = 0;

struct Counters {
    uint32_t used = 0;
    uint32_t present = 0;
    uint32_t done = 0;
    uint32_t cancelled = 0;
    uint32_t denied = 0;
    uint32_t errors = 0;
};

// The DER issuer and subject names of a certificate; the bytes belong to it.
struct Names {
    const uint8_t* issuer = nullptr;
    size_t issuerLength = 0;
    const uint8_t* subject = nullptr;
    size_t subjectLength = 0;

    bool SelfIssued() const { return NamesEqual(subject, subjectLength, issuer, issuerLength); }
};

[[nodiscard]] bool ReadNames(X509* cert, Names* names) {
    return cert != nullptr &&
           x509::GetIssuerAndSubjectDer(cert, &names->issuer, &names->issuerLength, &names->subject, &names->subjectLength);
}

// One whole DER certificate, nothing after it.
X509Ptr DecodeDer(const uint8_t* der, size_t length) { return x509::DecodeWholeDerCertificate(der, length); }

struct HashFreer {
    void operator()(ZORBELHashHandle* handle) const noexcept { (void)ZORBELHashFreeEx(handle); }
};

[[nodiscard]] bool FingerprintMatches(const uint8_t* data, uint32_t length, const std::array<uint8_t, 20>& expected) {
    ZORBELHashHandle* raw = nullptr;
    if (ZORBELHashInitEx(&raw, ZORBEL_HASH_SHA1) != ZORBELU_OK) return false;
    std::unique_ptr<ZORBELHashHandle, HashFreer> handle(raw);
    if (ZORBELHashUpdateEx(handle.get(), data, length) != ZORBELU_OK) return false;
    ZORBELUDigestInfoEx digest;
    std::memset(&digest, 0, sizeof digest);
    // Final frees the handle whatever it answers.
    if (ZORBELHashFinalEx(handle.release(), &digest) != ZORBELU_OK) return false;
    return digest.digestLength == expected.size() &&
           std::memcmp(digest.digest, expected.data(), expected.size()) == 0;
}

// The TSA certificate of a token, read into scratch buffer 0, which grows
// while the certificate does not fit. Any failure is a bad token here.
[[nodiscard]] uint32_t ReadTsaCertificate(const ZORBELUBlob* token, X509Ptr* cert) {
    ZORBELUCertBlob blob{};
    if (verify::ExtractTsaCertificate(token, &blob) != ZORBELU_OK) return ZORBELU_ERR_PARAM;
    cert->reset(DecodeCertificate(blob.data, static_cast<int32_t>(blob.length), ZORBELU_ENCODING_DETECT));
    return *cert ? ZORBELU_OK : ZORBELU_ERR_PARAM;
}

// Which rows a token limits the walk to: those on the chain of its TSA
// certificate. Without a token every row is used.
class ChainFilter {
public:
    ChainFilter(uint32_t service, const Names* tsa) : service_(service) {
        if (tsa != nullptr) {
            active_ = true;
            wanted_.assign(tsa->issuer, tsa->issuer + tsa->issuerLength);
        }
    }

    bool active() const { return active_; }

    // Whether the row whose certificate has `names` is used; for the
    // chained service the first intermediate used makes its issuer the name
    // the later rows must carry.
    bool Uses(const Names& names) {
        if (!active_ || service_ == kServiceWalkedToTheEnd) return true;
        if (!NamesEqual(names.subject, names.subjectLength, wanted_.data(), wanted_.size())) return false;
        if (service_ == kServiceWithChain && !followingIntermediate_ && !names.SelfIssued()) {
            followingIntermediate_ = true;
            wanted_.assign(names.issuer, names.issuer + names.issuerLength);
        }
        return true;
    }

private:
    uint32_t service_;
    bool active_ = false;
    bool followingIntermediate_ = false;
    std::vector<uint8_t> wanted_;
};

// The first certificate of the store with the same subject and issuer
// names, or NULL.
platform::UniqueCertContext FindInstalledCopy(platform::HCERTSTORE store, const Names& names) {
    platform::PCCERT_CONTEXT context = nullptr;
    while ((context = platform::CertEnumCertificatesInStore(store, context)) != nullptr) {
        const X509Ptr cert = DecodeDer(context->pbCertEncoded, context->cbCertEncoded);
        Names installed;
        if (ReadNames(cert.get(), &installed) &&
            NamesEqual(installed.subject, installed.subjectLength, names.subject, names.subjectLength) &&
            NamesEqual(installed.issuer, installed.issuerLength, names.issuer, names.issuerLength))
            return platform::UniqueCertContext(context);
    }
    return nullptr;
}

void DeleteInstalledCopy(platform::UniqueCertContext installed, Counters* counters) {
    // Frees the context whatever the outcome.
    if (platform::CertDeleteCertificateFromStore(installed.release())) {
        ++counters->done;
        return;
    }
    switch (platform::GetLastError()) {
        case platform::ERROR_CANCELLED: ++counters->cancelled; break;
        case platform::E_ACCESSDENIED: ++counters->denied; break;
        default: ++counters->errors; break;
    }
}

void AddCertificate(platform::HCERTSTORE store, const ZorbeluBinaryResource& resource, Counters* counters) {
    if (platform::CertAddEncodedCertificateToStore(store, platform::X509_ASN_ENCODING,
                                                   static_cast<const uint8_t*>(resource.data), resource.size,
                                                   platform::CERT_STORE_ADD_NEW, nullptr)) {
        ++counters->done;
        return;
    }
    switch (platform::GetLastError()) {
        case platform::ERROR_CANCELLED: ++counters->cancelled; break;
        case platform::CRYPT_E_EXISTS: ++counters->present; break;
        default: ++counters->errors; break;
    }
}

// One row of the table. With a token, a row whose resource cannot be read
// cannot be matched against the chain; it counts as used and as an error,
// so that a damaged module never passes for a clean answer.
void WalkRow(platform::HINSTANCE module, const ServiceRoot& row, RootOperation operation, ChainFilter* filter,
             Counters* counters) {
    const ZorbeluBinaryResource* resource = platform::FindResource(module, "CERT", row.resourceId);
    const uint8_t* bytes = resource != nullptr ? static_cast<const uint8_t*>(resource->data) : nullptr;
    const X509Ptr cert = resource != nullptr ? DecodeDer(bytes, resource->size) : nullptr;
    Names names;
    const bool readable = ReadNames(cert.get(), &names);
    if (filter->active() && readable && !filter->Uses(names)) return;
    ++counters->used;
    if (!readable) {
        ++counters->errors;
        return;
    }
    const platform::UniqueCertContext context(platform::CertCreateCertificateContext(
        platform::X509_ASN_ENCODING | platform::PKCS_7_ASN_ENCODING, bytes, resource->size));
    if (!context || !FingerprintMatches(bytes, resource->size, row.sha1)) {
        ++counters->errors;
        return;
    }
    const platform::UniqueCertStore store = platform::CertOpenSystemStoreA(nullptr, names.SelfIssued() ? "ROOT" : "CA");
    if (!store) {
        ++counters->errors;
        return;
    }
    platform::UniqueCertContext installed = FindInstalledCopy(store.get(), names);
    if (installed) {
        if (operation == RootOperation::Delete)
            DeleteInstalledCopy(std::move(installed), counters);
        else
            ++counters->present;
    } else if (operation == RootOperation::Add) {
        AddCertificate(store.get(), *resource, counters);
    }
}

uint32_t ResultOf(RootOperation operation, const Counters& counters) {
    if (counters.errors > 0) return ZORBELU_ERR_EXCEPTION;
    switch (operation) {
        case RootOperation::Test:
            return counters.used > counters.present ? ZORBELU_ERR_NOT_FOUND : ZORBELU_ROOT_IN_STORE;
        case RootOperation::Add:
            if (counters.cancelled > 0) return ZORBELU_ERR_CANCELLED;
            return counters.used > counters.present ? ZORBELU_OK : ZORBELU_ROOT_IN_STORE;
        case RootOperation::Delete:
            if (counters.denied > 0) return ZORBELU_ERR_ACCESS_DENIED;
            if (counters.cancelled > 0) return ZORBELU_ERR_CANCELLED;
            return counters.done > 0 ? ZORBELU_OK : ZORBELU_ERR_NOT_FOUND;
    }
    return ZORBELU_ERR_EXCEPTION;
}

// The service's texts must be there before its certificates are touched.
[[nodiscard]] uint32_t CheckServiceKnown(uint32_t service) {
    ZORBELUServiceInfo info;
    const uint32_t known = GetServiceInfo(service, &info);
    if (known == ZORBELU_OK || known == ZORBELU_ERR_PARAM || known == ZORBELU_ERR_WINDOW) return known;
    return ZORBELU_ERR_EXCEPTION;
}

}  // namespace

uint32_t ManageServiceRootCertificates(platform::HINSTANCE module, uint32_t service, uint32_t operation,
                                       const ZORBELUBlob* token) {
    if (service >= kServiceCount || operation > static_cast<uint32_t>(RootOperation::Delete))
        return ZORBELU_ERR_PARAM;
    const auto op = static_cast<RootOperation>(operation);

    X509Ptr tsaCert;
    Names tsaNames;
    if (token != nullptr) {
        if (ReadTsaCertificate(token, &tsaCert) != ZORBELU_OK || !ReadNames(tsaCert.get(), &tsaNames))
            return ZORBELU_ERR_PARAM;
    }
    ChainFilter filter(service, token != nullptr ? &tsaNames : nullptr);

    Counters counters;
    for (const ServiceRoot& row : kServiceRoots) {
        if (service != kServiceWalkedToTheEnd && counters.cancelled > 0) break;
        if (row.service != service) continue;
        WalkRow(module, row, op, &filter, &counters);
    }
    return ResultOf(op, counters);
}

uint32_t ManageRootsOfService(uint32_t service, RootOperation operation) {
    const uint32_t last = operation == RootOperation::Delete ? kLastDeletableService : kServiceCount - 1;
    if (service > last) return ZORBELU_ERR_PARAM;
    if (const uint32_t known = CheckServiceKnown(service); known != ZORBELU_OK) return known;
    const frame::TemporaryResourceModule module;
    return ManageServiceRootCertificates(module.handle(), service, static_cast<uint32_t>(operation), nullptr);
}

uint32_t ManageRootsOfToken(const ZORBELUBlob* token, RootOperation operation) {
    uint32_t service = 0;
    if (const uint32_t found = GetServiceIdFromToken(token, &service); found != ZORBELU_OK) return found;
    if (const uint32_t known = CheckServiceKnown(service); known != ZORBELU_OK) return known;

    const frame::TemporaryResourceModule module;
    return ManageServiceRootCertificates(module.handle(), service, static_cast<uint32_t>(operation), token);
}

}  // namespace zorbelu::certs

using zorbelu::certs::ManageRootsOfService;
using zorbelu::certs::ManageRootsOfToken;
using zorbelu::certs::RootOperation;
using zorbelu::frame::GuardedExport;

extern "C" {

ZORBELU_API uint32_t ZORBELUAddRootCertificateToStore(uint32_t serviceId) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return ManageRootsOfService(serviceId, RootOperation::Add); });
}

ZORBELU_API uint32_t ZORBELUIsRootCertificateInStore(uint32_t serviceId) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return ManageRootsOfService(serviceId, RootOperation::Test); });
}

ZORBELU_API uint32_t ZORBELUDeleteRootCertificateFromStore(uint32_t serviceId) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION,
                         [&] { return ManageRootsOfService(serviceId, RootOperation::Delete); });
}

ZORBELU_API uint32_t ZORBELUAddRootCertificateOfTimeStampToStore(const ZORBELUBlob* token) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return ManageRootsOfToken(token, RootOperation::Add); });
}

ZORBELU_API uint32_t ZORBELUIsRootCertificateOfTimeStampInStore(const ZORBELUBlob* token) {
    return GuardedExport(ZORBELU_ERR_EXCEPTION, [&] { return ManageRootsOfToken(token, RootOperation::Test); });
}

}  // extern "C"
