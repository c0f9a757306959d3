// ZORBELGetTimeStampInfoEx: the TSTInfo's fields in the 1044-byte record.
#include <algorithm>
#include <climits>
#include <cstring>

#include "core/boundary.h"
#include "core/integer_bytes.h"
#include "core/text.h"
#include "core/token_reader.h"

namespace zorbel {

namespace {

int32_t ClampedInt32(const ASN1_INTEGER* value) {
    if (value == nullptr) return 0;
    const long v = ASN1_INTEGER_get(value);
    return static_cast<int32_t>(std::clamp<long>(v, INT32_MIN, INT32_MAX));
}

void FillImprint(TS_TST_INFO* tst, ZORBELTimeStampInfo* info) {
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(tst);
    const X509_ALGOR* algorithm = TS_MSG_IMPRINT_get_algo(imprint);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    CopyText(info->hashAlgorithmOid, OidText(oid));
    const ASN1_OCTET_STRING* value = TS_MSG_IMPRINT_get_msg(imprint);
    const size_t length = std::min<size_t>(static_cast<size_t>(value->length), sizeof info->hashValue);
    if (length != 0) std::memcpy(info->hashValue, value->data, length);
    info->hashLength = static_cast<uint32_t>(length);
}

[[nodiscard]] bool FillSerial(TS_TST_INFO* tst, ZORBELTimeStampInfo* info) {
    std::vector<uint8_t> octets;
    if (!IntegerContentOctets(TS_TST_INFO_get_serial(tst), octets)) return false;
    // A serial longer than the field keeps its least significant octets.
    const size_t keep = std::min(octets.size(), sizeof info->serialNumber);
    std::memcpy(info->serialNumber, octets.data() + (octets.size() - keep), keep);
    info->serialNumberLength = static_cast<uint32_t>(keep);
    return true;
}

void FillTime(TS_TST_INFO* tst, ZORBELTimeStampInfo* info) {
    const ASN1_GENERALIZEDTIME* time = TS_TST_INFO_get_time(tst);
    if (time == nullptr || time->data == nullptr) return;
    CopyText(info->genTime,
             std::string_view(reinterpret_cast<const char*>(time->data), static_cast<size_t>(time->length)));
}

void FillAccuracy(TS_TST_INFO* tst, ZORBELTimeStampInfo* info) {
    TS_ACCURACY* accuracy = TS_TST_INFO_get_accuracy(tst);
    if (accuracy == nullptr) return;
    info->accuracySeconds = ClampedInt32(TS_ACCURACY_get_seconds(accuracy));
    info->accuracyMillis = ClampedInt32(TS_ACCURACY_get_millis(accuracy));
    info->accuracyMicros = ClampedInt32(TS_ACCURACY_get_micros(accuracy));
}

[[nodiscard]] uint32_t FillInfo(const ZORBELUBlob* blob, ZORBELTimeStampInfo* info) {
    Token token;
    if (const uint32_t rc = ReadToken(blob, token); rc != ZORBEL_OK) return rc;
    TS_TST_INFO* tst = token.tstInfo.get();
    // Fill a zeroed copy so that a failure leaves the caller's record as it was.
    ZORBELTimeStampInfo filled{};
    filled.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    filled.version = static_cast<int32_t>(TS_TST_INFO_get_version(tst));
    CopyText(filled.policyOid, OidText(TS_TST_INFO_get_policy_id(tst)));
    FillImprint(tst, &filled);
    if (!FillSerial(tst, &filled)) return ZORBEL_VERIFY_STRUCTURE;
    FillTime(tst, &filled);
    FillAccuracy(tst, &filled);
    filled.ordering = TS_TST_INFO_get_ordering(tst) ? 1 : 0;
    CopyText(filled.tsaName, GeneralNameText(TS_TST_INFO_get_tsa(tst)));
    *info = filled;
    return ZORBEL_OK;
}

}  // namespace

}  // namespace zorbel

extern "C" ZORBEL_API uint32_t ZORBELGetTimeStampInfoEx(const ZORBELUBlob* token, ZORBELTimeStampInfo* info) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (info == nullptr || info->size != ZORBEL_TIMESTAMP_INFO_SIZE) return ZORBEL_ERR_PARAM;
        return zorbel::FillInfo(token, info);
    });
}
