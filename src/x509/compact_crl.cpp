#include "x509/compact_crl.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

#include "x509/ossl_ptr.h"

namespace zorbelu::x509 {
namespace {

using zorbel::der::Reader;
using zorbel::der::Span;
using zorbel::der::Tlv;
namespace der = zorbel::der;

constexpr uint8_t kBoolean = 0x01;
constexpr uint8_t kUtcTime = 0x17;
constexpr uint8_t kReasonCodeOid[] = {0x55, 0x1D, 0x15};  // 2.5.29.21
constexpr uint8_t kCrlNumberOid[] = {0x55, 0x1D, 0x14};     // 2.5.29.20
constexpr uint8_t kAuthorityKeyIdOid[] = {0x55, 0x1D, 0x23};  // 2.5.29.35

bool IsTime(const Tlv& tlv) { return tlv.Is(kUtcTime) || tlv.Is(der::kGeneralizedTime); }

// The DER rule OpenSSL's decoder holds INTEGERs to: some contents, and no
// leading octet that only repeats the sign of the next one.
bool IsMinimalInteger(const Tlv& tlv) {
    const Span c = tlv.contents;
    if (!tlv.Is(der::kInteger) || c.size == 0) return false;
    if (c.size == 1) return true;
    return !(c.data[0] == 0x00 && (c.data[1] & 0x80) == 0) && !(c.data[0] == 0xFF && (c.data[1] & 0x80) != 0);
}

// Name ::= SEQUENCE OF SET OF SEQUENCE { type OID, value ANY }.
bool IsName(const Tlv& name) {
    if (!name.Is(der::kSequence)) return false;
    Reader rdns = der::Inside(name);
    Tlv rdn, pair, part;
    while (!rdns.AtEnd()) {
        if (!rdns.Expect(der::kSet, rdn)) return false;
        Reader pairs = der::Inside(rdn);
        if (pairs.AtEnd()) return false;
        while (!pairs.AtEnd()) {
            if (!pairs.Expect(der::kSequence, pair)) return false;
            Reader inside = der::Inside(pair);
            if (!inside.Expect(der::kOid, part) || !inside.Next(part) || !inside.AtEnd()) return false;
        }
    }
    return true;
}

bool IsOneInteger(Span value) {
    Reader reader(value);
    Tlv integer;
    return reader.Next(integer) && IsMinimalInteger(integer) && reader.AtEnd();
}

struct Extension {
    Span oid;
    bool critical = false;
    Span value;  // the OCTET STRING's contents
};

bool ReadExtension(const Tlv& tlv, Extension& out) {
    if (!tlv.Is(der::kSequence)) return false;
    Reader inside = der::Inside(tlv);
    Tlv oid, field;
    if (!inside.Expect(der::kOid, oid) || !der::IsWellFormedOid(oid.contents) || !inside.Next(field)) return false;
    if (field.Is(kBoolean)) {
        if (field.contents.size != 1) return false;
        out.critical = field.contents.data[0] != 0;
        if (!inside.Next(field)) return false;
    }
    if (!field.Is(der::kOctetString) || !inside.AtEnd()) return false;
    out.oid = oid.contents;
    out.value = field.contents;
    return true;
}

bool IsOid(Span oid, const uint8_t* expected, size_t size) {
    return oid.size == size && std::memcmp(oid.data, expected, size) == 0;
}

// CRLReason ::= ENUMERATED, inside the extension's OCTET STRING; nullopt for
// anything this reader leaves to the full decoder.
std::optional<int8_t> ReasonOf(Span value) {
    Reader reader(value);
    Tlv reason;
    if (!reader.Expect(der::kEnumerated, reason) || !reader.AtEnd() || reason.contents.size != 1) return std::nullopt;
    const uint8_t code = reason.contents.data[0];
    if (code > 10) return std::nullopt;
    return static_cast<int8_t>(code);
}

bool SerialLess(const uint8_t* base, const RevokedEntry& a, const RevokedEntry& b) {
    if (a.serialLength != b.serialLength) return a.serialLength < b.serialLength;
    return std::memcmp(base + a.serialOffset, base + b.serialOffset, a.serialLength) < 0;
}

// Every part of a CRL but its entries, judged by OpenSSL's own decoder:
// the same CRL without its list of entries, decoded. The entries' serials,
// dates and reasons are held to OpenSSL's rules by this reader; the
// algorithm identifiers, the issuer's name, the times and the extensions are
// OpenSSL's to accept or refuse, at a cost that does not grow with the
// entries.
bool OpenSslTakesAllButTheEntries(const Tlv& tbs, Span entryList, const Tlv& algorithm, const Tlv& signature) {
    const uint8_t* tbsEnd = tbs.contents.data + tbs.contents.size;
    const uint8_t* listStart = entryList.data != nullptr ? entryList.data : tbsEnd;
    const uint8_t* listEnd = entryList.data != nullptr ? entryList.data + entryList.size : tbsEnd;
    std::vector<uint8_t> tbsFields(tbs.contents.data, listStart);
    tbsFields.insert(tbsFields.end(), listEnd, tbsEnd);
    std::vector<uint8_t> skeleton;
    const size_t tbsHeader = [&] {
        std::vector<uint8_t> header;
        der::AppendHeader(header, der::kSequence, tbsFields.size());
        return header.size();
    }();
    der::AppendHeader(skeleton, der::kSequence,
                      tbsHeader + tbsFields.size() + algorithm.whole.size + signature.whole.size);
    der::AppendHeader(skeleton, der::kSequence, tbsFields.size());
    skeleton.insert(skeleton.end(), tbsFields.begin(), tbsFields.end());
    skeleton.insert(skeleton.end(), algorithm.whole.data, algorithm.whole.data + algorithm.whole.size);
    skeleton.insert(skeleton.end(), signature.whole.data, signature.whole.data + signature.whole.size);
    const unsigned char* p = skeleton.data();
    const X509CrlPtr decoded(d2i_X509_CRL(nullptr, &p, static_cast<long>(skeleton.size())));
    ERR_clear_error();
    return decoded && p == skeleton.data() + skeleton.size();
}

}  // namespace

CompactCrl::Range CompactCrl::RangeOf(Span s) const {
    return {static_cast<uint32_t>(s.data - der_.data()), static_cast<uint32_t>(s.size)};
}

std::optional<CompactCrl> CompactCrl::Parse(const uint8_t* der, size_t size) {
    if (der == nullptr || size == 0 || size > kMaxCompactCrlBytes) return std::nullopt;
    CompactCrl crl;
    crl.der_.assign(der, der + size);
    Reader outer(Span{crl.der_.data(), size});
    Tlv whole, tbs, algorithm, signature;
    if (!outer.Expect(der::kSequence, whole) || !outer.AtEnd()) return std::nullopt;
    Reader parts = der::Inside(whole);
    if (!parts.Expect(der::kSequence, tbs) || !parts.Expect(der::kSequence, algorithm) ||
        !parts.Expect(der::kBitString, signature) || !parts.AtEnd() || signature.contents.size == 0)
        return std::nullopt;
    if (!crl.ReadTbs(tbs) || !OpenSslTakesAllButTheEntries(tbs, crl.entryList_, algorithm, signature))
        return std::nullopt;
    crl.entryList_ = {};
    crl.tbs_ = crl.RangeOf(tbs.whole);
    crl.signatureAlgorithm_ = crl.RangeOf(algorithm.whole);
    crl.signature_ = crl.RangeOf(signature.contents);
    return crl;
}

bool CompactCrl::ReadTbs(const Tlv& tbs) {
    Reader fields = der::Inside(tbs);
    Tlv version, algorithm, issuer, thisUpdate, field;
    if (fields.NextIf(der::kInteger, version) && !IsMinimalInteger(version)) return false;
    if (!fields.Expect(der::kSequence, algorithm) || !fields.Next(issuer) || !IsName(issuer)) return false;
    innerAlgorithm_ = RangeOf(algorithm.whole);
    if (!fields.Next(thisUpdate) || !IsTime(thisUpdate)) return false;
    issuer_ = RangeOf(issuer.whole);
    thisUpdate_ = RangeOf(thisUpdate.whole);
    if (fields.NextIf(kUtcTime, field) || fields.NextIf(der::kGeneralizedTime, field))
        nextUpdate_ = RangeOf(field.whole);
    if (fields.NextIf(der::kSequence, field)) {
        if (!ReadEntries(field)) return false;
        entryList_ = field.whole;
    }
    if (fields.NextIf(der::ContextConstructed(0), field)) {
        Reader wrapper = der::Inside(field);
        Tlv list, item;
        if (!wrapper.Expect(der::kSequence, list) || !wrapper.AtEnd()) return false;
        Reader extensions = der::Inside(list);
        bool sawNumber = false;
        while (!extensions.AtEnd()) {
            Extension extension;
            if (!extensions.Next(item) || !ReadExtension(item, extension)) return false;
            // OpenSSL handles some CRL extensions itself (scope, delta CRLs,
            // freshest CRL pointers); this reader knows only these two.
            const bool number = IsOid(extension.oid, kCrlNumberOid, sizeof kCrlNumberOid);
            const bool keyId = IsOid(extension.oid, kAuthorityKeyIdOid, sizeof kAuthorityKeyIdOid);
            if (extension.critical || (!number && !keyId) || (keyId && authorityKeyId_.length != 0) ||
                (number && (sawNumber || !IsOneInteger(extension.value))))
                needsFullDecoder_ = true;
            if (keyId) authorityKeyId_ = RangeOf(extension.value);
            sawNumber = sawNumber || number;
        }
    }
    return fields.AtEnd();
}

bool CompactCrl::ReadEntries(const Tlv& list) {
    Reader entries = der::Inside(list);
    Tlv entry;
    while (!entries.AtEnd())
        if (!entries.Expect(der::kSequence, entry) || !ReadEntry(entry)) return false;
    entries_.shrink_to_fit();
    const uint8_t* base = der_.data();
    const auto less = [base](const RevokedEntry& a, const RevokedEntry& b) { return SerialLess(base, a, b); };
    // Issuers usually list serials in order already.
    if (!std::is_sorted(entries_.begin(), entries_.end(), less))
        std::stable_sort(entries_.begin(), entries_.end(), less);
    // Two entries of one serial may disagree; which one OpenSSL's own sort
    // finds first is not ours to guess.
    for (size_t i = 1; i < entries_.size(); ++i)
        if (!SerialLess(base, entries_[i - 1], entries_[i])) needsFullDecoder_ = true;
    return true;
}

bool CompactCrl::ReadEntry(const Tlv& entry) {
    Reader fields = der::Inside(entry);
    Tlv serial, date, list, item;
    if (!fields.Next(serial) || !IsMinimalInteger(serial) || serial.contents.size > UINT16_MAX) return false;
    if (!fields.Next(date) || !IsTime(date) || date.whole.size > UINT8_MAX) return false;
    RevokedEntry record{RangeOf(serial.contents).offset, RangeOf(date.whole).offset,
                        static_cast<uint16_t>(serial.contents.size), static_cast<int8_t>(kNoReason),
                        static_cast<uint8_t>(date.whole.size)};
    if (fields.NextIf(der::kSequence, list)) {
        Reader extensions = der::Inside(list);
        bool sawReason = false;
        while (!extensions.AtEnd()) {
            Extension extension;
            if (!extensions.Next(item) || !ReadExtension(item, extension)) return false;
            const std::optional<int8_t> reason =
                IsOid(extension.oid, kReasonCodeOid, sizeof kReasonCodeOid) ? ReasonOf(extension.value) : std::nullopt;
            // Only one plain reason code is read here; anything else an entry
            // carries (a certificate issuer, a critical or a repeated
            // extension) changes what OpenSSL makes of it.
            if (!reason || extension.critical || sawReason) {
                needsFullDecoder_ = true;
                continue;
            }
            record.reason = *reason;
            sawReason = true;
        }
    }
    if (!fields.AtEnd()) return false;
    entries_.push_back(record);
    return true;
}

int CompactCrl::VerifySignature(EVP_PKEY* issuerKey) const {
    const zorbel::der::Span outer = SignatureAlgorithm();
    const zorbel::der::Span inner = At(innerAlgorithm_);
    if (issuerKey == nullptr) return 0;
    // OpenSSL's own rule for two different algorithms is its to apply.
    if (outer.size != inner.size || std::memcmp(outer.data, inner.data, outer.size) != 0) return -1;
    const uint8_t* p = outer.data;
    const X509AlgorPtr algorithm(d2i_X509_ALGOR(nullptr, &p, static_cast<long>(outer.size)));
    if (!algorithm) return 0;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm.get());
    int digestNid = NID_undef;
    int keyNid = NID_undef;
    if (!OBJ_find_sigid_algs(OBJ_obj2nid(oid), &digestNid, &keyNid) || digestNid == NID_undef) return -1;
    if (keyNid == NID_rsassaPss) return -1;
    const zorbel::der::Span bits = Signature();
    // A signature is whole octets: no unused bits.
    if (bits.size < 2 || bits.data[0] != 0) return 0;
    if (EVP_PKEY_is_a(issuerKey, OBJ_nid2sn(keyNid)) != 1) return 0;
    const MdCtxPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit_ex(context.get(), nullptr, OBJ_nid2sn(digestNid), nullptr, nullptr, issuerKey,
                                            nullptr) != 1)
        return 0;
    const zorbel::der::Span tbs = TbsDer();
    return EVP_DigestVerify(context.get(), bits.data + 1, bits.size - 1, tbs.data, tbs.size) == 1 ? 1 : 0;
}

const RevokedEntry* CompactCrl::Find(const uint8_t* serial, size_t length) const {
    if (length == 0 || length > UINT16_MAX) return nullptr;
    const uint8_t* base = der_.data();
    const auto less = [&](const RevokedEntry& e, int) {
        if (e.serialLength != length) return e.serialLength < length;
        return std::memcmp(base + e.serialOffset, serial, length) < 0;
    };
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), 0, less);
    if (found == entries_.end() || found->serialLength != length ||
        std::memcmp(base + found->serialOffset, serial, length) != 0)
        return nullptr;
    return &*found;
}

}  // namespace zorbelu::x509
