#include "core/tac_asn1.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/der_time.h"
#include "core/text.h"
#include "x509/hex.h"

namespace zorbel::tac {

namespace {

// Contents octets of the two attribute types' OBJECT IDENTIFIERs.
constexpr uint8_t kTimingMetricsOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x59, 0x0A, 0x04, 0x01};
constexpr uint8_t kTimingPolicyOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x84, 0x59, 0x0A, 0x04, 0x02};

std::string Text(const der::Span& span) {
    return std::string(reinterpret_cast<const char*>(span.data), span.size);
}

std::string Oid(const der::Tlv& oid) { return OidTextFromDer(oid.whole.data, oid.whole.size); }

// GeneralNames given as the contents of an IMPLICIT tag: re-wrapped as the
// SEQUENCE OpenSSL reads.
std::string ImplicitGeneralNamesText(const der::Tlv& tagged) {
    std::vector<uint8_t> names;
    der::AppendHeader(names, der::kSequence, tagged.contents.size);
    names.insert(names.end(), tagged.contents.data, tagged.contents.data + tagged.contents.size);
    return GeneralNamesTextFromDer(names.data(), names.size());
}

// IssuerSerial ::= SEQUENCE { issuer GeneralNames, serial INTEGER, ... },
// here as the contents of [0]: shown as "<issuer>, serial <hex>".
std::string BaseCertificateIdText(const der::Tlv& tagged) {
    der::Reader inside = der::Inside(tagged);
    der::Tlv names, serial;
    if (!inside.Expect(der::kSequence, names) || !inside.Expect(der::kInteger, serial)) return {};
    return GeneralNamesTextFromDer(names.whole.data, names.whole.size) + ", serial " +
           zorbelu::x509::HexText(serial.contents.data, serial.contents.size, zorbelu::x509::HexCase::kUpper);
}

// ObjectDigestInfo ::= SEQUENCE { digestedObjectType ENUMERATED,
//   otherObjectTypeID OID OPTIONAL, digestAlgorithm AlgorithmIdentifier, objectDigest BIT STRING }
[[nodiscard]] bool ReadObjectDigest(const der::Tlv& tagged, CertificateFields& fields) {
    der::Reader inside = der::Inside(tagged);
    der::Tlv type, other, algorithm, oid, digest;
    if (!inside.Expect(der::kEnumerated, type)) return false;
    (void)inside.NextIf(der::kOid, other);
    if (!inside.Expect(der::kSequence, algorithm) || !inside.Expect(der::kBitString, digest)) return false;
    der::Reader inAlgorithm = der::Inside(algorithm);
    if (!inAlgorithm.Expect(der::kOid, oid) || digest.contents.size == 0) return false;
    fields.holderHashOid = Oid(oid);
    fields.holderHash.assign(digest.contents.data + 1, digest.contents.data + digest.contents.size);
    return true;
}

// The holder's parts: [0] baseCertificateID, [1] entityName, [2] objectDigestInfo.
[[nodiscard]] bool ReadHolderParts(der::Reader& parts, CertificateFields& fields) {
    der::Tlv part;
    while (!parts.AtEnd()) {
        if (!parts.Next(part)) return false;
        if (part.Is(der::ContextConstructed(0)) && fields.holder.empty()) fields.holder = BaseCertificateIdText(part);
        else if (part.Is(der::ContextConstructed(1))) fields.holder = ImplicitGeneralNamesText(part);
        else if (part.Is(der::ContextConstructed(2)) && !ReadObjectDigest(part, fields)) return false;
    }
    return true;
}

// Holder is a SEQUENCE (v2); the obsolete v1 form gives one [0] or [1] choice.
[[nodiscard]] bool ReadHolder(const der::Tlv& holder, CertificateFields& fields) {
    if (holder.Is(der::kSequence)) {
        der::Reader parts = der::Inside(holder);
        return ReadHolderParts(parts, fields);
    }
    der::Reader single(holder.whole);
    return ReadHolderParts(single, fields);
}

// AttCertIssuer: v1Form GeneralNames, or v2Form [0] { issuerName GeneralNames OPTIONAL, ... }.
[[nodiscard]] bool ReadIssuer(const der::Tlv& issuer, CertificateFields& fields) {
    if (issuer.Is(der::kSequence)) {
        fields.issuer = GeneralNamesTextFromDer(issuer.whole.data, issuer.whole.size);
        return true;
    }
    if (!issuer.Is(der::ContextConstructed(0))) return false;
    der::Reader inside = der::Inside(issuer);
    der::Tlv names;
    if (inside.NextIf(der::kSequence, names)) fields.issuer = GeneralNamesTextFromDer(names.whole.data, names.whole.size);
    return true;
}

