#include "core/plain_token.h"

#include <openssl/objects.h>

#include <cstring>
#include <string_view>

#include "core/cms_oids.h"
#include "core/der_time.h"
#include "core/integer_bytes.h"
#include "core/signed_attributes_signature.h"
#include "core/token_reader.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

constexpr uint8_t kPrintableString = 0x13;
constexpr uint8_t kUtf8String = 0x0C;
constexpr uint8_t kIa5String = 0x16;
constexpr uint8_t kUtcTime = 0x17;

struct DigestOid {
    uint8_t contents[9];
    size_t size;
    int nid;
};
// SHA-1, then SHA-256, SHA-384, SHA-512 and SHA-224 (2.16.840.1.101.3.4.2.1 to .4).
constexpr DigestOid kDigestOids[] = {
    {{0x2B, 0x0E, 0x03, 0x02, 0x1A}, 5, NID_sha1},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}, 9, NID_sha256},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}, 9, NID_sha384},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}, 9, NID_sha512},
    {{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04}, 9, NID_sha224},
};

bool IsOid(const der::Tlv& oid) { return oid.Is(der::kOid) && der::IsWellFormedOid(oid.contents); }

// A non-negative INTEGER in its shortest form, of at most `maxSize` octets.
bool IsNonNegativeInteger(const der::Span& c, size_t maxSize) {
    if (c.size == 0 || c.size > maxSize || (c.data[0] & 0x80) != 0) return false;
    return c.size == 1 || c.data[0] != 0 || (c.data[1] & 0x80) != 0;
}

// CMS versions are decoded into 32 bits.
constexpr size_t kVersionSize = 4;
constexpr size_t kAnySize = SIZE_MAX;

bool IsInteger(const der::Tlv& tlv, size_t maxSize = kAnySize) {
    return tlv.Is(der::kInteger) && IsNonNegativeInteger(tlv.contents, maxSize);
}

bool IsTime(const der::Tlv& tlv) {
    const std::string_view text(reinterpret_cast<const char*>(tlv.contents.data), tlv.contents.size);
    if (tlv.Is(der::kGeneralizedTime)) return IsDerTime(text, DerTimeType::kGeneralizedTime);
    return tlv.Is(kUtcTime) && IsDerTime(text, DerTimeType::kUtcTime);
}

// AlgorithmIdentifier with absent or NULL parameters; `oid` gets the OID,
// `whole` (when asked) the whole identifier.
bool ReadAlgorithm(der::Reader& fields, der::Tlv& oid, der::Tlv* whole = nullptr) {
    der::Tlv algorithm, parameters;
    if (!fields.Expect(der::kSequence, algorithm)) return false;
    if (whole != nullptr) *whole = algorithm;
    der::Reader inside = der::Inside(algorithm);
    if (!inside.Next(oid) || !IsOid(oid)) return false;
    if (inside.NextIf(der::kNull, parameters) && parameters.contents.size != 0) return false;
    return inside.AtEnd();
}

bool IsPrintableText(const der::Tlv& value) {
    if (!value.Is(kPrintableString) && !value.Is(kUtf8String) && !value.Is(kIa5String)) return false;
    for (size_t i = 0; i < value.contents.size; ++i)
        if (value.contents.data[i] < 0x20 || value.contents.data[i] > 0x7E) return false;
    return true;
}

// Name: RDNs, none empty, of (OID, printable ASCII text) pairs.
bool IsPlainName(const der::Tlv& name) {
    if (!name.Is(der::kSequence)) return false;
    der::Reader rdns = der::Inside(name);
    der::Tlv rdn, pair, type, value;
    while (!rdns.AtEnd()) {
        if (!rdns.Expect(der::kSet, rdn) || rdn.contents.size == 0) return false;
        der::Reader pairs = der::Inside(rdn);
        while (!pairs.AtEnd()) {
            if (!pairs.Expect(der::kSequence, pair)) return false;
            der::Reader fields = der::Inside(pair);
            if (!fields.Next(type) || !IsOid(type) || !fields.Next(value) || !IsPrintableText(value) ||
                !fields.AtEnd())
                return false;
        }
    }
    return true;
}

// A value OpenSSL keeps in an attribute decodes when its OIDs and times are
// well formed; SEQUENCE and SET values are kept as bytes.
bool IsDecodableValue(const der::Tlv& value) {
    if (value.Is(der::kOid)) return IsOid(value);
    if (value.Is(kUtcTime) || value.Is(der::kGeneralizedTime)) return IsTime(value);
    return value.Is(der::kOctetString) || value.Is(der::kSequence) || value.Is(der::kSet);
}

bool AreDecodableAttributes(const der::Tlv& signedAttributes) {
    der::Reader attributes = der::Inside(signedAttributes);
    der::Tlv attribute, oid, values, value;
    while (!attributes.AtEnd()) {
        if (!attributes.Expect(der::kSequence, attribute)) return false;
        der::Reader fields = der::Inside(attribute);
        if (!fields.Next(oid) || !IsOid(oid) || !fields.Expect(der::kSet, values)) return false;
        der::Reader inValues = der::Inside(values);
        while (!inValues.AtEnd())
            if (!inValues.Next(value) || !IsDecodableValue(value)) return false;
    }
    return true;
}

