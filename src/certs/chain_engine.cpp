#include "certs/chain_engine.h"
#include "certs/ca_issuers.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <functional>
#include <optional>
#include <string>

#include "certs/crl_fetch.h"
#include "certs/names.h"
#include "x509/decoding.h"
#include "x509/names.h"
#include "x509/urls.h"
#include "platform/clock.h"
#include "zorbelcomm.h"

namespace zorbelu::platform {
namespace {

using Bytes = std::vector<uint8_t>;

// Keeps the OpenSSL error queue as the engine found it.
class ErrorQueueMark {
public:
    ErrorQueueMark() { ERR_set_mark(); }
    ~ErrorQueueMark() { ERR_pop_to_mark(); }
    ErrorQueueMark(const ErrorQueueMark&) = delete;
    ErrorQueueMark& operator=(const ErrorQueueMark&) = delete;
};

X509Ptr DecodeDer(const Bytes& der) {
    const uint8_t* p = der.data();
    return x509::DecodeDerCertificateAt(&p, der.size());
}

Bytes EncodeDer(X509* certificate) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(certificate, &der);
    Bytes bytes;
    const OpenSslBytesPtr owned(der);
    if (size > 0) bytes.assign(der, der + size);
    return bytes;
}

// Subject of `issuer` reads the same as the issuer name of `child`.
bool NameMatches(X509* issuer, X509* child) {
    const uint8_t *subject = nullptr, *wanted = nullptr;
    size_t subjectLength = 0, wantedLength = 0;
    return x509::NameDer(X509_get_subject_name(issuer), &subject, &subjectLength) &&
           x509::NameDer(X509_get_issuer_name(child), &wanted, &wantedLength) &&
           certs::NamesEqual(subject, subjectLength, wanted, wantedLength);
}

// `issuer` issued `child` and its key verifies the child's signature.
bool SignatureVerifies(X509* issuer, X509* child) {
    if (X509_check_issued(issuer, child) != X509_V_OK) return false;
    EVP_PKEY* key = X509_get0_pubkey(issuer);
    return key != nullptr && X509_verify(child, key) == 1;
}

// Self-issued and signed with its own key (whatever its key usage says).
bool IsSelfSigned(X509* certificate) {
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    return NameMatches(certificate, certificate) && key != nullptr && X509_verify(certificate, key) == 1;
}

bool SameKey(X509* a, X509* b) {
    EVP_PKEY* first = X509_get0_pubkey(a);
    EVP_PKEY* second = X509_get0_pubkey(b);
    return first != nullptr && second != nullptr && EVP_PKEY_eq(first, second) == 1;
}

// Every download of one chain: within the call's deadline, and from at most
// kMaxUrlsPerChain URLs whatever the certificates name.
class ChainFetches {
public:
    explicit ChainFetches(const Deadline& deadline) : deadline_(deadline) {}

    // Downloads at most `limit` bytes of `url` within `timeoutMs` and the
    // deadline. A body that does not fit tells its size: one more attempt
    // with that much.
    std::optional<Bytes> Fetch(const char* url, uint32_t limit, uint32_t timeoutMs) {
        if (!Admit()) return std::nullopt;
        certs::VectorRoom room(kFirstRead, 0);
        const certs::Download download =
            certs::DownloadWithin(url, Limits(limit, timeoutMs), std::ref(room), deadline_, nullptr);
        if (download.result != ZORBELCOMM_OK) return std::nullopt;
        room.bytes.resize(download.length);
        return std::move(room.bytes);
    }

    // The same for a CRL, decoded: nothing when no body came.
    std::optional<certs::FetchedCrl> FetchCrl(const char* url, uint32_t limit, uint32_t timeoutMs) {
        if (!Admit()) return std::nullopt;
        certs::VectorRoom room(kFirstRead, 0);
        certs::FetchedCrl fetched =
            certs::FetchCrl(url, Limits(limit, timeoutMs), std::ref(room), deadline_, nullptr);
        if (fetched.download.result != ZORBELCOMM_OK) return std::nullopt;
        return fetched;
    }

private:
    static constexpr uint32_t kFirstRead = 16 * 1024;  // below every limit

    static certs::DownloadLimits Limits(uint32_t limit, uint32_t timeoutMs) { return {2, limit, timeoutMs}; }

    bool Admit() {
        if (urls_ >= kMaxUrlsPerChain || deadline_.Passed()) return false;
        ++urls_;
        return true;
    }

