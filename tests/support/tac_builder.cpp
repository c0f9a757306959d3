#include "support/tac_builder.h"

#include <openssl/objects.h>

#include "support/fixture_der.h"
#include "support/fixture_ossl.h"

namespace zorbelu::fixtures {
namespace {

using der::Encode;
using namespace ossl;

std::string Sequence(std::initializer_list<std::string> parts) {
    std::string content;
    for (const std::string& part : parts) content += part;
    return Encode(0x30, content);
}

// Fixed four-octet INTEGERs, as the TSA audit service writes them.
std::string Fixed32(uint32_t v) {
    return Encode(0x02, {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                         static_cast<char>(v)});
}

std::string Oid(const std::string& dotted) {
    const Asn1ObjPtr object(Check(OBJ_txt2obj(dotted.c_str(), 1), "OBJ_txt2obj"));
    return ToDer(i2d_ASN1_OBJECT, static_cast<const ASN1_OBJECT*>(object.get()), "i2d_ASN1_OBJECT");
}

std::string NameDer(const X509_NAME* name) { return ToDer(i2d_X509_NAME, name, "i2d_X509_NAME"); }

// GeneralNames { directoryName [4] Name }
std::string DirectoryNames(const X509_NAME* name) { return Sequence({Encode(0xA4, NameDer(name))}); }

std::string Holder(const TacParams& p) {
    if (p.holderByEntityName) return Sequence({Encode(0xA1, Encode(0xA4, NameDer(X509_get_subject_name(p.holder))))});
    const std::string serial = ToDer(i2d_ASN1_INTEGER, X509_get0_serialNumber(p.holder), "i2d_ASN1_INTEGER");
    return Sequence({Encode(0xA0, DirectoryNames(X509_get_issuer_name(p.holder)) + serial)});
}

std::string MetricsAttribute(const TacTimingMetrics& m) {
    const std::string value =
        Sequence({Sequence({Fixed32(m.ntpSeconds), Fixed32(m.ntpFraction)}),
                  Sequence({Fixed32(m.offsetSeconds), Fixed32(m.offsetMicros),
                            Encode(0x02, std::string(1, static_cast<char>(m.offsetDirection & 0xFF)))}),
                  Sequence({Fixed32(m.delaySeconds), Fixed32(m.delayMicros)}),
                  Sequence({Fixed32(m.expirySeconds), Fixed32(m.expiryFraction)})});
    return Sequence({Oid("1.3.6.1.4.1.601.10.4.1"), Encode(0x31, value)});
}

std::string PolicyAttribute(const TacTimingPolicy& p) {
    const std::string value =
        Sequence({Sequence({Oid(p.policyOid)}),
                  Encode(0xA0, Sequence({Fixed32(p.maxOffsetSeconds), Fixed32(p.maxOffsetMicros)})),
                  Encode(0xA1, Sequence({Fixed32(p.maxDelaySeconds), Fixed32(p.maxDelayMicros)}))});
    return Sequence({Oid("1.3.6.1.4.1.601.10.4.2"), Encode(0x31, value)});
}

std::string SignatureAlgorithm(EVP_PKEY* key, const EVP_MD* md) {
    int signatureNid = NID_undef;
    if (!OBJ_find_sigid_by_algs(&signatureNid, EVP_MD_get_type(md), EVP_PKEY_get_base_id(key)))
        Fail("no signature algorithm");
    const std::string oid = ToDer(i2d_ASN1_OBJECT, static_cast<const ASN1_OBJECT*>(OBJ_nid2obj(signatureNid)), "oid");
    // RSA signature algorithms carry NULL parameters; ECDSA ones none.
    return Sequence({oid, EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA ? std::string("\x05\x00", 2) : ""});
}

std::string Tac(const TacParams& p) {
    const EVP_MD* md = p.digest != nullptr ? p.digest : EVP_sha256();
    const std::string algorithm = SignatureAlgorithm(p.signingKey, md);
    const std::string info = Sequence({
        Encode(0x02, "\x01"),  // version v2
        Holder(p),
        Encode(0xA0, DirectoryNames(p.issuer)),  // v2Form { issuerName }
        algorithm,
        Encode(0x02, std::string(p.serial.begin(), p.serial.end())),
        Sequence({Encode(0x18, p.notBefore), Encode(0x18, p.notAfter)}),
        Sequence({MetricsAttribute(p.metrics), p.withPolicy ? PolicyAttribute(p.policy) : ""}),
    });
    // The BIT STRING of the signature starts with its count of unused bits, 0.
    return Sequence({info, algorithm, Encode(0x03, '\0' + Sign(p.signingKey, md, info))});
}

}  // namespace

std::vector<uint8_t> BuildTac(const TacParams& params) {
    if (params.holder == nullptr || params.issuer == nullptr || params.signingKey == nullptr) return {};
    try {
        const std::string der = Tac(params);
        return {der.begin(), der.end()};
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace zorbelu::fixtures