int DigestNid(const der::Tlv& oid) {
    for (const DigestOid& digest : kDigestOids)
        if (SameBytes(oid.contents, digest.contents, digest.size)) return digest.nid;
    return NID_undef;
}

// IssuerAndSerialNumber, or [0] IMPLICIT SubjectKeyIdentifier.
bool IsPlainSid(const der::Tlv& sid) {
    if (sid.Is(der::ContextPrimitive(0))) return true;
    if (!sid.Is(der::kSequence)) return false;
    der::Reader fields = der::Inside(sid);
    der::Tlv issuer, serial;
    return fields.Next(issuer) && IsPlainName(issuer) && fields.Next(serial) && IsInteger(serial) &&
           fields.AtEnd();
}

// SignerInfo { version, sid, digestAlgorithm, [0] signedAttrs, signatureAlgorithm, signature }.
bool ReadSignerInfo(const der::Tlv& signerInfo, PlainToken& out) {
    der::Reader fields = der::Inside(signerInfo);
    der::Tlv version, digestOid, signatureOid;
    SignerInfoBytes& signer = out.signer;
    if (!fields.Next(version) || !IsInteger(version, kVersionSize) || !fields.Next(out.sid) ||
        !IsPlainSid(out.sid) || !ReadAlgorithm(fields, digestOid))
        return false;
    out.digestNid = DigestNid(digestOid);
    if (out.digestNid == NID_undef || !fields.Expect(der::ContextConstructed(0), signer.signedAttributes) ||
        !ArePlainSignedAttributes(signer.signedAttributes) || !AreDecodableAttributes(signer.signedAttributes))
        return false;
    return ReadAlgorithm(fields, signatureOid, &signer.signatureAlgorithm) &&
           fields.Expect(der::kOctetString, signer.signature) && fields.AtEnd();
}

bool ReadDigestAlgorithms(const der::Tlv& set) {
    der::Reader algorithms = der::Inside(set);
    der::Tlv oid;
    while (!algorithms.AtEnd())
        if (!ReadAlgorithm(algorithms, oid)) return false;
    return true;
}

// EncapsulatedContentInfo { id-ct-TSTInfo, [0] EXPLICIT OCTET STRING }.
bool ReadEncapsulated(const der::Tlv& encapsulated, PlainToken& out) {
    der::Reader fields = der::Inside(encapsulated);
    der::Tlv type, explicitContent, content;
    if (!fields.Expect(der::kOid, type) || !SameBytes(type.contents, kTstInfoOid, sizeof kTstInfoOid) ||
        !fields.Expect(der::ContextConstructed(0), explicitContent) || !fields.AtEnd())
        return false;
    der::Reader inside = der::Inside(explicitContent);
    if (!inside.Expect(der::kOctetString, content) || !inside.AtEnd()) return false;
    out.eContent = content.contents;
    return true;
}

// The certificate set holding X.509 certificates only.
bool ReadCertificates(const der::Tlv& set, PlainToken& out) {
    der::Reader choices = der::Inside(set);
    der::Tlv choice;
    while (!choices.AtEnd()) {
        if (!choices.Expect(der::kSequence, choice)) return false;
        out.certificates.push_back(choice.whole);
    }
    return true;
}

// SignedData { version, digestAlgorithms, encapContentInfo, [0] certificates, signerInfos }.
bool ReadSignedData(const der::Tlv& signedData, PlainToken& out) {
    der::Reader fields = der::Inside(signedData);
    der::Tlv version, digestAlgorithms, encapsulated, certificates, signerInfos, signerInfo;
    if (!fields.Next(version) || !IsInteger(version, kVersionSize) || !fields.Expect(der::kSet, digestAlgorithms) ||
        !ReadDigestAlgorithms(digestAlgorithms) || !fields.Expect(der::kSequence, encapsulated) ||
        !ReadEncapsulated(encapsulated, out))
        return false;
    if (fields.NextIf(der::ContextConstructed(0), certificates) && !ReadCertificates(certificates, out)) return false;
    if (!fields.Expect(der::kSet, signerInfos) || !fields.AtEnd()) return false;
    der::Reader signers = der::Inside(signerInfos);
    return signers.Expect(der::kSequence, signerInfo) && signers.AtEnd() && ReadSignerInfo(signerInfo, out);
}

// Accuracy { seconds INTEGER OPTIONAL, millis [0] OPTIONAL, micros [1] OPTIONAL }.
bool IsPlainAccuracy(const der::Tlv& accuracy) {
    der::Reader fields = der::Inside(accuracy);
    der::Tlv field;
    if (fields.NextIf(der::kInteger, field) && !IsNonNegativeInteger(field.contents, kAnySize)) return false;
    if (fields.NextIf(der::ContextPrimitive(0), field) && !IsNonNegativeInteger(field.contents, kAnySize))
        return false;
    if (fields.NextIf(der::ContextPrimitive(1), field) && !IsNonNegativeInteger(field.contents, kAnySize))
        return false;
    return fields.AtEnd();
}

