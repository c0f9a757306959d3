#include "certs/crl_fetch.h"

#include <atomic>
#include <ctime>
#include <string_view>

#include "certs/certificate_decoding.h"
#include "core/der_time.h"
#include "platform/clock.h"
#include "platform/stores/decoded_objects.h"
#include "zorbelcomm.h"

namespace zorbelu::certs {
namespace {

int TwoDigits(const unsigned char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

std::atomic<bool> crlsOfAnySize{false};

}  // namespace

Download DownloadWithin(const char* url, const DownloadLimits& limits, const DownloadRoomFor& roomFor,
                        const platform::Deadline& deadline, ZORBELU_HWND owner) {
    Download download;
    uint32_t reported = 0;
    for (int attempt = 1; attempt <= limits.attempts; ++attempt) {
        const DownloadRoom room = roomFor(attempt, reported);
        if (room.data == nullptr || room.capacity == 0) {
            download.result = ZORBELU_ERR_BUFFER_TOO_SMALL;
            download.outOfRoom = true;
            return download;
        }
        const uint32_t allowed = deadline.Allow(limits.perDownloadMs);
        if (allowed == 0) {
            download.result = ZORBELU_ERR_COMM_TIMEOUT;
            return download;
        }
        uint32_t length = room.capacity;
        download.result = ZORBELPRVGetHTTPFileEx(url, room.data, &length, allowed, owner);
        if (download.result == ZORBELCOMM_OK) {
            download.data = room.data;
            download.length = length;
            return download;
        }
        if (download.result != ZORBELCOMM_ERR_BUFFER_TOO_SMALL || length > limits.maxBytes) return download;
        reported = length;
    }
    return download;
}

DownloadRoom VectorRoom::operator()(int attempt, uint32_t reported) {
    size_t size = first_;
    if (attempt > 1 && step_ != 0) size = static_cast<size_t>(first_) + static_cast<size_t>(step_) * (attempt - 1);
    if (attempt > 1 && step_ == 0) {
        if (reported <= bytes.size()) return {};
        size = reported;
    }
    bytes.assign(size, 0);
    return {bytes.data(), static_cast<uint32_t>(bytes.size())};
}

void TakeCrlsOfAnySize() { crlsOfAnySize.store(true, std::memory_order_relaxed); }

bool TakesCrlsOfAnySize() { return crlsOfAnySize.load(std::memory_order_relaxed); }

uint32_t CrlLimit(uint32_t contract) { return TakesCrlsOfAnySize() ? kProgramMaxCrlBytes : contract; }

CrlState ReadCrlState(const uint8_t* data, size_t length, uint32_t* encoding) {
    const uint32_t detected = DetectEncoding(data, length);
    if (detected == ZORBELU_ENCODING_DER && length <= x509::kMaxCompactCrlBytes) {
        const auto compact = stores::SharedCompactCrl(stores::DigestOf(data, length), data, length);
        if (compact) {
            if (encoding != nullptr) *encoding = detected;
            return IsPastNextUpdate(compact->nextUpdate.get()) ? CrlState::kStale : CrlState::kCurrent;
        }
    }
    const X509CrlPtr crl = DecodeCrl(data, length, ZORBELU_ENCODING_DETECT, encoding);
    if (!crl) return CrlState::kUnreadable;
    return IsCRLPastNextUpdate(crl.get()) ? CrlState::kStale : CrlState::kCurrent;
}

FetchedCrl FetchCrl(const char* url, const DownloadLimits& limits, const DownloadRoomFor& roomFor,
                    const platform::Deadline& deadline, ZORBELU_HWND owner, CrlDecoding decoding) {
    FetchedCrl fetched;
    fetched.download = DownloadWithin(url, limits, roomFor, deadline, owner);
    if (fetched.download.result != ZORBELU_OK) return fetched;
    const uint8_t* data = fetched.download.data;
    const uint32_t length = fetched.download.length;
    if (decoding == CrlDecoding::kStateOnly) {
        fetched.state = ReadCrlState(data, length, &fetched.encoding);
    } else {
        fetched.crl = DecodeCrl(data, length, ZORBELU_ENCODING_DETECT, &fetched.encoding);
        fetched.state = !fetched.crl                           ? CrlState::kUnreadable
                        : IsCRLPastNextUpdate(fetched.crl.get()) ? CrlState::kStale
                                                                 : CrlState::kCurrent;
    }
    fetched.stale = fetched.state != CrlState::kCurrent;
    return fetched;
}

uint32_t CrlDownloadFailure(uint32_t result) {
    if (result == ZORBELU_ERR_COMM_PROXY_AUTH || result == ZORBELU_ERR_COMM_SERVER_AUTH) {
        // Without configured credentials an authentication request is just
        // an unobtainable CRL.
        char user[520] = {};
        return ZORBELPRVGetCredentialUser(user, sizeof user) == ZORBELU_ERR_NO_USER ? ZORBELU_VS_REVOCATION_UNKNOWN
                                                                                      : result;
    }
    if (result == ZORBELU_ERR_COMM_CONNECT || result == ZORBELU_ERR_COMM_TIMEOUT) return result;
    return ZORBELU_VS_REVOCATION_UNKNOWN;
}

bool IsCRLPastNextUpdate(const X509_CRL* crl) { return IsPastNextUpdate(X509_CRL_get0_nextUpdate(crl)); }

bool IsPastNextUpdate(const ASN1_TIME* next) {
    // Only a DER UTCTime is read; anything else (GeneralizedTime included) is
    // no usable nextUpdate, and the CRL is fetched again.
    if (next == nullptr || ASN1_STRING_type(next) != V_ASN1_UTCTIME) return true;
    const unsigned char* text = ASN1_STRING_get0_data(next);
    const std::string_view view(reinterpret_cast<const char*>(text), static_cast<size_t>(ASN1_STRING_length(next)));
    if (!zorbel::IsDerTime(view, zorbel::DerTimeType::kUtcTime)) return true;
    std::tm broken{};
    broken.tm_year = 2000 + TwoDigits(text) - 1900;
    broken.tm_mon = TwoDigits(text + 2) - 1;
    broken.tm_mday = TwoDigits(text + 4);
    broken.tm_hour = TwoDigits(text + 6);
    broken.tm_min = TwoDigits(text + 8);
    return platform::Now() > static_cast<int64_t>(timegm(&broken));
}

}  // namespace zorbelu::certs
