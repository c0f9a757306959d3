#include "core/signed_attributes_signature.h"

#include <openssl/objects.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "core/cms_oids.h"
#include "core/token_reader.h"
#include "x509/der.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

// SignedData's only SignerInfo, or false.
[[nodiscard]] bool OnlySignerInfo(const std::vector<uint8_t>& contentInfo, der::Tlv& signerInfo) {
    der::Reader sd({nullptr, 0});
    der::Tlv field, signerInfos;
    if (!SignedDataAfterContent({contentInfo.data(), contentInfo.size()}, sd)) return false;
    (void)sd.NextIf(der::ContextConstructed(0), field);
    (void)sd.NextIf(der::ContextConstructed(1), field);
    if (!sd.Expect(der::kSet, signerInfos) || !sd.AtEnd()) return false;
    der::Reader signers = der::Inside(signerInfos);
    return signers.Expect(der::kSequence, signerInfo) && signers.AtEnd();
}

// SignerInfo { version, sid, digestAlgorithm, [0] signedAttrs, signatureAlgorithm,
// signature, [1] unsignedAttrs OPTIONAL }; false with unsigned attributes.
[[nodiscard]] bool ReadSignerInfo(const der::Tlv& signerInfo, SignerInfoBytes& out) {
    der::Reader fields = der::Inside(signerInfo);
    der::Tlv version, sid, digestAlgorithm;
    if (!fields.Expect(der::kInteger, version) || !fields.Next(sid) ||
        !fields.Expect(der::kSequence, digestAlgorithm) ||
        !fields.Expect(der::ContextConstructed(0), out.signedAttributes) ||
        !fields.Expect(der::kSequence, out.signatureAlgorithm) || !fields.Expect(der::kOctetString, out.signature))
        return false;
    return fields.AtEnd();
}

bool SameBytes(const der::Tlv& tlv, const uint8_t* bytes, size_t size) {
    return der::SameBytes(tlv.contents, bytes, size);
}

// The attributes OpenSSL's CMS verifier has rules for (how often, where,
// how many values) that a token signs: each must occur once with one value
// of its own type. Their OIDs as DER contents.
struct RuledAttribute {
    const uint8_t* oid;
    size_t oidSize;
    uint8_t valueTag;
    uint8_t otherValueTag;
    bool required;
};

const RuledAttribute kRuledAttributes[] = {
    {kContentTypeOid, sizeof kContentTypeOid, der::kOid, der::kOid, true},
    {kMessageDigestOid, sizeof kMessageDigestOid, der::kOctetString, der::kOctetString, true},
    {kSigningTimeOid, sizeof kSigningTimeOid, 0x17, der::kGeneralizedTime, false},
    {kSigningCertificateOid, sizeof kSigningCertificateOid, der::kSequence, der::kSequence, false},
    {kSigningCertificateV2Oid, sizeof kSigningCertificateV2Oid, der::kSequence, der::kSequence, false},
};
constexpr size_t kRuledCount = sizeof kRuledAttributes / sizeof kRuledAttributes[0];
constexpr size_t kOtherAttribute = kRuledCount;
constexpr size_t kNotPlain = kRuledCount + 1;

// Any other attribute is plain outside the PKCS #9 arc (where OpenSSL's
// rules live), or when it is smimeCapabilities.
constexpr uint8_t kPkcs9Arc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09};
constexpr uint8_t kSmimeCapabilities[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x0F};

bool IsPlainOtherOid(const der::Tlv& oid) {
    if (SameBytes(oid, kSmimeCapabilities, sizeof kSmimeCapabilities)) return true;
    return oid.contents.size < sizeof kPkcs9Arc || std::memcmp(oid.contents.data, kPkcs9Arc, sizeof kPkcs9Arc) != 0;
}

// The DER order of SET OF elements: bytes compared up to the shorter, then
// the shorter first. Values of other attributes out of it are left to
// OpenSSL.
bool InDerOrder(const der::Span& a, const der::Span& b) {
    const int c = std::memcmp(a.data, b.data, std::min(a.size, b.size));
    return c < 0 || (c == 0 && a.size <= b.size);
}

// Values OpenSSL keeps as their bytes (or their contents) and so encodes
// again unchanged.
bool KeptAsIs(const der::Tlv& value) {
    return value.Is(der::kSequence) || value.Is(der::kSet) || value.Is(der::kOid) || value.Is(der::kOctetString) ||
           value.Is(0x17) || value.Is(der::kGeneralizedTime);
}

// The values of another attribute: at least one, each kept as is, in DER order.
bool ArePlainValues(const der::Tlv& values) {
    der::Reader inValues = der::Inside(values);
    der::Tlv value;
    der::Span previous;
    size_t count = 0;
    while (!inValues.AtEnd()) {
        if (!inValues.Next(value) || !KeptAsIs(value)) return false;
        if (count++ != 0 && !InDerOrder(previous, value.whole)) return false;
        previous = value.whole;
    }
    return count != 0;
}

