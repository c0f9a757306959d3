// The TSA certificate's revocation check inside X509_verify_cert, made with
// the store's CRLs read compactly (platform/stores/decoded_objects.h): the
// CRL's signature over its raw tbsCertList with the issuer's key, its times,
// and a binary search for the serial. It runs where OpenSSL runs its own
// check and reports its errors the same way, so the verdicts are OpenSSL's.
//
// Only the plain case is checked here: one CRL of the certificate's issuer,
// which names that issuer's key (or no key), no CRL scope or delta CRLs, a
// certificate whose distribution points carry no reasons or CRL issuers.
// Anything else is handed to OpenSSL's own check, the CRLs decoded in full.
#ifndef ZORBEL_CORE_CRL_REVOCATION_H
#define ZORBEL_CORE_CRL_REVOCATION_H

#include <openssl/x509_vfy.h>

#include <functional>
#include <memory>
#include <vector>

#include "core/chain_verdicts.h"
#include "platform/stores/decoded_objects.h"
#include "zorbel.h"

namespace zorbel {

using CompactCrls = std::vector<std::shared_ptr<const zorbelu::stores::CompactCrlParts>>;

// The store's CRLs read compactly; false when one of them is not a single
// DER CRL the compact reader takes (the store is then checked in full).
[[nodiscard]] bool ReadCompactCrls(const ZORBELCertStore* store, CompactCrls& out);

// thisUpdate and nextUpdate of each CRL, for the verdict's window.
CrlTimes TimesOf(const CompactCrls& crls);

class CompactRevocation {
public:
    // `addFullCrls` puts the store's CRLs, decoded by OpenSSL, into a store.
    CompactRevocation(const CompactCrls& crls, std::function<bool(X509_STORE*)> addFullCrls)
        : crls_(crls), addFullCrls_(std::move(addFullCrls)) {}

    // Makes contexts over `trusted` check revocation here (before they are
    // initialised), and `context` (initialised over it) use this object.
    static void Install(X509_STORE* trusted);
    void Attach(X509_STORE_CTX* context);
    // True when the full decoder was needed and a CRL did not decode.
    bool BadStoreEntry() const { return badStoreEntry_; }

private:
    static int Check(X509_STORE_CTX* context);
    int CheckLeaf(X509_STORE_CTX* context);
    int CheckInFull(X509_STORE_CTX* context);

    const CompactCrls& crls_;
    std::function<bool(X509_STORE*)> addFullCrls_;
    bool badStoreEntry_ = false;
};

}  // namespace zorbel

#endif
