// Reading a time attribute certificate (TAC): an RFC 5755 attribute
// certificate whose attributes carry the TSA clock's audit (TimingMetrics,
// 1.3.6.1.4.1.601.10.4.1) and the policy it was audited under
// (TimingPolicy, 1.3.6.1.4.1.601.10.4.2). docs/tac.md gives the ASN.1.
// Everything is read with the bounded DER reader: the timing attributes
// carry fixed 4-byte INTEGERs that OpenSSL's INTEGER decoding refuses.
#ifndef ZORBEL_CORE_TAC_ASN1_H
#define ZORBEL_CORE_TAC_ASN1_H

#include <cstdint>
#include <string>
#include <vector>

#include "x509/der.h"

namespace zorbel::tac {

struct CertificateFields {
    int32_t version = 0;  // as named: v2 (encoded 1) is 2
    std::string holder;
    std::string holderHashOid;
    std::vector<uint8_t> holderHash;
    std::string issuer;
    uint64_t serial = 0;  // two's complement, 64 low-order bits
    std::string notBefore;
    std::string notAfter;
    std::string signatureOid;
    std::vector<uint8_t> signature;
    der::Span attributes;  // contents of the attributes SEQUENCE, inside the caller's bytes
};

// An NTP timestamp: seconds since 1900-01-01 and a binary fraction.
struct NtpTime {
    uint32_t seconds = 0;
    uint32_t fraction = 0;
};

struct TimingMetrics {
    NtpTime auditedTime;
    uint32_t offsetSeconds = 0;
    uint32_t offsetMicros = 0;
    int32_t offsetDirection = 0;  // negative: the clock was behind its reference
    uint32_t delaySeconds = 0;
    uint32_t delayMicros = 0;
    NtpTime expiry;  // when the audit stops vouching for the clock
};

struct TimingPolicy {
    std::string policyOid;
    uint32_t maxOffsetSeconds = 0;
    uint32_t maxOffsetMicros = 0;
    uint32_t maxDelaySeconds = 0;
    uint32_t maxDelayMicros = 0;
};

enum class Status { kOk, kMalformed, kNoAttribute };

// `der` must stay alive while `fields.attributes` is used.
[[nodiscard]] Status ReadCertificate(const std::vector<uint8_t>& der, CertificateFields& fields);
[[nodiscard]] Status ReadTimingMetrics(const CertificateFields& fields, TimingMetrics& metrics);
[[nodiscard]] Status ReadTimingPolicy(const CertificateFields& fields, TimingPolicy& policy);

// "YYYYMMDDhhmmss[.ffffff]Z" (fraction to the microsecond, trailing zeros
// dropped); NTP seconds below 2^31 are taken as the era after 2036.
std::string NtpTimeText(const NtpTime& time);

}  // namespace zorbel::tac

#endif