// Attribute { attrType OID, attrValues SET OF }: the index of its kind in
// `kRuledAttributes`, kOtherAttribute, or kNotPlain.
size_t PlainAttributeKind(const der::Tlv& attribute) {
    der::Reader fields = der::Inside(attribute);
    der::Tlv oid, values, value;
    if (!fields.Expect(der::kOid, oid) || !fields.Expect(der::kSet, values) || !fields.AtEnd()) return kNotPlain;
    for (size_t i = 0; i < kRuledCount; ++i) {
        const RuledAttribute& ruled = kRuledAttributes[i];
        if (!SameBytes(oid, ruled.oid, ruled.oidSize)) continue;
        der::Reader inValues = der::Inside(values);
        if (!inValues.Next(value) || !inValues.AtEnd()) return kNotPlain;
        return value.Is(ruled.valueTag) || value.Is(ruled.otherValueTag) ? i : kNotPlain;
    }
    return IsPlainOtherOid(oid) && ArePlainValues(values) ? kOtherAttribute : kNotPlain;
}

// The SHA-1/SHA-2 digest of the attributes as a DER SET OF: the SET tag,
// then the length and contents exactly as in the token.
[[nodiscard]] bool HashAsSet(const der::Tlv& signedAttributes, const EVP_MD* md, unsigned char* digest,
                             unsigned int& length) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    const uint8_t setTag = der::kSet;
    return ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) == 1 &&
           EVP_DigestUpdate(ctx.get(), &setTag, 1) == 1 &&
           EVP_DigestUpdate(ctx.get(), signedAttributes.whole.data + 1, signedAttributes.whole.size - 1) == 1 &&
           EVP_DigestFinal_ex(ctx.get(), digest, &length) == 1;
}

bool IsOneOf(int nid, std::initializer_list<int> nids) { return std::find(nids.begin(), nids.end(), nid) != nids.end(); }

// The key and signature algorithm pairs answered here, as OpenSSL's CMS
// verifier treats them: an RSA key (not an RSA-PSS one) with rsaEncryption
// or a shaNWithRSAEncryption OID signs with PKCS #1 v1.5; an EC key with
// ECDSA.
[[nodiscard]] bool IsPlainAlgorithm(EVP_PKEY* key, const der::Tlv& signatureAlgorithm) {
    der::Reader fields = der::Inside(signatureAlgorithm);
    der::Tlv oid;
    if (!fields.Expect(der::kOid, oid)) return false;
    const unsigned char* p = oid.whole.data;
    Asn1ObjPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.whole.size)));
    if (!object) return false;
    const int nid = OBJ_obj2nid(object.get());
    switch (EVP_PKEY_get_base_id(key)) {
    case EVP_PKEY_RSA:
        return IsOneOf(nid, {NID_rsaEncryption, NID_sha1WithRSAEncryption, NID_sha224WithRSAEncryption,
                             NID_sha256WithRSAEncryption, NID_sha384WithRSAEncryption, NID_sha512WithRSAEncryption});
    case EVP_PKEY_EC:
        return IsOneOf(nid, {NID_X9_62_id_ecPublicKey, NID_ecdsa_with_SHA1, NID_ecdsa_with_SHA224,
                             NID_ecdsa_with_SHA256, NID_ecdsa_with_SHA384, NID_ecdsa_with_SHA512});
    default:
        return false;
    }
}

bool IsPlainDigest(const EVP_MD* md) {
    return IsOneOf(EVP_MD_get_type(md), {NID_sha1, NID_sha224, NID_sha256, NID_sha384, NID_sha512});
}

[[nodiscard]] bool VerifyDigest(EVP_PKEY* key, const EVP_MD* md, const der::Tlv& signature,
                                const unsigned char* digest, unsigned int length) {
    OsslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1 &&
           EVP_PKEY_verify(ctx.get(), signature.contents.data, signature.contents.size, digest, length) == 1;
}

}  // namespace

// The signed attributes are the plain case: each ruled kind at most once,
// the required ones present. Their order is the signer's: OpenSSL's verifier
// hashes them in the order the token gives too.
bool ArePlainSignedAttributes(const der::Tlv& signedAttributes) {
    bool seen[kRuledCount] = {};
    der::Reader attributes = der::Inside(signedAttributes);
    der::Tlv attribute;
    while (!attributes.AtEnd()) {
        if (!attributes.Expect(der::kSequence, attribute)) return false;
        const size_t kind = PlainAttributeKind(attribute);
        if (kind == kNotPlain) return false;
        if (kind != kOtherAttribute) {
            if (seen[kind]) return false;
            seen[kind] = true;
        }
    }
    for (size_t i = 0; i < kRuledCount; ++i)
        if (kRuledAttributes[i].required && !seen[i]) return false;
    return true;
}

SignatureVerdict CheckSignatureFromTokenBytes(const std::vector<uint8_t>& contentInfo, const EVP_MD* md,
                                              EVP_PKEY* key) {
    der::Tlv signerInfo;
    SignerInfoBytes parts;
    if (!OnlySignerInfo(contentInfo, signerInfo) || !ReadSignerInfo(signerInfo, parts) ||
        !ArePlainSignedAttributes(parts.signedAttributes))
        return SignatureVerdict::kNotAnswered;
    return CheckSignatureOfSignerInfo(parts, md, key);
}

SignatureVerdict CheckSignatureOfSignerInfo(const SignerInfoBytes& parts, const EVP_MD* md, EVP_PKEY* key) {
    if (md == nullptr || key == nullptr || !IsPlainDigest(md) || !IsPlainAlgorithm(key, parts.signatureAlgorithm))
        return SignatureVerdict::kNotAnswered;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HashAsSet(parts.signedAttributes, md, digest, length)) return SignatureVerdict::kNotAnswered;
    return VerifyDigest(key, md, parts.signature, digest, length) ? SignatureVerdict::kValid
                                                                  : SignatureVerdict::kInvalid;
}

}  // namespace zorbel
