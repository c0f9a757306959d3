#include "dialogs/signature/signature_texts.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "frame/resource_text.h"
#include "platform/clock.h"
#include "platform/time_zone.h"
#include "util/generalized_time.h"
#include "util/time_zones.h"

namespace zorbelu::dialogs {
namespace {

constexpr uint32_t kStringUnknownTime = 5011;
constexpr uint32_t kStringTimeFormat = 5040;
constexpr uint32_t kStringUnknownService = 5025;

struct CodeLine {
    uint32_t code;
    uint32_t stringId;
};

template <size_t N>
uint32_t LineOf(const CodeLine (&table)[N], uint32_t code) {
    for (const CodeLine& row : table)
        if (row.code == code) return row.stringId;
    return 0;
}

bool AllDigits(std::string_view text) {
    for (const char c : text)
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
    return true;
}

// The text before the first "Z".
std::string_view CutAtZ(std::string_view genTime) { return genTime.substr(0, genTime.find('Z')); }

// The digits after the point when there are any and all are digits.
std::string_view FractionOf(std::string_view cut) {
    const size_t point = cut.find('.');
    if (point == std::string_view::npos) return {};
    const std::string_view fraction = cut.substr(point + 1);
    return !fraction.empty() && AllDigits(fraction) ? fraction : std::string_view{};
}

}  // namespace

StatusText PlainStatusText(uint32_t status) {
    switch (status) {
        case ZORBELU_VS_NOT_VERIFIED: return {5001, kPictureQuestion};
        case ZORBELU_VS_OK: return {5002, kPictureCheck};
        case ZORBELU_VS_CERT_EXPIRED: return {5003, kPictureCross};
        case ZORBELU_VS_CERT_INVALID: return {5004, kPictureCross};
        case ZORBELU_VS_CERT_REVOKED: return {5005, kPictureCross};
        case ZORBELU_VS_CRL_EXPIRED: return {5006, kPictureCross};
        case ZORBELU_VS_REVOCATION_UNKNOWN: return {5007, kPictureQuestion};
        case ZORBELU_VS_CERT_UNTRUSTED: return {5008, kPictureQuestion};
        case ZORBELU_VS_DATA_DAMAGED: return {5009, kPictureCross};
        case ZORBELU_VS_DOCUMENT_EDITED: return {5010, kPictureWarning};
        case ZORBELU_VS_OK_EXTENDED: return {6013, kPictureCheck};
        case ZORBELU_VS_DOCUMENT_EDITED_EXTENDED: return {6014, kPictureWarning};
        case ZORBELU_VS_EXTENSION_UNCONFIRMED: return {6022, kPictureQuestion};
        default: return {0, kPictureCross};
    }
}

uint32_t IntegrityLineId(uint32_t status) {
    static constexpr CodeLine kLines[] = {{ZORBELU_VS_NOT_VERIFIED, 5056},         {ZORBELU_VS_OK, 5002},
                                          {ZORBELU_VS_DATA_DAMAGED, 5009},         {ZORBELU_VS_DOCUMENT_EDITED, 5010},
                                          {ZORBELU_VS_OK_EXTENDED, 5068},          {ZORBELU_VS_DOCUMENT_EDITED_EXTENDED, 5069},
                                          {ZORBELU_VS_EXTENSION_UNCONFIRMED, 6022}};
    return LineOf(kLines, status);
}

uint32_t ValidityLineId(uint32_t validityResult) {
    static constexpr CodeLine kLines[] = {{ZORBELU_OK, 5057}, {ZORBELU_VS_CERT_EXPIRED, 5003}};
    return LineOf(kLines, validityResult);
}

uint32_t RevocationLineId(uint32_t revocationResult) {
    static constexpr CodeLine kLines[] = {{ZORBELU_VS_NOT_REVOKED, 5058},
                                          {ZORBELU_VS_CERT_REVOKED, 5059},
                                          {ZORBELU_VS_CRL_UNAVAILABLE, 5060},
                                          {ZORBELU_VS_CRL_EXPIRED, 5061},
                                          {ZORBELU_VS_REVOCATION_UNKNOWN, 5062}};
    return LineOf(kLines, revocationResult);
}

uint32_t RootLineId(uint32_t rootResult) {
    static constexpr CodeLine kLines[] = {{ZORBELU_VS_CERT_SIGNATURE_OK, 5063},
                                          {ZORBELU_VS_CERT_INVALID, 5064},
                                          {ZORBELU_VS_ROOT_UNAVAILABLE, 5065},
                                          {ZORBELU_VS_CERT_UNTRUSTED, 5070}};
    return LineOf(kLines, rootResult);
}

std::string SummaryText(const std::string& integrity, const CheckResults& results, const std::string& validity,
                        const std::string& revocation, const std::string& root) {
    std::string summary = integrity;
    const auto appendFailed = [&summary](bool passed, const std::string& line) {
        if (!passed && !line.empty()) summary += "\r\n" + line;
    };
    appendFailed(results.validity == ZORBELU_OK, validity);
    appendFailed(results.revocation == ZORBELU_VS_NOT_REVOKED, revocation);
    appendFailed(results.root == ZORBELU_VS_CERT_SIGNATURE_OK, root);
    return summary;
}

int TabbedStatusPicture(const CheckResults& r) {
    if (r.status == ZORBELU_VS_NOT_VERIFIED) return kPictureQuestion;
    const bool allPassed = r.validity == ZORBELU_OK && r.revocation == ZORBELU_VS_NOT_REVOKED &&
                           r.root == ZORBELU_VS_CERT_SIGNATURE_OK;
    if ((r.status == ZORBELU_VS_OK || r.status == ZORBELU_VS_OK_EXTENDED) && allPassed) return kPictureCheck;
    if (r.status == ZORBELU_VS_DATA_DAMAGED) return kPictureCross;
    // An unauthentic CRL condemns the certificate only when its chain and
    // validity period were judged.
    const bool revocationFailed =
        r.revocation == ZORBELU_VS_CERT_REVOKED ||
        (r.revocation == ZORBELU_VS_REVOCATION_UNKNOWN && r.root != ZORBELU_VS_ROOT_UNAVAILABLE &&
         r.validity != ZORBELU_VS_CERT_EXPIRED);
    const bool rootFailed = r.root == ZORBELU_VS_CERT_INVALID || r.root == ZORBELU_VS_CERT_UNTRUSTED;
    return revocationFailed || rootFailed ? kPictureCross : kPictureWarning;
}

uint32_t ServiceNameId(std::string_view policyOid) {
    struct Service {
        std::string_view policy;
        uint32_t nameId;
    };
    static constexpr Service kServices[] = {{"0.2.440.731846.100.200.100", 5019},
                                            {"0.2.440.731846.100.200.101", 6023},
                                            {"0.2.440.731846.100.200.102", 6026},
                                            {"0.2.440.731859.100.200.100", 5022},
                                            {"1.2.410.100001.2.1.7.2", 5048}};
    for (const Service& s : kServices)
        if (s.policy == policyOid) return s.nameId;
    return kStringUnknownService;
}

bool IsAcceptedGenerationTime(std::string_view genTime) {
    if (genTime.size() < 15 || genTime.find('Z') == std::string_view::npos) return false;
    const std::string_view cut = CutAtZ(genTime);
    const size_t point = cut.find('.');
    if (point != std::string_view::npos) {
        const std::string_view fraction = cut.substr(point + 1);
        if (fraction.empty() || !AllDigits(fraction)) return false;
    }
    const std::string_view whole = cut.substr(0, point);
    return whole.size() == 14 && AllDigits(whole);
}

std::string TimeStampingTimeText(std::string_view genTime, const ZORBELUTimeZoneSelector* zone) {
    if (!IsAcceptedGenerationTime(genTime) || zone == nullptr) return frame::LoadResourceString(kStringUnknownTime);
    const std::string format = frame::LoadResourceString(kStringTimeFormat);
    const std::string text(genTime);
    const util::TPTimeZoneInfo zoneInfo(zone);
    const int64_t local = util::GeneralizedTimeToTimeT(text.c_str()) + int64_t{zoneInfo.offsetMinutes()} * 60;
    const auto seconds = static_cast<time_t>(local);
    std::tm brokenDown{};
    if (local < 0 || seconds != local || gmtime_r(&seconds, &brokenDown) == nullptr)
        throw std::invalid_argument("the time-stamping time cannot be broken down");
    char buffer[128];
    // The format is the string table's (a translation may reorder it).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const size_t written = std::strftime(buffer, sizeof buffer, format.c_str(), &brokenDown);
#pragma GCC diagnostic pop
    std::string result(buffer, written);
    if (const std::string_view fraction = FractionOf(CutAtZ(genTime)); !fraction.empty()) {
        result += '.';
        result.append(fraction);
    }
    result += ' ';
    result += zoneInfo.zoneText();
    return result;
}

ZORBELUTimeZoneSelector LocalZoneSelector() {
    return {ZORBELU_TIME_ZONE_FIXED_OFFSET, platform::LocalUtcOffsetMinutes(platform::Now())};
}

long StringTableNumber(uint32_t stringId) {
    const std::string text = frame::LoadResourceString(stringId);
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return errno == ERANGE ? 0 : value;
}

}  // namespace zorbelu::dialogs
