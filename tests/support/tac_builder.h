// tac_builder.h - a time attribute certificate (docs/tac.md) for a TSA certificate, made with libcrypto.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zorbelu::fixtures {

struct TacTimingMetrics {
    uint32_t ntpSeconds = 0;  // audited time: seconds since 1900-01-01 (NTP era 0)
    uint32_t ntpFraction = 0; // binary fraction of a second
    uint32_t offsetSeconds = 0;
    uint32_t offsetMicros = 0;
    int32_t offsetDirection = 1;  // -1: the clock was behind its reference
    uint32_t delaySeconds = 0;
    uint32_t delayMicros = 0;
    uint32_t expirySeconds = 0;  // end of what the audit vouches for, NTP seconds
    uint32_t expiryFraction = 0;
};

struct TacTimingPolicy {
    std::string policyOid = "1.3.6.1.4.1.601.10.3.1";
    uint32_t maxOffsetSeconds = 0;
    uint32_t maxOffsetMicros = 500000;
    uint32_t maxDelaySeconds = 0;
    uint32_t maxDelayMicros = 250000;
};

struct TacParams {
    X509* holder = nullptr;         // the TSA certificate the TAC speaks for
    bool holderByEntityName = true; // entityName (its subject); else baseCertificateID (issuer + serial)
    const X509_NAME* issuer = nullptr;  // the TAC issuer's name
    std::vector<uint8_t> serial = {0x01};  // INTEGER content octets, as encoded
    std::string notBefore = "20050310025419Z";
    std::string notAfter = "20050313025419Z";
    TacTimingMetrics metrics;
    TacTimingPolicy policy;
    bool withPolicy = true;
    EVP_PKEY* signingKey = nullptr;  // RSA or EC
    const EVP_MD* digest = nullptr;  // NULL: SHA-256
};

// The DER of the attribute certificate (a plain SEQUENCE); empty on failure.
std::vector<uint8_t> BuildTac(const TacParams& params);

// NTP seconds (era 0) for Unix seconds.
inline uint32_t NtpSecondsFromUnix(int64_t unixSeconds) { return static_cast<uint32_t>(unixSeconds + 2208988800LL); }

}  // namespace zorbelu::fixtures
