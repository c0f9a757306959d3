// fixture_x509.cpp - keys, certificates and CRLs of the fixture PKI.
#include "support/fixture_x509.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <map>
#include <mutex>
#include <stdexcept>

namespace zorbelu::fixtures::ossl {

std::string BioText(BIO* bio) {
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    return len > 0 ? std::string(data, static_cast<size_t>(len)) : std::string();
}

void Fail(const std::string& what) {
    std::string message = "fixture PKI: " + what;
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        message += "\n  ";
        message += buf;
    }
    throw std::runtime_error(message);
}

}  // namespace zorbelu::fixtures::ossl

namespace zorbelu::fixtures::x509 {
namespace {

using namespace ossl;

// Private arc for the padding extension of oversized certificates.
constexpr const char* kPaddingOid = "1.3.6.1.4.1.55555.7.1";

Asn1TimePtr Time(time_t t) {
    return Asn1TimePtr(Check(ASN1_TIME_set(nullptr, t), "ASN1_TIME_set"));
}

Asn1IntPtr Serial(uint64_t serial) {
    Asn1IntPtr n(Check(ASN1_INTEGER_new(), "ASN1_INTEGER_new"));
    Check(ASN1_INTEGER_set_uint64(n.get(), serial), "ASN1_INTEGER_set_uint64");
    return n;
}

X509NamePtr Name(const std::string& commonName) {
    X509NamePtr name(Check(X509_NAME_new(), "X509_NAME_new"));
    auto add = [&](const char* field, const std::string& value) {
        Check(X509_NAME_add_entry_by_txt(name.get(), field, MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.c_str()),
                                         -1, -1, 0),
              "X509_NAME_add_entry_by_txt");
    };
    add("C", "DE");
    add("O", "Zorbelu Test PKI");
    add("CN", commonName);
    return name;
}

void AddConfExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    X509ExtPtr ext(Check(X509V3_EXT_nconf_nid(nullptr, ctx, nid, value), value));
    Check(X509_add_ext(cert, ext.get(), -1), "X509_add_ext");
}

GENERAL_NAME* UriName(const std::string& uri) {
    Ptr<GENERAL_NAME, GENERAL_NAME_free> name(Check(GENERAL_NAME_new(), "GENERAL_NAME_new"));
    Ptr<ASN1_IA5STRING, ASN1_IA5STRING_free> text(Check(ASN1_IA5STRING_new(), "ASN1_IA5STRING_new"));
    Check(ASN1_STRING_set(text.get(), uri.data(), static_cast<int>(uri.size())), "ASN1_STRING_set");
    GENERAL_NAME_set0_value(name.get(), GEN_URI, text.release());
    return name.release();
}

void AddDistributionPoints(X509* cert, const std::vector<std::vector<std::string>>& points) {
    DistPointsPtr stack(Check(sk_DIST_POINT_new_null(), "sk_DIST_POINT_new_null"));
    for (const auto& uris : points) {
        DistPointPtr point(Check(DIST_POINT_new(), "DIST_POINT_new"));
        point->distpoint = Check(DIST_POINT_NAME_new(), "DIST_POINT_NAME_new");
        point->distpoint->type = 0;
        point->distpoint->name.fullname = Check(GENERAL_NAMES_new(), "GENERAL_NAMES_new");
        for (const std::string& uri : uris) {
            GENERAL_NAME* name = UriName(uri);
            if (sk_GENERAL_NAME_push(point->distpoint->name.fullname, name) <= 0) {
                GENERAL_NAME_free(name);
                Fail("sk_GENERAL_NAME_push");
            }
        }
        if (sk_DIST_POINT_push(stack.get(), point.get()) <= 0) Fail("sk_DIST_POINT_push");
        point.release();
    }
    Check(X509_add1_ext_i2d(cert, NID_crl_distribution_points, stack.get(), 0, X509V3_ADD_DEFAULT),
          "crlDistributionPoints");
}

void AddCaIssuers(X509* cert, const std::vector<std::string>& urls) {
    AccessDescsPtr stack(Check(sk_ACCESS_DESCRIPTION_new_null(), "sk_ACCESS_DESCRIPTION_new_null"));
    for (const std::string& url : urls) {
        AccessDescPtr desc(Check(ACCESS_DESCRIPTION_new(), "ACCESS_DESCRIPTION_new"));
        ASN1_OBJECT_free(desc->method);
        desc->method = OBJ_nid2obj(NID_ad_ca_issuers);
        GENERAL_NAME_free(desc->location);
        desc->location = UriName(url);
        if (sk_ACCESS_DESCRIPTION_push(stack.get(), desc.get()) <= 0) Fail("sk_ACCESS_DESCRIPTION_push");
        desc.release();
    }
    Check(X509_add1_ext_i2d(cert, NID_info_access, stack.get(), 0, X509V3_ADD_DEFAULT),
          "authorityInfoAccess");
}

