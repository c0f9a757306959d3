// A CRL read with the bounded DER reader into a compact form: the DER bytes
// once, and one small record per revoked certificate in an array sorted by
// serial, so that a lookup is a binary search and a CRL of 200,000 entries
// costs about 1.4 times its size instead of OpenSSL's objects per entry.
//
// The reading is strict where OpenSSL's decoder is strict (DER lengths, no
// padded INTEGERs, the structure of RFC 5280, 5.1): bytes it accepts decode
// in OpenSSL too, and a serial it finds is one X509_CRL_get0_by_serial
// finds. It checks no signature and no time: that is the verifier's work,
// over TbsDer() with the issuer's key.
#ifndef ZORBELU_X509_COMPACT_CRL_H
#define ZORBELU_X509_COMPACT_CRL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <openssl/types.h>

#include "x509/der.h"

namespace zorbelu::x509 {

// Refused beyond this: the largest CRL any path of the library fetches.
inline constexpr size_t kMaxCompactCrlBytes = 64u << 20;

// CRLReason of an entry; kNoReason when the entry names none.
inline constexpr int kNoReason = -1;

struct RevokedEntry {
    uint32_t serialOffset;  // INTEGER contents, into the DER
    uint32_t dateOffset;    // the whole revocationDate element, into the DER
    uint16_t serialLength;
    int8_t reason;
    uint8_t dateLength;
};

class CompactCrl {
public:
    // Exactly one DER CertificateList, nothing after it; nullopt otherwise.
    static std::optional<CompactCrl> Parse(const uint8_t* der, size_t size);

    // The revocation entry of the serial whose INTEGER contents are given
    // (as in the certificate's DER), or NULL.
    const RevokedEntry* Find(const uint8_t* serial, size_t length) const;

    size_t EntryCount() const { return entries_.size(); }
    const RevokedEntry& Entry(size_t i) const { return entries_[i]; }
    zorbel::der::Span Serial(const RevokedEntry& e) const { return {der_.data() + e.serialOffset, e.serialLength}; }
    zorbel::der::Span RevocationDate(const RevokedEntry& e) const { return {der_.data() + e.dateOffset, e.dateLength}; }

    const std::vector<uint8_t>& Der() const { return der_; }
    zorbel::der::Span TbsDer() const { return At(tbs_); }           // what the signature covers
    zorbel::der::Span IssuerDer() const { return At(issuer_); }     // the whole Name
    zorbel::der::Span ThisUpdate() const { return At(thisUpdate_); }  // whole Time elements
    zorbel::der::Span NextUpdate() const { return At(nextUpdate_); }  // empty when absent
    zorbel::der::Span SignatureAlgorithm() const { return At(signatureAlgorithm_); }
    zorbel::der::Span Signature() const { return At(signature_); }  // BIT STRING contents
    // The authorityKeyIdentifier extension's value (the OCTET STRING's
    // contents); empty when absent.
    zorbel::der::Span AuthorityKeyId() const { return At(authorityKeyId_); }
    // A CRL extension other than the authority key identifier and the CRL
    // number (scope, delta CRLs, anything critical), an entry extension other
    // than one plain reason code (a certificate issuer: an indirect CRL), or
    // a serial listed twice: a verifier hands such a CRL to the full decoder.
    bool NeedsFullDecoder() const { return needsFullDecoder_; }

    // 1 when the signature over TbsDer() verifies with `issuerKey` under the
    // algorithm the CRL names (the same in the signed part and outside it,
    // as OpenSSL requires); 0 when it does not; -1 for an algorithm this
    // check does not know (RSA-PSS, anything without a digest), which the
    // full decoder then judges.
    int VerifySignature(EVP_PKEY* issuerKey) const;

    // Bytes this object holds on the heap.
    size_t HeapBytes() const { return der_.capacity() + entries_.capacity() * sizeof(RevokedEntry); }

private:
    struct Range {
        uint32_t offset = 0;
        uint32_t length = 0;
    };
    zorbel::der::Span At(Range r) const { return {der_.data() + r.offset, r.length}; }
    Range RangeOf(zorbel::der::Span s) const;
    bool ReadTbs(const zorbel::der::Tlv& tbs);
    bool ReadEntries(const zorbel::der::Tlv& list);
    bool ReadEntry(const zorbel::der::Tlv& entry);

    std::vector<uint8_t> der_;
    std::vector<RevokedEntry> entries_;
    Range tbs_, innerAlgorithm_, issuer_, thisUpdate_, nextUpdate_, signatureAlgorithm_, signature_, authorityKeyId_;
    bool needsFullDecoder_ = false;
    zorbel::der::Span entryList_{};  // the revokedCertificates SEQUENCE, while parsing
};

}  // namespace zorbelu::x509

#endif
