// The time attribute certificate (TAC) calls: extraction from a token and
// the three records the TAC dialog shows.
#include <algorithm>
#include <cstring>

#include "core/ber_to_der.h"
#include "core/boundary.h"
#include "core/tac_asn1.h"
#include "core/text.h"
#include "core/token_reader.h"

namespace zorbel {

namespace {

uint32_t ResultOf(tac::Status status) {
    switch (status) {
        case tac::Status::kOk: return ZORBEL_OK;
        case tac::Status::kNoAttribute: return ZORBEL_ERR_TAC_NO_ATTRIBUTE;
        case tac::Status::kMalformed: break;
    }
    return ZORBEL_ERR_TAC_FORMAT;
}

// Reads a caller's TAC; `der` keeps the bytes `fields` points into.
[[nodiscard]] uint32_t ReadTac(const ZORBELUBlob* blob, std::vector<uint8_t>& der, tac::CertificateFields& fields) {
    if (!IsUsableBlob(blob)) return ZORBEL_ERR_PARAM;
    if (!BerToDer(blob->data, blob->length, der)) return ZORBEL_ERR_TAC_FORMAT;
    return ResultOf(tac::ReadCertificate(der, fields));
}

template <size_t N>
uint32_t CopyBytes(uint8_t (&field)[N], const std::vector<uint8_t>& bytes) {
    const size_t n = std::min(bytes.size(), N);
    if (n != 0) std::memcpy(field, bytes.data(), n);
    return static_cast<uint32_t>(n);
}

float Seconds(uint32_t seconds, uint32_t micros) {
    return static_cast<float>(static_cast<double>(seconds) + static_cast<double>(micros) / 1e6);
}

void FillCertInfo(const tac::CertificateFields& fields, ZORBELTACCertInfo& info) {
    info.version = fields.version;
    CopyText(info.holder, fields.holder);
    CopyText(info.holderHashAlgorithmOid, fields.holderHashOid);
    info.holderHashLength = CopyBytes(info.holderHashValue, fields.holderHash);
    CopyText(info.issuer, fields.issuer);
    info.serialNumber[0] = static_cast<uint32_t>(fields.serial >> 32);
    info.serialNumber[1] = static_cast<uint32_t>(fields.serial & 0xFFFFFFFFu);
    CopyText(info.notBefore, fields.notBefore);
    CopyText(info.notAfter, fields.notAfter);
    CopyText(info.signatureAlgorithmOid, fields.signatureOid);
    info.signatureLength = CopyBytes(info.signatureValue, fields.signature);
}

[[nodiscard]] uint32_t ExtractTac(const ZORBELUBlob* blob, ZORBELUCertBlob* out) {
    Token token;
    if (const uint32_t rc = ReadToken(blob, token); rc != ZORBEL_OK) return rc;
    std::vector<uint8_t> tac;
    if (!FirstAttributeCertificate(token, tac)) return ZORBEL_ERR_NO_TAC;
    return WriteOutput(out, tac.data(), tac.size());
}

[[nodiscard]] uint32_t CertInfo(const ZORBELUBlob* blob, ZORBELTACCertInfo* info) {
    std::vector<uint8_t> der;
    tac::CertificateFields fields;
    if (const uint32_t rc = ReadTac(blob, der, fields); rc != ZORBEL_OK) return rc;
    ZORBELTACCertInfo filled{};
    FillCertInfo(fields, filled);
    *info = filled;
    return ZORBEL_OK;
}

[[nodiscard]] uint32_t TimingMetrics(const ZORBELUBlob* blob, ZORBELTACTimingMetrics* out) {
    std::vector<uint8_t> der;
    tac::CertificateFields fields;
    tac::TimingMetrics metrics;
    if (const uint32_t rc = ReadTac(blob, der, fields); rc != ZORBEL_OK) return rc;
    if (const uint32_t rc = ResultOf(tac::ReadTimingMetrics(fields, metrics)); rc != ZORBEL_OK) return rc;
    ZORBELTACTimingMetrics filled{};
    CopyText(filled.auditedTime, tac::NtpTimeText(metrics.auditedTime));
    const float offset = Seconds(metrics.offsetSeconds, metrics.offsetMicros);
    filled.offset = metrics.offsetDirection < 0 ? -offset : offset;
    filled.delay = Seconds(metrics.delaySeconds, metrics.delayMicros);
    CopyText(filled.expiration, tac::NtpTimeText(metrics.expiry));
    *out = filled;
    return ZORBEL_OK;
}

[[nodiscard]] uint32_t TimingPolicy(const ZORBELUBlob* blob, ZORBELTACTimingPolicy* out) {
    std::vector<uint8_t> der;
    tac::CertificateFields fields;
    tac::TimingPolicy policy;
    if (const uint32_t rc = ReadTac(blob, der, fields); rc != ZORBEL_OK) return rc;
    if (const uint32_t rc = ResultOf(tac::ReadTimingPolicy(fields, policy)); rc != ZORBEL_OK) return rc;
    ZORBELTACTimingPolicy filled{};
    CopyText(filled.policyOid, policy.policyOid);
    filled.offset = Seconds(policy.maxOffsetSeconds, policy.maxOffsetMicros);
    filled.delay = Seconds(policy.maxDelaySeconds, policy.maxDelayMicros);
    *out = filled;
    return ZORBEL_OK;
}

}  // namespace

}  // namespace zorbel

extern "C" {

ZORBEL_API uint32_t ZORBELGetTAC(const ZORBELUBlob* token, ZORBELUCertBlob* out) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (out == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::ExtractTac(token, out);
    });
}

ZORBEL_API uint32_t ZORBELGetTACCertInfo(const ZORBELUBlob* tac, ZORBELTACCertInfo* info) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (info == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::CertInfo(tac, info);
    });
}

ZORBEL_API uint32_t ZORBELGetTACTimingMetrics(const ZORBELUBlob* tac, ZORBELTACTimingMetrics* metrics) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (metrics == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::TimingMetrics(tac, metrics);
    });
}

ZORBEL_API uint32_t ZORBELGetTACTimingPolicy(const ZORBELUBlob* tac, ZORBELTACTimingPolicy* policy) {
    return zorbel::Guarded([&]() -> uint32_t {
        if (policy == nullptr) return ZORBEL_ERR_PARAM;
        return zorbel::TimingPolicy(tac, policy);
    });
}

}  // extern "C"