void AddPadding(X509* cert, size_t bytes) {
    // The extension value is a DER OCTET STRING of `bytes` filler bytes.
    Asn1OctetPtr filler(Check(ASN1_OCTET_STRING_new(), "ASN1_OCTET_STRING_new"));
    const std::string pattern(bytes, 'Z');
    Check(ASN1_OCTET_STRING_set(filler.get(), reinterpret_cast<const unsigned char*>(pattern.data()),
                                static_cast<int>(pattern.size())),
          "ASN1_OCTET_STRING_set");
    const std::string inner = ToDer(i2d_ASN1_OCTET_STRING, static_cast<const ASN1_OCTET_STRING*>(filler.get()),
                                    "i2d_ASN1_OCTET_STRING");
    Asn1OctetPtr value(Check(ASN1_OCTET_STRING_new(), "ASN1_OCTET_STRING_new"));
    Check(ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char*>(inner.data()),
                                static_cast<int>(inner.size())),
          "ASN1_OCTET_STRING_set");
    Asn1ObjPtr oid(Check(OBJ_txt2obj(kPaddingOid, 1), "OBJ_txt2obj"));
    X509ExtPtr ext(Check(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()),
                         "X509_EXTENSION_create_by_OBJ"));
    Check(X509_add_ext(cert, ext.get(), -1), "X509_add_ext");
}

const EVP_MD* SigningDigest() { return EVP_sha256(); }

}  // namespace

PkeyPtr CachedKey(const std::string& label, KeyType type) {
    // OpenSSL registers its own clean-up at initialisation; initialising it
    // before the cache exists makes the cache go first at exit.
    OPENSSL_init_crypto(0, nullptr);
    static std::mutex mutex;
    static std::map<std::string, PkeyPtr> cache;
    std::lock_guard<std::mutex> lock(mutex);
    const std::string key = label + (type == KeyType::Rsa2048 ? "/rsa" : "/ec");
    auto it = cache.find(key);
    if (it == cache.end()) {
        EVP_PKEY* made = type == KeyType::Rsa2048 ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256");
        it = cache.emplace(key, PkeyPtr(Check(made, "key generation"))).first;
    }
    Check(EVP_PKEY_up_ref(it->second.get()), "EVP_PKEY_up_ref");
    return PkeyPtr(it->second.get());
}