uint64_t Serial64(const der::Span& octets) {
    // Sign-extend short serials; keep the 64 low-order bits of long ones.
    uint64_t value = (octets.size != 0 && (octets.data[0] & 0x80)) ? ~uint64_t{0} : 0;
    for (size_t i = 0; i < octets.size; ++i) value = (value << 8) | octets.data[i];
    return value;
}

[[nodiscard]] bool ReadValidity(const der::Tlv& validity, CertificateFields& fields) {
    der::Reader inside = der::Inside(validity);
    der::Tlv notBefore, notAfter;
    if (!inside.Expect(der::kGeneralizedTime, notBefore) || !inside.Expect(der::kGeneralizedTime, notAfter))
        return false;
    // The texts are handed out as they are: they must be times.
    fields.notBefore = Text(notBefore.contents);
    fields.notAfter = Text(notAfter.contents);
    return IsDerTime(fields.notBefore, DerTimeType::kGeneralizedTime) &&
           IsDerTime(fields.notAfter, DerTimeType::kGeneralizedTime);
}

[[nodiscard]] bool ReadInfo(const der::Tlv& info, CertificateFields& fields) {
    der::Reader inside = der::Inside(info);
    der::Tlv version, holder, issuer, signature, serial, validity, attributes;
    uint32_t encodedVersion = 0;  // absent in the v1 form: DEFAULT v1 (0)
    if (inside.NextIf(der::kInteger, version) && !der::ReadUint32(version, encodedVersion)) return false;
    fields.version = static_cast<int32_t>(encodedVersion < 100 ? encodedVersion + 1 : 0);
    if (!inside.Next(holder) || !ReadHolder(holder, fields)) return false;
    if (!inside.Next(issuer) || !ReadIssuer(issuer, fields)) return false;
    if (!inside.Expect(der::kSequence, signature) || !inside.Expect(der::kInteger, serial)) return false;
    fields.serial = Serial64(serial.contents);
    if (!inside.Expect(der::kSequence, validity) || !ReadValidity(validity, fields)) return false;
    if (!inside.Expect(der::kSequence, attributes)) return false;
    fields.attributes = attributes.contents;
    return true;
}

// The single value of the attribute with the given type, if present.
Status FindAttribute(const CertificateFields& fields, const uint8_t* oid, size_t oidSize, der::Tlv& value) {
    der::Reader list(fields.attributes);
    der::Tlv attribute, type, values;
    while (!list.AtEnd()) {
        if (!list.Expect(der::kSequence, attribute)) return Status::kMalformed;
        der::Reader inside = der::Inside(attribute);
        if (!inside.Expect(der::kOid, type) || !inside.Expect(der::kSet, values)) return Status::kMalformed;
        if (type.contents.size != oidSize || std::memcmp(type.contents.data, oid, oidSize) != 0) continue;
        der::Reader valueReader = der::Inside(values);
        return valueReader.Next(value) ? Status::kOk : Status::kMalformed;
    }
    return Status::kNoAttribute;
}

// SEQUENCE { a INTEGER, b INTEGER } read as two unsigned 32-bit values.
[[nodiscard]] bool ReadPair(der::Reader& reader, uint32_t& a, uint32_t& b) {
    der::Tlv pair, first, second;
    if (!reader.Expect(der::kSequence, pair)) return false;
    der::Reader inside = der::Inside(pair);
    return inside.Next(first) && der::ReadUint32(first, a) && inside.Next(second) && der::ReadUint32(second, b);
}

// Offset ::= SEQUENCE { seconds, microseconds, direction INTEGER }
[[nodiscard]] bool ReadOffset(der::Reader& reader, TimingMetrics& metrics) {
    der::Tlv triple, seconds, micros, direction;
    if (!reader.Expect(der::kSequence, triple)) return false;
    der::Reader inside = der::Inside(triple);
    return inside.Next(seconds) && der::ReadUint32(seconds, metrics.offsetSeconds) && inside.Next(micros) &&
           der::ReadUint32(micros, metrics.offsetMicros) && inside.Next(direction) &&
           der::ReadInt32(direction, metrics.offsetDirection);
}

// [n] { SEQUENCE { seconds, microseconds } } of the policy.
[[nodiscard]] bool ReadLimit(const der::Tlv& tagged, uint32_t& seconds, uint32_t& micros) {
    der::Reader inside = der::Inside(tagged);
    return ReadPair(inside, seconds, micros);
}