    const Deadline deadline_;
    size_t urls_ = 0;
};

// The certificates of a caIssuers download: DER, or PEM with several.
std::vector<X509Ptr> IssuerCertificates(const Bytes& bytes) {
    std::vector<X509Ptr> certificates;
    if (bytes.empty()) return certificates;
    if (x509::DetectEncoding(bytes.data(), bytes.size()) == x509::Encoding::kDer) {
        const uint8_t* p = bytes.data();
        if (X509Ptr certificate = x509::DecodeDerCertificateAt(&p, bytes.size()))
            certificates.push_back(std::move(certificate));
        return certificates;
    }
    (void)x509::ForEachPemCertificate(bytes.data(), bytes.size(), kMaxIssuerCertificatesPerDownload,
                                      [&](X509Ptr certificate) {
                                          certificates.push_back(std::move(certificate));
                                          return true;
                                      });
    return certificates;
}

// One system store with its certificates decoded, searched for issuers.
struct IssuerPool {
    UniqueCertStore store;
    std::vector<X509Ptr> decoded;  // parallel to store->entries

    explicit IssuerPool(const char* name) : store(CertOpenSystemStoreA(nullptr, name)) {
        if (!store) return;
        for (const stores::StoreEntry& entry : store->entries) decoded.push_back(DecodeDer(entry.der));
    }
    bool Holds(X509* certificate) const {
        if (!store) return false;
        for (const X509Ptr& candidate : decoded)
            if (candidate && X509_cmp(candidate.get(), certificate) == 0) return true;
        return false;
    }
    // A self-signed certificate is trusted when "ROOT" holds it, or a
    // certificate of the same name and key.
    bool Anchors(X509* certificate) const {
        if (!store) return false;
        for (const X509Ptr& candidate : decoded)
            if (candidate && NameMatches(candidate.get(), certificate) && SameKey(candidate.get(), certificate))
                return true;
        return false;
    }
};

struct Link {
    X509Ptr certificate;
    UniqueCertContext context;
    CERT_TRUST_STATUS status;
};

class ChainBuilder {
public:
    ChainBuilder(int64_t time, uint32_t flags, const Deadline& deadline)
        : time_(static_cast<time_t>(time)), flags_(flags), fetches_(deadline) {}

    std::unique_ptr<CERT_CHAIN_CONTEXT> Build(PCCERT_CONTEXT end) {
        X509Ptr certificate = DecodeDer(end->bytes);
        if (!certificate) return nullptr;
        links_.push_back({std::move(certificate), UniqueCertContext(CertDuplicateCertificateContext(end)), {}});
        Walk();
        if (chainErrors_ == CERT_TRUST_NO_ERROR) KeepFetchedIssuers();
        CheckTimes();
        if ((flags_ & CERT_CHAIN_REVOCATION_CHECK_END_CERT) != 0) CheckEndRevocation();
        return Result();
    }

private:
    bool InChain(X509* certificate) const {
        for (const Link& link : links_)
            if (X509_cmp(link.certificate.get(), certificate) == 0) return true;
        return false;
    }

    void Walk() {
        for (;;) {
            Link& current = links_.back();
            if (IsSelfSigned(current.certificate.get())) {
                current.status.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
                if (!root_.Anchors(current.certificate.get())) chainErrors_ |= CERT_TRUST_IS_UNTRUSTED_ROOT;
                return;
            }
            if (links_.size() >= kMaxChainLength) {
                chainErrors_ |= CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_EXCEEDS_LENGTH_LIMIT;
                return;
            }
            if (!FindInStores() && !FindThroughAia()) {
                chainErrors_ |= CERT_TRUST_IS_PARTIAL_CHAIN;
                if (cycleSeen_) chainErrors_ |= CERT_TRUST_IS_CYCLIC;
                if (nameMatched_ && !cycleSeen_) chainErrors_ |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
                return;
            }
        }
    }

    // "CA", then "ROOT": the first certificate that names and signs the
    // current one and is not in the chain yet.
    bool FindInStores() {
        X509* child = links_.back().certificate.get();
        nameMatched_ = cycleSeen_ = false;
        for (IssuerPool* pool : {&ca_, &root_}) {
            if (!pool->store) continue;
            for (size_t i = 0; i < pool->decoded.size(); ++i) {
                X509* candidate = pool->decoded[i].get();
                if (candidate == nullptr || !NameMatches(candidate, child)) continue;
                nameMatched_ = true;
                if (!SignatureVerifies(candidate, child)) continue;
                if (InChain(candidate)) {
                    cycleSeen_ = true;
                    continue;
                }
                Append(X509Ptr(X509_dup(candidate)), CertEnumAt(*pool, i));
                return true;
            }
        }
        return false;
    }

