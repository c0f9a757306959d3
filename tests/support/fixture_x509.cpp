// fixture_x509.cpp - keys, certificates and CRLs of the fixture PKI.
#include "support/fixture_x509.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "support/fixture_der.h"

#include <map>
#include <mutex>
#include <stdexcept>

namespace zorbelu::fixtures::ossl {

void Fail(const std::string& what) {
    std::string message = "fixture PKI: " + what;
    char buf[256];
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        ERR_error_string_n(e, buf, sizeof buf);
        message += std::string("\n  ") + buf;
    }
    throw std::runtime_error(message);
}

Asn1IntPtr Integer(uint64_t value) {
    Asn1IntPtr n(Check(ASN1_INTEGER_new(), "ASN1_INTEGER_new"));
    Check(ASN1_INTEGER_set_uint64(n.get(), value), "ASN1_INTEGER_set_uint64");
    return n;
}

std::string Sign(EVP_PKEY* key, const EVP_MD* md, const std::string& data) {
    MdCtxPtr ctx(Check(EVP_MD_CTX_new(), "EVP_MD_CTX_new"));
    Check(EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, key), "EVP_DigestSignInit");
    size_t size = 0;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    Check(EVP_DigestSign(ctx.get(), nullptr, &size, in, data.size()), "EVP_DigestSign");
    std::string signature(size, '\0');
    Check(EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &size, in, data.size()),
          "EVP_DigestSign");
    signature.resize(size);
    return signature;
}

}  // namespace zorbelu::fixtures::ossl

namespace zorbelu::fixtures::x509 {
namespace {

using namespace ossl;

Asn1TimePtr Time(time_t t) { return Asn1TimePtr(Check(ASN1_TIME_set(nullptr, t), "ASN1_TIME_set")); }

X509NamePtr Name(const std::string& commonName) {
    X509NamePtr name(Check(X509_NAME_new(), "X509_NAME_new"));
    for (const auto& [field, value] : {std::pair<const char*, std::string>{"C", "DE"}, {"O", "Zorbelu Test PKI"},
                                       {"CN", commonName}})
        Check(X509_NAME_add_entry_by_txt(name.get(), field, MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0),
              "X509_NAME_add_entry_by_txt");
    return name;
}

void AddConfExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509ExtensionPtr ext(Check(X509V3_EXT_nconf_nid(nullptr, ctx, nid, value.c_str()), value.c_str()));
    Check(X509_add_ext(cert, ext.get(), -1), "X509_add_ext");
}

// One distribution point per entry, each naming its URIs in order (the configuration syntax makes one point per URI).
void AddDistributionPoints(X509* cert, const std::vector<std::vector<std::string>>& points) {
    DistPointsPtr stack(Check(sk_DIST_POINT_new_null(), "sk_DIST_POINT_new_null"));
    for (const auto& uris : points) {
        DIST_POINT* point = Check(DIST_POINT_new(), "DIST_POINT_new");
        if (sk_DIST_POINT_push(stack.get(), point) <= 0) {
            DIST_POINT_free(point);
            Fail("sk_DIST_POINT_push");
        }
        point->distpoint = Check(DIST_POINT_NAME_new(), "DIST_POINT_NAME_new");
        point->distpoint->type = 0;  // fullName
        point->distpoint->name.fullname = Check(GENERAL_NAMES_new(), "GENERAL_NAMES_new");
        for (const std::string& uri : uris) {
            GENERAL_NAME* name = Check(a2i_GENERAL_NAME(nullptr, nullptr, nullptr, GEN_URI, uri.c_str(), 0), "URI");
            if (sk_GENERAL_NAME_push(point->distpoint->name.fullname, name) <= 0) {
                GENERAL_NAME_free(name);
                Fail("sk_GENERAL_NAME_push");
            }
        }
    }
    Check(X509_add1_ext_i2d(cert, NID_crl_distribution_points, stack.get(), 0, X509V3_ADD_DEFAULT),
          "crlDistributionPoints");
}

// A non-critical private extension whose value is an OCTET STRING of `bytes` filler bytes.
void AddPadding(X509* cert, size_t bytes) {
    const std::string inner = der::Encode(0x04, std::string(bytes, 'Z'));
    Ptr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free> value(Check(ASN1_OCTET_STRING_new(), "ASN1_OCTET_STRING_new"));
    Check(ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char*>(inner.data()),
                                static_cast<int>(inner.size())),
          "ASN1_OCTET_STRING_set");
    Asn1ObjPtr oid(Check(OBJ_txt2obj("1.3.6.1.4.1.55555.7.1", 1), "OBJ_txt2obj"));
    X509ExtensionPtr ext(Check(X509_EXTENSION_create_by_OBJ(nullptr, oid.get(), 0, value.get()),
                               "X509_EXTENSION_create_by_OBJ"));
    Check(X509_add_ext(cert, ext.get(), -1), "X509_add_ext");
}

