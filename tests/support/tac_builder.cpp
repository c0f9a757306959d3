#include "support/tac_builder.h"

#include <openssl/objects.h>

namespace zorbelu::fixtures {

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Tlv(uint8_t identifier, const Bytes& contents) {
    Bytes out{identifier};
    const size_t n = contents.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        Bytes length;
        for (size_t rest = n; rest != 0; rest >>= 8) length.insert(length.begin(), static_cast<uint8_t>(rest & 0xFF));
        out.push_back(static_cast<uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Sequence(std::initializer_list<Bytes> parts) { return Tlv(0x30, Concat(parts)); }

// Fixed four-octet INTEGERs, as the TSA audit service writes them.
Bytes Fixed32(uint32_t value) {
    return Tlv(0x02, {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                      static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

Bytes SmallInteger(int32_t value) { return Tlv(0x02, {static_cast<uint8_t>(value & 0xFF)}); }

template <typename T, int (*I2d)(const T*, unsigned char**)>
Bytes Der(const T* object) {
    unsigned char* der = nullptr;
    const int size = I2d(object, &der);
    if (size <= 0) return {};
    Bytes bytes(der, der + size);
    OPENSSL_free(der);
    return bytes;
}

Bytes Oid(const std::string& dotted) {
    ASN1_OBJECT* object = OBJ_txt2obj(dotted.c_str(), 1);
    Bytes der = Der<ASN1_OBJECT, i2d_ASN1_OBJECT>(object);
    ASN1_OBJECT_free(object);
    return der;
}

Bytes NameDer(const X509_NAME* name) { return Der<X509_NAME, i2d_X509_NAME>(name); }

// GeneralNames { directoryName [4] Name }
Bytes DirectoryNames(const X509_NAME* name) { return Sequence({Tlv(0xA4, NameDer(name))}); }

Bytes Holder(const TacParams& params) {
    if (params.holderByEntityName) return Sequence({Tlv(0xA1, Tlv(0xA4, NameDer(X509_get_subject_name(params.holder))))});
    const Bytes serial = Der<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(params.holder));
    return Sequence({Tlv(0xA0, Concat({DirectoryNames(X509_get_issuer_name(params.holder)), serial}))});
}

Bytes MetricsAttribute(const TacTimingMetrics& m) {
    const Bytes value = Sequence({Sequence({Fixed32(m.ntpSeconds), Fixed32(m.ntpFraction)}),
                                  Sequence({Fixed32(m.offsetSeconds), Fixed32(m.offsetMicros), SmallInteger(m.offsetDirection)}),
                                  Sequence({Fixed32(m.delaySeconds), Fixed32(m.delayMicros)}),
                                  Sequence({Fixed32(m.expirySeconds), Fixed32(m.expiryFraction)})});
    return Sequence({Oid("1.3.6.1.4.1.601.10.4.1"), Tlv(0x31, value)});
}

Bytes PolicyAttribute(const TacTimingPolicy& p) {
    const Bytes value = Sequence({Sequence({Oid(p.policyOid)}),
                                  Tlv(0xA0, Sequence({Fixed32(p.maxOffsetSeconds), Fixed32(p.maxOffsetMicros)})),
                                  Tlv(0xA1, Sequence({Fixed32(p.maxDelaySeconds), Fixed32(p.maxDelayMicros)}))});
    return Sequence({Oid("1.3.6.1.4.1.601.10.4.2"), Tlv(0x31, value)});
}

Bytes SignatureAlgorithm(EVP_PKEY* key, const EVP_MD* md) {
    int signatureNid = NID_undef;
    if (!OBJ_find_sigid_by_algs(&signatureNid, EVP_MD_get_type(md), EVP_PKEY_get_base_id(key))) return {};
    const Bytes oid = Der<ASN1_OBJECT, i2d_ASN1_OBJECT>(OBJ_nid2obj(signatureNid));
    // RSA signature algorithms carry NULL parameters; ECDSA ones none.
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA ? Sequence({oid, Bytes{0x05, 0x00}}) : Sequence({oid});
}

Bytes Sign(const Bytes& info, EVP_PKEY* key, const EVP_MD* md) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    size_t size = 0;
    Bytes signature;
    if (ctx != nullptr && EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestSign(ctx, nullptr, &size, info.data(), info.size()) == 1) {
        signature.resize(size);
        if (EVP_DigestSign(ctx, signature.data(), &size, info.data(), info.size()) == 1)
            signature.resize(size);
        else
            signature.clear();
    }
    EVP_MD_CTX_free(ctx);
    return signature;
}

}  // namespace

std::vector<uint8_t> BuildTac(const TacParams& params) {
    if (params.holder == nullptr || params.issuer == nullptr || params.signingKey == nullptr) return {};
    const EVP_MD* md = params.digest != nullptr ? params.digest : EVP_sha256();
    const Bytes algorithm = SignatureAlgorithm(params.signingKey, md);
    if (algorithm.empty()) return {};
    Bytes attributes;
    if (params.withMetrics) attributes = Concat({attributes, MetricsAttribute(params.metrics)});
    if (params.withPolicy) attributes = Concat({attributes, PolicyAttribute(params.policy)});
    const Bytes info = Sequence({
        Tlv(0x02, {0x01}),                         // version v2
        Holder(params),
        Tlv(0xA0, DirectoryNames(params.issuer)),    // v2Form { issuerName }
        algorithm,
        Tlv(0x02, params.serial),
        Sequence({Tlv(0x18, Bytes(params.notBefore.begin(), params.notBefore.end())),
                  Tlv(0x18, Bytes(params.notAfter.begin(), params.notAfter.end()))}),
        Tlv(0x30, attributes),
    });
    Bytes signature = Sign(info, params.signingKey, md);
    if (signature.empty()) return {};
    signature.insert(signature.begin(), 0x00);  // no unused bits
    return Sequence({info, algorithm, Tlv(0x03, signature)});
}

}  // namespace zorbelu::fixtures