    static PCCERT_CONTEXT CertEnumAt(const IssuerPool& pool, size_t index) {
        const stores::StoreEntry& entry = pool.store->entries[index];
        auto* context = const_cast<CertContext*>(
            CertCreateCertificateContext(X509_ASN_ENCODING, entry.der.data(), static_cast<uint32_t>(entry.der.size())));
        if (context == nullptr) return nullptr;
        context->storeName = pool.store->store.Name();
        context->file = entry.file;
        context->readOnly = entry.readOnly;
        context->index = index;
        return context;
    }

    // The current certificate's caIssuers URLs: the first downloaded
    // certificate that verifies it. Nothing is kept yet: the chain through it
    // must reach a trusted root first.
    bool FindThroughAia() {
        if (cycleSeen_) return false;  // the issuer is there; the chain loops
        X509* child = links_.back().certificate.get();
        for (const std::string& url : x509::CaIssuerUrls(child, kMaxIssuerUrls)) {
            const std::optional<Bytes> bytes = fetches_.Fetch(url.c_str(), kMaxIssuerBytes, kIssuerTimeoutMs);
            if (!bytes) continue;
            for (X509Ptr& candidate : IssuerCertificates(*bytes)) {
                if (!NameMatches(candidate.get(), child) || !SignatureVerifies(candidate.get(), child) ||
                    InChain(candidate.get()))
                    continue;
                const Bytes der = EncodeDer(candidate.get());
                if (der.empty()) continue;
                if (!IsSelfSigned(candidate.get())) fetched_.push_back(links_.size());
                Append(std::move(candidate),
                       CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<uint32_t>(der.size())));
                return true;
            }
        }
        return false;
    }

    // The chain reached a trusted root with every signature verified: the
    // issuers it downloaded go into "CA", so that later walks of the system
    // stores find them. A certificate already there stays as it is ("already
    // there" is just as good), and a new file sorts after every other.
    void KeepFetchedIssuers() {
        if (!ca_.store) return;
        for (const size_t index : fetched_) {
            Link& link = links_[index];
            if (!link.context) continue;
            PCCERT_CONTEXT kept = nullptr;
            // When the store shows these bytes already, `kept` is its copy.
            (void)CertAddEncodedCertificateToStore(ca_.store.get(), X509_ASN_ENCODING, link.context->pbCertEncoded,
                                                   link.context->cbCertEncoded, CERT_STORE_ADD_NEW, &kept);
            if (kept != nullptr) link.context.reset(kept);
        }
    }

    void Append(X509Ptr certificate, PCCERT_CONTEXT context) {
        Link link{std::move(certificate), UniqueCertContext(context), {}};
        link.status.dwInfoStatus |= CERT_TRUST_HAS_NAME_MATCH_ISSUER;
        links_.push_back(std::move(link));
    }

    void CheckTimes() {
        for (Link& link : links_) {
            time_t at = time_;
            const int started = X509_cmp_time(X509_get0_notBefore(link.certificate.get()), &at);
            const int ends = X509_cmp_time(X509_get0_notAfter(link.certificate.get()), &at);
            if (started == 0 || ends == 0 || started > 0 || ends < 0)
                link.status.dwErrorStatus |= CERT_TRUST_IS_NOT_TIME_VALID;
        }
    }

    void CheckEndRevocation() {
        Link& end = links_.front();
        if (links_.size() == 1) {
            // A self-signed end certificate has nobody to revoke it.
            if ((end.status.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) == 0)
                end.status.dwErrorStatus |= CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
            return;
        }
        end.status.dwErrorStatus |= RevocationOf(end.certificate.get(), links_[1].certificate.get());
    }