template <typename T, typename U>
std::string Pem(int (*write)(BIO*, T*), U* object, const char* what) {
    BioPtr bio(Check(BIO_new(BIO_s_mem()), "BIO_new"));
    Check(write(bio.get(), object), what);
    char* data = nullptr;
    return std::string(data, static_cast<size_t>(BIO_get_mem_data(bio.get(), &data)));
}

}  // namespace

PkeyPtr CachedKey(const std::string& label, KeyType type) {
    // Initialising OpenSSL before the cache exists makes the cache go first at exit.
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
    Check(X509_set_serialNumber(cert.get(), Integer(r.serial).get()), "X509_set_serialNumber");
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
    const char* const ekus[] = {nullptr, "critical,timeStamping", "timeStamping", "critical,timeStamping,serverAuth"};
    if (r.eku != Eku::None) AddConfExtension(cert.get(), &ctx, NID_ext_key_usage, ekus[static_cast<int>(r.eku)]);
    if (!r.crlDistributionPoints.empty()) AddDistributionPoints(cert.get(), r.crlDistributionPoints);
    if (!r.caIssuersUrl.empty()) {
        std::string issuers = "caIssuers;URI:" + r.caIssuersUrl;
        for (const std::string& url : r.moreCaIssuersUrls) issuers += ",caIssuers;URI:" + url;
        AddConfExtension(cert.get(), &ctx, NID_info_access, issuers);
    }
    if (r.paddingBytes != 0) AddPadding(cert.get(), r.paddingBytes);

    Check(X509_sign(cert.get(), r.issuerKey ? r.issuerKey : r.key, EVP_sha256()), "X509_sign");
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
        Ptr<X509_REVOKED, X509_REVOKED_free> entry(Check(X509_REVOKED_new(), "X509_REVOKED_new"));
        Check(X509_REVOKED_set_serialNumber(entry.get(), Integer(serial).get()), "revoked serial");
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
    X509ExtensionPtr aki(Check(X509V3_EXT_nconf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always"),
                         "CRL authorityKeyIdentifier"));
    Check(X509_CRL_add_ext(crl.get(), aki.get(), -1), "X509_CRL_add_ext");
    Check(X509_CRL_add1_ext_i2d(crl.get(), NID_crl_number, Integer(r.crlNumber).get(), 0, 0), "crlNumber");

    if (r.approximateSize != 0) {
        // Sign once to learn the size, then add entries of 23 bytes: SEQUENCE { INTEGER (4 bytes), UTCTime }.
        Check(X509_CRL_sign(crl.get(), r.issuerKey, EVP_sha256()), "X509_CRL_sign");
        const size_t base = CrlDer(crl.get()).size();
        constexpr size_t kEntryBytes = 23;
        constexpr uint64_t kFirstFiller = 0x50000000;
        const size_t count = r.approximateSize > base ? (r.approximateSize - base) / kEntryBytes : 0;
        for (size_t i = 0; i < count; ++i) revoke(kFirstFiller + i, false);
    }
    Check(X509_CRL_sort(crl.get()), "X509_CRL_sort");
    Check(X509_CRL_sign(crl.get(), r.issuerKey, EVP_sha256()), "X509_CRL_sign");
    return crl;
}

std::string CertDer(X509* cert) { return ToDer(i2d_X509, static_cast<const X509*>(cert), "i2d_X509"); }
std::string CrlDer(X509_CRL* crl) { return ToDer(i2d_X509_CRL, static_cast<const X509_CRL*>(crl), "i2d_X509_CRL"); }
std::string CertPem(X509* cert) { return Pem(PEM_write_bio_X509, cert, "PEM_write_bio_X509"); }
std::string CrlPem(X509_CRL* crl) { return Pem(PEM_write_bio_X509_CRL, crl, "PEM_write_bio_X509_CRL"); }
std::string KeyPem(EVP_PKEY* key) {
    const auto write = [](BIO* bio, EVP_PKEY* k) {
        return PEM_write_bio_PrivateKey(bio, k, nullptr, nullptr, 0, nullptr, nullptr);
    };
    return Pem(+write, key, "PEM_write_bio_PrivateKey");
}

std::string CertPemToDer(const std::string& pem) {
    const BioPtr bio(Check(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), "BIO_new_mem_buf"));
    return CertDer(X509Ptr(Check(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), "PEM_read_bio_X509")).get());
}

std::string CertDerToPem(const std::string& der) {
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const X509Ptr cert(Check(d2i_X509(nullptr, &p, static_cast<long>(der.size())), "d2i_X509"));
    return CertPem(cert.get());
}

}  // namespace zorbelu::fixtures::x509
