// Fetching a CRL: within a size and a time limit, download it through the
// communication library, decode it and say whether it is still current.
// Every verification engine fetches its CRLs here; what a CRL then proves
// (its signature, issuer and revoked serials) is each engine's own check.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/deadline.h"
#include "x509/ossl_ptr.h"
#include "zorbelcomm.h"
#include "zorbelutil.h"

namespace zorbelu::certs {

// Where one download attempt may write.
struct DownloadRoom {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
};

// The room for attempt `attempt` (from 1); `reported` is the body size the
// previous attempt announced when its room was too small (0 for the first).
// An empty room ends the download (outOfRoom).
using DownloadRoomFor = std::function<DownloadRoom(int attempt, uint32_t reported)>;

struct DownloadLimits {
    int attempts = 1;                      // a room too small for the body costs one
    uint32_t maxBytes = UINT32_MAX;        // a body announced larger is not fetched again
    uint32_t perDownloadMs = UINT32_MAX;   // each attempt's own limit, within the deadline
};

struct Download {
    // 1; 1002 when the body never fitted; 1203 when the deadline passed
    // before an attempt; else the communication library's code.
    uint32_t result = ZORBELU_ERR_COMM_TIMEOUT;
    bool outOfRoom = false;  // no room for the next attempt (result 1002)
    const uint8_t* data = nullptr;  // the body, in the last room
    uint32_t length = 0;
};

// Downloads `url` over plain HTTP into the rooms `roomFor` gives. Nothing is
// started once the deadline has passed.
Download DownloadWithin(const char* url, const DownloadLimits& limits, const DownloadRoomFor& roomFor,
                        const platform::Deadline& deadline, ZORBELU_HWND owner);

// Rooms in a vector: `first` bytes, then `step` more per attempt; with a
// step of 0, as much as the previous answer announced (and none when that
// is no more than the room had).
class VectorRoom {
public:
    VectorRoom(uint32_t first, uint32_t step) : first_(first), step_(step) {}
    DownloadRoom operator()(int attempt, uint32_t reported);
    std::vector<uint8_t> bytes;

private:
    uint32_t first_;
    uint32_t step_;
};

// What a CRL's bytes are to a verification that is about to hand them on.
enum class CrlState { kUnreadable, kStale, kCurrent };

// The state of a CRL's bytes (DER or PEM; `encoding` gets 2 or 3). A DER CRL
// the compact reader takes is read compactly, once per process and shared
// with the revocation check that follows (a CRL of 500,000 entries costs
// tens of milliseconds and about 1.4 times its size); any other is decoded
// whole.
[[nodiscard]] CrlState ReadCrlState(const uint8_t* data, size_t length, uint32_t* encoding);

struct FetchedCrl {
    Download download;
    X509CrlPtr crl;          // NULL when nothing came, the body is no CRL, or only its state was asked
    uint32_t encoding = 0;   // 2 or 3, told from the bytes
    bool stale = true;       // past its nextUpdate, or unreadable
    CrlState state = CrlState::kUnreadable;
};

// Whether a fetch decodes the CRL whole (for a caller that works with
// OpenSSL's object) or tells its state alone (for one that hands the bytes
// to a core store, which reads them itself).
enum class CrlDecoding { kWhole, kStateOnly };

// How large a CRL may be downloaded. The library's calls keep the bounds
// their contract gives them (rooms of 10,000 bytes a pass in the CRL cache
// store, kMaxCrlBytes in the chain engine); a program with the library
// linked in (zorbelu) takes, for its whole process, CRLs of any size up to
// kProgramMaxCrlBytes, the most the communication library carries.
inline constexpr uint32_t kProgramMaxCrlBytes = ZORBELCOMM_MAX_BODY_BYTES;
// Called once, first thing in the program's main().
void TakeCrlsOfAnySize();
[[nodiscard]] bool TakesCrlsOfAnySize();
// The most bytes a CRL download may bring: `contract` in a host's calls,
// kProgramMaxCrlBytes once the program takes CRLs of any size.
[[nodiscard]] uint32_t CrlLimit(uint32_t contract);

// The one CRL fetch: download, decode, freshness.
FetchedCrl FetchCrl(const char* url, const DownloadLimits& limits, const DownloadRoomFor& roomFor,
                    const platform::Deadline& deadline, ZORBELU_HWND owner,
                    CrlDecoding decoding = CrlDecoding::kWhole);

// What a download that delivered no CRL means to a verification: 1202 or
// 1203 as they are; an authentication request is 1204 or 1205 only when
// credentials are configured, else 2506 like any other failure.
uint32_t CrlDownloadFailure(uint32_t result);

// True when the CRL must be downloaded again: it has no nextUpdate, or the
// clock has passed it. nextUpdate is read as UTCTime to the minute; its two
// year digits are always 20xx. A nextUpdate that is no DER UTCTime (a
// GeneralizedTime, a byte that is no digit, month 13) counts as passed.
bool IsCRLPastNextUpdate(const X509_CRL* crl);
bool IsPastNextUpdate(const ASN1_TIME* nextUpdate);  // the same for a CRL's nextUpdate (NULL: none)

}  // namespace zorbelu::certs