    uint32_t RevocationOf(X509* certificate, X509* issuer) {
        const std::optional<x509::CrlUrl> url = x509::FirstCrlUrl(certificate);
        if (!url) return CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
        const std::optional<certs::FetchedCrl> fetched =
            fetches_.FetchCrl(url->url.c_str(), certs::CrlLimit(kMaxCrlBytes), kCrlTimeoutMs);
        if (!fetched) return CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        const X509CrlPtr& crl = fetched->crl;
        if (!crl) return CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
        // Only a CRL of the certificate's issuer, signed with its key, speaks for it.
        const uint8_t *crlIssuer = nullptr, *wanted = nullptr;
        size_t crlIssuerLength = 0, wantedLength = 0;
        EVP_PKEY* key = X509_get0_pubkey(issuer);
        if (!x509::NameDer(X509_CRL_get_issuer(crl.get()), &crlIssuer, &crlIssuerLength) ||
            !x509::NameDer(X509_get_issuer_name(certificate), &wanted, &wantedLength) ||
            !certs::NamesEqual(crlIssuer, crlIssuerLength, wanted, wantedLength) || key == nullptr ||
            X509_CRL_verify(crl.get(), key) != 1)
            return CERT_TRUST_REVOCATION_STATUS_UNKNOWN;
        time_t at = time_;
        const ASN1_TIME* thisUpdate = X509_CRL_get0_lastUpdate(crl.get());
        const ASN1_TIME* nextUpdate = X509_CRL_get0_nextUpdate(crl.get());
        if (thisUpdate == nullptr || X509_cmp_time(thisUpdate, &at) >= 0 || nextUpdate == nullptr ||
            X509_cmp_time(nextUpdate, &at) <= 0)
            return CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        X509_REVOKED* revoked = nullptr;
        // 1: listed; 2: listed as removeFromCRL, i.e. no longer revoked.
        return X509_CRL_get0_by_cert(crl.get(), &revoked, certificate) == 1 ? CERT_TRUST_IS_REVOKED
                                                                             : CERT_TRUST_NO_ERROR;
    }

    std::unique_ptr<CERT_CHAIN_CONTEXT> Result() {
        auto chain = std::make_unique<CERT_CHAIN_CONTEXT>();
        CERT_SIMPLE_CHAIN simple;
        uint32_t errors = chainErrors_;
        uint32_t info = 0;
        for (Link& link : links_) {
            errors |= link.status.dwErrorStatus;
            info |= link.status.dwInfoStatus;
            simple.rgpElement.push_back({std::move(link.context), link.status});
        }
        if ((chainErrors_ & CERT_TRUST_IS_UNTRUSTED_ROOT) != 0)
            simple.rgpElement.back().TrustStatus.dwErrorStatus |= CERT_TRUST_IS_UNTRUSTED_ROOT;
        simple.TrustStatus = {errors, info};
        chain->TrustStatus = {errors, info};
        chain->rgpChain.push_back(std::move(simple));
        return chain;
    }

    const time_t time_;
    const uint32_t flags_;
    ChainFetches fetches_;
    IssuerPool ca_{"CA"};
    IssuerPool root_{"ROOT"};
    std::vector<Link> links_;
    std::vector<size_t> fetched_;  // links downloaded through caIssuers, not self-signed
    uint32_t chainErrors_ = CERT_TRUST_NO_ERROR;
    bool nameMatched_ = false;
    bool cycleSeen_ = false;
};

}  // namespace

bool CertGetCertificateChain(void* engine, PCCERT_CONTEXT certificate, const int64_t* time,
                             HCERTSTORE additionalStore, const CERT_CHAIN_PARA* chainPara, uint32_t flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chainContext) {
    if (chainContext != nullptr) *chainContext = nullptr;
    if (engine != nullptr || certificate == nullptr || additionalStore != nullptr || reserved != nullptr ||
        chainContext == nullptr || chainPara == nullptr || chainPara->RequestedUsage.cUsageIdentifier != 0) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    const ErrorQueueMark mark;
    const Deadline deadline =
        chainPara->pDeadline != nullptr ? *chainPara->pDeadline : Deadline::After(kDefaultChainDeadlineMs);
    ChainBuilder builder(time != nullptr ? *time : Now(), flags, deadline);
    std::unique_ptr<CERT_CHAIN_CONTEXT> chain = builder.Build(certificate);
    if (!chain) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    *chainContext = chain.release();
    SetLastError(S_OK);
    return true;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chainContext) { delete chainContext; }

std::vector<std::string> CaIssuerUrls(X509* certificate) { return x509::CaIssuerUrls(certificate, kMaxIssuerUrls); }

std::vector<X509Ptr> CaIssuerCertificates(const std::vector<uint8_t>& bytes) { return IssuerCertificates(bytes); }

}  // namespace zorbelu::platform
