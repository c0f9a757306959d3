#include "core/ess.h"

#include <cstring>

#include "core/cms_oids.h"
#include "x509/der.h"
#include "core/digest_algorithms.h"
#include "core/integer_bytes.h"
#include "x509/ossl_ptr.h"

namespace zorbel {

namespace {

enum class Version { kV1, kV2 };

const EVP_MD* DigestFromAlgorithmIdentifier(const der::Tlv& algorithm) {
    der::Reader inside = der::Inside(algorithm);
    der::Tlv oid;
    if (!inside.Expect(der::kOid, oid)) return nullptr;
    const unsigned char* p = oid.whole.data;
    Asn1ObjPtr object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid.whole.size)));
    return object ? DigestForOid(object.get()) : nullptr;
}

[[nodiscard]] bool ReadIssuerSerial(const der::Tlv& issuerSerial, EssCertId& id) {
    der::Reader inside = der::Inside(issuerSerial);
    der::Tlv names, serial;
    if (!inside.Expect(der::kSequence, names) || !inside.Expect(der::kInteger, serial)) return false;
    id.hasIssuerSerial = true;
    id.issuerNames.assign(names.whole.data, names.whole.data + names.whole.size);
    id.serialOctets.assign(serial.contents.data, serial.contents.data + serial.contents.size);
    return true;
}

// ESSCertID ::= SEQUENCE { certHash OCTET STRING, issuerSerial OPTIONAL }
// ESSCertIDv2 ::= SEQUENCE { hashAlgorithm DEFAULT sha256, certHash, issuerSerial OPTIONAL }
[[nodiscard]] bool ReadCertId(const der::Tlv& certId, Version version, EssCertId& id) {
    der::Reader inside = der::Inside(certId);
    der::Tlv element;
    if (!inside.Next(element)) return false;
    id.hash = DigestForOid(OBJ_nid2obj(NID_sha1));
    if (version == Version::kV2) {
        id.hash = DigestForOid(OBJ_nid2obj(NID_sha256));
        if (element.Is(der::kSequence)) {
            id.hash = DigestFromAlgorithmIdentifier(element);
            if (!inside.Next(element)) return false;
        }
    }
    if (!element.Is(der::kOctetString) || element.contents.size == 0) return false;
    id.certHash.assign(element.contents.data, element.contents.data + element.contents.size);
    der::Tlv issuerSerial;
    if (inside.NextIf(der::kSequence, issuerSerial)) return ReadIssuerSerial(issuerSerial, id);
    return true;
}

// SigningCertificate(V2) ::= SEQUENCE { certs SEQUENCE OF ESSCertID(v2), policies OPTIONAL }
[[nodiscard]] bool ReadFirstCertId(const der::Span& value, Version version, EssCertId& id) {
    der::Reader top(value);
    der::Tlv signingCertificate, certs, first;
    if (!top.Expect(der::kSequence, signingCertificate)) return false;
    der::Reader inside = der::Inside(signingCertificate);
    if (!inside.Expect(der::kSequence, certs)) return false;
    der::Reader list = der::Inside(certs);
    return list.Expect(der::kSequence, first) && ReadCertId(first, version, id);
}

// Reads one attribute; false when present and malformed.
[[nodiscard]] bool ReadAttribute(CMS_SignerInfo* signerInfo, int nid, Version version,
                                 std::optional<EssCertId>& out) {
    const int index = CMS_signed_get_attr_by_NID(signerInfo, nid, -1);
    if (index < 0) return true;
    X509_ATTRIBUTE* attribute = CMS_signed_get_attr(signerInfo, index);
    if (CMS_signed_get_attr_by_NID(signerInfo, nid, index) >= 0) return false;  // given twice
    if (X509_ATTRIBUTE_count(attribute) != 1) return false;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) return false;
    EssCertId id;
    const ASN1_STRING* sequence = value->value.sequence;
    if (!ReadFirstCertId({sequence->data, static_cast<size_t>(sequence->length)}, version, id)) return false;
    out = std::move(id);
    return true;
}

// The same from a plain token, whose ruled attributes occur at most once
// with one SEQUENCE value.
[[nodiscard]] bool ReadPlainAttribute(const PlainToken& token, const uint8_t* oid, size_t oidSize, Version version,
                                      std::optional<EssCertId>& out) {
    der::Tlv value;
    if (!PlainAttributeValue(token, oid, oidSize, value)) return true;
    EssCertId id;
    if (!ReadFirstCertId(value.whole, version, id)) return false;
    out = std::move(id);
    return true;
}

[[nodiscard]] bool IssuerSerialNames(const EssCertId& id, X509* certificate) {
    std::vector<uint8_t> serial;
    if (!IntegerContentOctets(X509_get0_serialNumber(certificate), serial) || serial != id.serialOctets)
        return false;
    const unsigned char* p = id.issuerNames.data();
    GeneralNamesPtr names(d2i_GENERAL_NAMES(nullptr, &p, static_cast<long>(id.issuerNames.size())));
    if (!names) return false;
    for (int i = 0; i < sk_GENERAL_NAME_num(names.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(names.get(), i);
        if (name->type == GEN_DIRNAME && X509_NAME_cmp(name->d.directoryName, X509_get_issuer_name(certificate)) == 0)
            return true;
    }
    return false;
}

}  // namespace

EssBinding ReadEssBinding(CMS_SignerInfo* signerInfo) {
    EssBinding binding;
    const bool v1 = ReadAttribute(signerInfo, NID_id_smime_aa_signingCertificate, Version::kV1, binding.v1);
    const bool v2 = ReadAttribute(signerInfo, NID_id_smime_aa_signingCertificateV2, Version::kV2, binding.v2);
    binding.malformed = !v1 || !v2;
    return binding;
}

EssBinding ReadEssBinding(const PlainToken& token) {
    EssBinding binding;
    const bool v1 =
        ReadPlainAttribute(token, kSigningCertificateOid, sizeof kSigningCertificateOid, Version::kV1, binding.v1);
    const bool v2 = ReadPlainAttribute(token, kSigningCertificateV2Oid, sizeof kSigningCertificateV2Oid,
                                       Version::kV2, binding.v2);
    binding.malformed = !v1 || !v2;
    return binding;
}

bool EssNames(const EssCertId& id, X509* certificate) {
    if (id.hash == nullptr || certificate == nullptr) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!X509_digest(certificate, id.hash, digest, &length)) return false;
    if (length != id.certHash.size() || std::memcmp(digest, id.certHash.data(), length) != 0) return false;
    return !id.hasIssuerSerial || IssuerSerialNames(id, certificate);
}

bool EssBindsTo(const EssBinding& binding, X509* certificate) {
    if (binding.malformed || !binding.Present()) return false;
    if (binding.v2 && !EssNames(*binding.v2, certificate)) return false;
    if (binding.v1 && !EssNames(*binding.v1, certificate)) return false;
    return true;
}

}  // namespace zorbel
