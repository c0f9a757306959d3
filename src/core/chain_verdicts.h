// The verdicts of the chain and revocation check remembered. X509_verify_cert
// checks the same signatures for every token of a TSA (its certificate, its
// CRLs); what it answers depends on nothing but the certificates and CRLs it
// is given and on the time it checks for.
//
// A verdict is found by the digest of all of its inputs (the TSA
// certificate, the token's other certificates, the store's CA certificates
// and CRLs, each by the SHA-256 of its bytes, in order): a change of a store
// folder or a refreshed CRL gives other inputs and so another key. It is
// kept only when every one of those certificates and CRLs was within its
// validity at the time checked, and it answers only while the time checked
// stays within all of those validities (latest notBefore and thisUpdate to
// earliest notAfter and nextUpdate): inside that window no time check of
// X509_verify_cert can come out otherwise.
#ifndef ZORBEL_CORE_CHAIN_VERDICTS_H
#define ZORBEL_CORE_CHAIN_VERDICTS_H

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

#include "platform/stores/content_digest.h"
#include "zorbel.h"

namespace zorbel {

// Verdicts remembered at once; the least recently used go first.
inline constexpr size_t kMaxChainVerdicts = 1024;

using ChainKey = zorbelu::stores::ContentDigest;

[[nodiscard]] ChainKey KeyOfChainCheck(X509* tsa, STACK_OF(X509) * intermediates, const ZORBELCertStore* store);

// The verdict remembered for `key` when `now` lies within its window.
[[nodiscard]] std::optional<uint32_t> RememberedChainVerdict(const ChainKey& key, time_t now);

// thisUpdate and nextUpdate (NULL when absent) of CRLs checked without
// OpenSSL's decoder.
using CrlTimes = std::vector<std::pair<const ASN1_TIME*, const ASN1_TIME*>>;

// Remembers the verdict of a check at `now` of `tsa` with `intermediates`,
// what `trusted` holds (certificates and CRLs) and the CRLs of `crlTimes`;
// nothing when one of them was not within its validity at `now`.
void RememberChainVerdict(const ChainKey& key, uint32_t verdict, time_t now, X509* tsa,
                          STACK_OF(X509) * intermediates, X509_STORE* trusted, const CrlTimes& crlTimes);

}  // namespace zorbel

#endif