X509Ptr MakeCertificate(const CertRequest& r) {
    if (r.key == nullptr || (r.issuer != nullptr) != (r.issuerKey != nullptr))
        throw std::invalid_argument("fixture PKI: certificate request without keys");
    X509Ptr cert(Check(X509_new(), "X509_new"));
    Check(X509_set_version(cert.get(), X509_VERSION_3), "X509_set_version");
    Check(X509_set_serialNumber(cert.get(), Serial(r.serial).get()), "X509_set_serialNumber");
    X509NamePtr subject = Name(r.commonName);
    Check(X509_set_subject_name(cert.get(), subject.get()), "X509_set_subject_name");
    Check(X509_set_issuer_name(cert.get(), r.issuer ? X509_get_subject_name(r.issuer) : subject.get()),
          "X509_set_issuer_name");
    Check(X509_set1_notBefore(cert.get(), Time(r.notBefore).get()), "notBefore");
    Check(X509_set1_notAfter(cert.get(), Time(r.notAfter).get()), "notAfter");
    Check(X509_set_pubkey(cert.get(), r.key), "X509_set_pubkey");

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, r.issuer ? r.issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    if (r.issuer == nullptr) Check(X509V3_set_issuer_pkey(&ctx, r.key), "X509V3_set_issuer_pkey");
    if (r.ca) {
        AddConfExtension(cert.get(), &ctx, NID_basic_constraints, "critical,CA:TRUE");
        AddConfExtension(cert.get(), &ctx, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddConfExtension(cert.get(), &ctx, NID_key_usage, "critical,digitalSignature,nonRepudiation");
    }
    AddConfExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    AddConfExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (r.eku == Eku::TimeStampingCritical)
        AddConfExtension(cert.get(), &ctx, NID_ext_key_usage, "critical,timeStamping");
    else if (r.eku == Eku::TimeStampingNotCritical)
        AddConfExtension(cert.get(), &ctx, NID_ext_key_usage, "timeStamping");
    else if (r.eku == Eku::TimeStampingAndServerAuth)
        AddConfExtension(cert.get(), &ctx, NID_ext_key_usage, "critical,timeStamping,serverAuth");
    if (!r.crlDistributionPoints.empty()) AddDistributionPoints(cert.get(), r.crlDistributionPoints);
    if (!r.caIssuersUrl.empty()) {
        std::vector<std::string> urls{r.caIssuersUrl};
        urls.insert(urls.end(), r.moreCaIssuersUrls.begin(), r.moreCaIssuersUrls.end());
        AddCaIssuers(cert.get(), urls);
    }
    if (r.paddingBytes != 0) AddPadding(cert.get(), r.paddingBytes);

    Check(X509_sign(cert.get(), r.issuerKey ? r.issuerKey : r.key, SigningDigest()), "X509_sign");
    return cert;
}

X509Ptr MakeMonthCertificate(const std::string& name, const std::string& key, X509* issuer, const std::string& signer,
                             bool ca) {
    const time_t now = time(nullptr);
    const auto own = CachedKey(key, KeyType::EcP256), by = CachedKey(signer, KeyType::EcP256);
    CertRequest request;
    request.commonName = name;
    request.key = own.get();
    request.issuer = issuer;
    request.issuerKey = issuer ? by.get() : nullptr;
    request.notBefore = now - 3600;
    request.notAfter = now + 2592000;
    request.ca = ca;
    return MakeCertificate(request);
}

X509CrlPtr MakeCrl(const CrlRequest& r) {
    if (r.issuer == nullptr || r.issuerKey == nullptr)
        throw std::invalid_argument("fixture PKI: CRL request without issuer");
    X509CrlPtr crl(Check(X509_CRL_new(), "X509_CRL_new"));
    Check(X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2), "X509_CRL_set_version");
    Check(X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(r.issuer)), "CRL issuer");
    Check(X509_CRL_set1_lastUpdate(crl.get(), Time(r.thisUpdate).get()), "thisUpdate");
    Check(X509_CRL_set1_nextUpdate(crl.get(), Time(r.nextUpdate).get()), "nextUpdate");

    const Asn1TimePtr revoked = Time(r.revocationDate);
    auto revoke = [&](uint64_t serial, bool withReason) {
        X509RevokedPtr entry(Check(X509_REVOKED_new(), "X509_REVOKED_new"));
        Check(X509_REVOKED_set_serialNumber(entry.get(), Serial(serial).get()), "revoked serial");
        Check(X509_REVOKED_set_revocationDate(entry.get(), revoked.get()), "revocationDate");
        if (withReason) {
            Ptr<ASN1_ENUMERATED, ASN1_ENUMERATED_free> reason(Check(ASN1_ENUMERATED_new(), "reason"));
            Check(ASN1_ENUMERATED_set(reason.get(), CRL_REASON_KEY_COMPROMISE), "reason");
            Check(X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, reason.get(), 0, 0), "reason");
        }
        Check(X509_CRL_add0_revoked(crl.get(), entry.get()), "X509_CRL_add0_revoked");
        entry.release();
    };
    for (uint64_t serial : r.revokedSerials) revoke(serial, true);

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, r.issuer, nullptr, nullptr, crl.get(), 0);
    X509ExtPtr aki(Check(X509V3_EXT_nconf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always"),
                         "CRL authorityKeyIdentifier"));
    Check(X509_CRL_add_ext(crl.get(), aki.get(), -1), "X509_CRL_add_ext");
    Check(X509_CRL_add1_ext_i2d(crl.get(), NID_crl_number, Serial(r.crlNumber).get(), 0, 0), "crlNumber");

    if (r.approximateSize != 0) {
        // Sign once to learn the size without padding, then add entries of a
        // fixed encoded size: SEQUENCE { INTEGER (4 bytes), UTCTime } = 23 bytes.
        Check(X509_CRL_sign(crl.get(), r.issuerKey, SigningDigest()), "X509_CRL_sign");
        const size_t base = CrlDer(crl.get()).size();
        constexpr size_t kEntryBytes = 23;
        constexpr uint64_t kFirstFiller = 0x50000000;
        const size_t count = r.approximateSize > base ? (r.approximateSize - base) / kEntryBytes : 0;
        for (size_t i = 0; i < count; ++i) revoke(kFirstFiller + i, false);
    }
    Check(X509_CRL_sort(crl.get()), "X509_CRL_sort");
    Check(X509_CRL_sign(crl.get(), r.issuerKey, SigningDigest()), "X509_CRL_sign");
    return crl;
}

std::string CertDer(X509* cert) { return ToDer(i2d_X509, static_cast<const X509*>(cert), "i2d_X509"); }

std::string CrlDer(X509_CRL* crl) {
    return ToDer(i2d_X509_CRL, static_cast<const X509_CRL*>(crl), "i2d_X509_CRL");
}

std::string CertPem(X509* cert) {
    BioPtr bio(Check(BIO_new(BIO_s_mem()), "BIO_new"));
    Check(PEM_write_bio_X509(bio.get(), cert), "PEM_write_bio_X509");
    return BioText(bio.get());
}

std::string CrlPem(X509_CRL* crl) {
    BioPtr bio(Check(BIO_new(BIO_s_mem()), "BIO_new"));
    Check(PEM_write_bio_X509_CRL(bio.get(), crl), "PEM_write_bio_X509_CRL");
    return BioText(bio.get());
}

std::string KeyPem(EVP_PKEY* key) {
    BioPtr bio(Check(BIO_new(BIO_s_mem()), "BIO_new"));
    Check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr),
          "PEM_write_bio_PrivateKey");
    return BioText(bio.get());
}

std::string CertDerToPem(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const X509Ptr cert(Check(d2i_X509(nullptr, &p, static_cast<long>(der.size())), "d2i_X509"));
    return CertPem(cert.get());
}

}  // namespace zorbelu::fixtures::x509