// tsa [0] EXPLICIT GeneralName, a directoryName [4] EXPLICIT Name.
bool IsPlainTsaName(const der::Tlv& tsa) {
    der::Reader inTsa = der::Inside(tsa);
    der::Tlv generalName, name;
    if (!inTsa.Expect(der::ContextConstructed(4), generalName) || !inTsa.AtEnd()) return false;
    der::Reader inName = der::Inside(generalName);
    return inName.Next(name) && IsPlainName(name) && inName.AtEnd();
}

// TSTInfo { version, policy, messageImprint, serialNumber, genTime,
// accuracy OPTIONAL, nonce OPTIONAL, tsa [0] OPTIONAL }: no ordering (its
// default), no extensions.
bool ReadTstInfo(const der::Span& eContent, PlainToken& out) {
    der::Reader top(eContent);
    der::Tlv tstInfo, version, policy, imprint, algorithm, value, serial, genTime, optional;
    if (!top.Expect(der::kSequence, tstInfo) || !top.AtEnd()) return false;
    der::Reader fields = der::Inside(tstInfo);
    if (!fields.Next(version) || !IsInteger(version, kVersionSize) || !fields.Next(policy) || !IsOid(policy) ||
        !fields.Expect(der::kSequence, imprint))
        return false;
    der::Reader inImprint = der::Inside(imprint);
    if (!ReadAlgorithm(inImprint, algorithm) || !inImprint.Expect(der::kOctetString, value) || !inImprint.AtEnd())
        return false;
    if (!fields.Next(serial) || !IsInteger(serial) || !fields.Next(genTime) || !genTime.Is(der::kGeneralizedTime) ||
        !IsTime(genTime))
        return false;
    if (fields.NextIf(der::kSequence, optional) && !IsPlainAccuracy(optional)) return false;
    if (fields.NextIf(der::kInteger, optional) && !IsInteger(optional)) return false;
    if (fields.NextIf(der::ContextConstructed(0), optional) && !IsPlainTsaName(optional)) return false;
    out.imprintAlgorithm = algorithm.contents;
    out.imprintValue = value.contents;
    return fields.AtEnd();
}

bool SameSerial(const der::Tlv& serial, X509* certificate) {
    std::vector<uint8_t> octets;
    return IntegerContentOctets(X509_get0_serialNumber(certificate), octets) &&
           SameBytes(serial.contents, octets.data(), octets.size());
}

// Equal bytes have equal canonical forms; other bytes are compared as
// OpenSSL compares names.
bool SameIssuer(const der::Tlv& issuer, X509* certificate) {
    const X509_NAME* certificateIssuer = X509_get_issuer_name(certificate);
    const unsigned char* der = nullptr;
    size_t size = 0;
    if (X509_NAME_get0_der(certificateIssuer, &der, &size) == 1 && SameBytes(issuer.whole, der, size)) return true;
    const unsigned char* p = issuer.whole.data;
    X509NamePtr name(d2i_X509_NAME(nullptr, &p, static_cast<long>(issuer.whole.size)));
    return name && X509_NAME_cmp(name.get(), certificateIssuer) == 0;
}

}  // namespace

bool ReadPlainToken(const std::vector<uint8_t>& contentInfo, PlainToken& out) {
    der::Tlv type, signedData;
    return ReadSignedDataContentInfo({contentInfo.data(), contentInfo.size()}, type, signedData) &&
           ReadSignedData(signedData, out) && ReadTstInfo(out.eContent, out);
}

bool PlainAttributeValue(const PlainToken& token, const uint8_t* oid, size_t oidSize, der::Tlv& value) {
    der::Reader attributes = der::Inside(token.signer.signedAttributes);
    der::Tlv attribute, type, values;
    while (attributes.Next(attribute)) {
        der::Reader fields = der::Inside(attribute);
        if (!fields.Next(type) || !SameBytes(type.contents, oid, oidSize)) continue;
        if (!fields.Next(values)) return false;
        der::Reader inValues = der::Inside(values);
        return inValues.Next(value);
    }
    return false;
}

bool PlainSignerIs(const PlainToken& token, X509* certificate) {
    if (token.sid.Is(der::ContextPrimitive(0))) {
        const ASN1_OCTET_STRING* keyId = X509_get0_subject_key_id(certificate);
        return keyId != nullptr && SameBytes(token.sid.contents, ASN1_STRING_get0_data(keyId),
                                             static_cast<size_t>(ASN1_STRING_length(keyId)));
    }
    der::Reader fields = der::Inside(token.sid);
    der::Tlv issuer, serial;
    return fields.Next(issuer) && fields.Next(serial) && SameSerial(serial, certificate) &&
           SameIssuer(issuer, certificate);
}

}  // namespace zorbel