// The policy is a SEQUENCE OF OBJECT IDENTIFIER (the first one counts), or
// a bare OBJECT IDENTIFIER.
[[nodiscard]] bool ReadPolicyId(const der::Tlv& element, TimingPolicy& policy) {
    if (element.Is(der::kOid)) {
        policy.policyOid = Oid(element);
        return true;
    }
    der::Reader inside = der::Inside(element);
    der::Tlv oid;
    if (!element.Is(der::kSequence) || !inside.Expect(der::kOid, oid)) return false;
    policy.policyOid = Oid(oid);
    return true;
}

}  // namespace

Status ReadCertificate(const std::vector<uint8_t>& der, CertificateFields& fields) {
    der::Reader top({der.data(), der.size()});
    der::Tlv certificate, info, algorithm, oid, signature;
    if (!top.Expect(der::kSequence, certificate)) return Status::kMalformed;
    der::Reader inside = der::Inside(certificate);
    if (!inside.Expect(der::kSequence, info) || !ReadInfo(info, fields)) return Status::kMalformed;
    if (!inside.Expect(der::kSequence, algorithm) || !inside.Expect(der::kBitString, signature))
        return Status::kMalformed;
    der::Reader inAlgorithm = der::Inside(algorithm);
    if (!inAlgorithm.Expect(der::kOid, oid) || signature.contents.size == 0) return Status::kMalformed;
    fields.signatureOid = Oid(oid);
    fields.signature.assign(signature.contents.data + 1, signature.contents.data + signature.contents.size);
    return Status::kOk;
}

Status ReadTimingMetrics(const CertificateFields& fields, TimingMetrics& metrics) {
    der::Tlv value;
    const Status found = FindAttribute(fields, kTimingMetricsOid, sizeof kTimingMetricsOid, value);
    if (found != Status::kOk) return found;
    if (!value.Is(der::kSequence)) return Status::kMalformed;
    der::Reader inside = der::Inside(value);
    const bool ok = ReadPair(inside, metrics.auditedTime.seconds, metrics.auditedTime.fraction) &&
                    ReadOffset(inside, metrics) && ReadPair(inside, metrics.delaySeconds, metrics.delayMicros) &&
                    ReadPair(inside, metrics.expiry.seconds, metrics.expiry.fraction);
    return ok ? Status::kOk : Status::kMalformed;
}

Status ReadTimingPolicy(const CertificateFields& fields, TimingPolicy& policy) {
    der::Tlv value;
    const Status found = FindAttribute(fields, kTimingPolicyOid, sizeof kTimingPolicyOid, value);
    if (found != Status::kOk) return found;
    if (!value.Is(der::kSequence)) return Status::kMalformed;
    der::Reader inside = der::Inside(value);
    der::Tlv policyId, limit;
    if (!inside.Next(policyId) || !ReadPolicyId(policyId, policy)) return Status::kMalformed;
    if (inside.NextIf(der::ContextConstructed(0), limit) &&
        !ReadLimit(limit, policy.maxOffsetSeconds, policy.maxOffsetMicros))
        return Status::kMalformed;
    if (inside.NextIf(der::ContextConstructed(1), limit) &&
        !ReadLimit(limit, policy.maxDelaySeconds, policy.maxDelayMicros))
        return Status::kMalformed;
    return Status::kOk;
}

std::string NtpTimeText(const NtpTime& time) {
    constexpr int64_t kUnixMinusNtp = 2208988800;  // seconds from 1900 to 1970
    constexpr int64_t kEra = int64_t{1} << 32;
    int64_t unixSeconds = static_cast<int64_t>(time.seconds) - kUnixMinusNtp;
    if (time.seconds < 0x80000000u) unixSeconds += kEra;  // era 1 starts in 2036
    const time_t when = static_cast<time_t>(unixSeconds);
    struct tm parts {};
    if (gmtime_r(&when, &parts) == nullptr) return {};
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &parts);
    std::string result(text, n);
    uint64_t micros = (static_cast<uint64_t>(time.fraction) * 1000000u + (uint64_t{1} << 31)) >> 32;
    if (micros > 999999) micros = 999999;
    if (micros != 0) {
        std::snprintf(text, sizeof text, ".%06u", static_cast<unsigned>(micros));
        std::string fraction(text);
        while (fraction.back() == '0') fraction.pop_back();
        result += fraction;
    }
    return result + "Z";
}

}  // namespace zorbel::tac
