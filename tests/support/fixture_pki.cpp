// fixture_pki.cpp - the test PKI, driven by the tables below.
#include "support/fixture_pki.h"

#include "support/fixture_der.h"
#include "support/fixture_ossl.h"
#include "support/fixture_tokens.h"
#include "support/fixture_x509.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <tuple>

namespace zorbelu::fixtures {
namespace {

using x509::Eku;
using x509::KeyType;

constexpr time_t kHour = 3600;
constexpr time_t kDay = 24 * kHour;
constexpr size_t kLargeCrlBytes = 25000;
constexpr size_t kLargeCertPadding = 21000;
constexpr int kManyIssuerUrls = 50;

struct CaRow {
    Ca id;
    const char* name;
    const char* commonName;
    std::optional<Ca> issuer;  // none: self-signed
    bool cdp;                  // CRL DP and AIA pointing at the issuer's CRL and certificate
};

const CaRow kCas[] = {
    {Ca::Root, "root", "Zorbelu Test Root CA", std::nullopt, false},
    {Ca::Intermediate, "intermediate", "Zorbelu Test Intermediate CA", Ca::Root, true},
    {Ca::AiaIntermediate, "aia-intermediate", "Zorbelu Test AIA Intermediate CA", Ca::Root, true},
    {Ca::NoCdpIntermediate, "nocdp-intermediate", "Zorbelu Test No-CDP Intermediate CA", Ca::Root, false},
    {Ca::LookAlikeRoot, "lookalike-root", "Zorbelu Test Root CA", std::nullopt, false},
    {Ca::LookAlikeIntermediate, "lookalike-intermediate", "Zorbelu Test Intermediate CA", Ca::LookAlikeRoot, true},
};

enum class Validity { Current, Expired, NotYetValid };

// How a TSA certificate names its CRL.
enum class CdpForm { None, Http, Https, Ldap, LdapThenHttp, HttpsThenHttp };

// A TSA certificate (fixture_pki.h says what each is); what a row leaves out is as for tsa-good.
struct TsaRow {
    Tsa id;
    const char* name;
    Crl crl = Crl::Intermediate;  // the CRL its distribution point names
    std::optional<Ca> issuer = Ca::Intermediate;  // none: self-signed
    CdpForm cdp = CdpForm::Http;
    Eku eku = Eku::TimeStampingCritical;
    Validity validity = Validity::Current;
    KeyType key = KeyType::EcP256;
    bool revoked = false;
    size_t padding = 0;
};

constexpr Crl kI = Crl::Intermediate;
constexpr Ca kIca = Ca::Intermediate;
constexpr CdpForm kHttp = CdpForm::Http;
constexpr Eku kTs = Eku::TimeStampingCritical;
constexpr Validity kNow = Validity::Current;
constexpr KeyType kEc = KeyType::EcP256;

const TsaRow kTsas[] = {
    {Tsa::Good, "tsa-good"},
    {Tsa::GoodRsa, "tsa-good-rsa", kI, kIca, kHttp, kTs, kNow, KeyType::Rsa2048},
    {Tsa::UnderRoot, "tsa-under-root", Crl::Root, Ca::Root},
    {Tsa::Expired, "tsa-expired", kI, kIca, kHttp, kTs, Validity::Expired},
    {Tsa::NotYetValid, "tsa-not-yet-valid", kI, kIca, kHttp, kTs, Validity::NotYetValid},
    {Tsa::Revoked, "tsa-revoked", kI, kIca, kHttp, kTs, kNow, kEc, true},
    {Tsa::SelfIssued, "tsa-self-issued", kI, std::nullopt, CdpForm::None},
    {Tsa::NoEku, "tsa-no-eku", kI, kIca, kHttp, Eku::None},
    {Tsa::EkuNotCritical, "tsa-eku-not-critical", kI, kIca, kHttp, Eku::TimeStampingNotCritical},
    {Tsa::HttpsOnlyCdp, "tsa-https-cdp", kI, kIca, CdpForm::Https},
    {Tsa::LdapOnlyCdp, "tsa-ldap-cdp", kI, kIca, CdpForm::Ldap},
    {Tsa::LdapThenHttpCdp, "tsa-ldap-then-http-cdp", kI, kIca, CdpForm::LdapThenHttp},
    {Tsa::HttpsThenHttpCdp, "tsa-https-then-http-cdp", kI, kIca, CdpForm::HttpsThenHttp},
    {Tsa::NoCdp, "tsa-no-cdp", kI, kIca, CdpForm::None},
    {Tsa::AiaOnly, "tsa-aia-only", Crl::AiaIntermediate, Ca::AiaIntermediate},
    {Tsa::UnderNoCdpIntermediate, "tsa-under-nocdp-intermediate", Crl::NoCdpIntermediate, Ca::NoCdpIntermediate},
    {Tsa::PemCrl, "tsa-pem-crl", Crl::IntermediatePem},
    {Tsa::LargeCrl, "tsa-large-crl", Crl::IntermediateLarge},
    {Tsa::ExpiredCrl, "tsa-expired-crl", Crl::IntermediateExpired},
    {Tsa::NotYetValidCrl, "tsa-not-yet-valid-crl", Crl::IntermediateNotYetValid},
    {Tsa::LargeCertificate, "tsa-large-cert", kI, kIca, kHttp, kTs, kNow, kEc, false, kLargeCertPadding},
    {Tsa::LookAlike, "tsa-lookalike", kI, Ca::LookAlikeIntermediate},
    {Tsa::ManyIssuerUrls, "tsa-many-issuer-urls", Crl::AiaIntermediate, Ca::AiaIntermediate},
    {Tsa::ExtraEku, "tsa-extra-eku", kI, kIca, kHttp, Eku::TimeStampingAndServerAuth},
};

// A CRL; what a row leaves out is as for intermediate.crl.
struct CrlRow {
    Crl id;
    const char* name;
    Ca issuer = Ca::Intermediate;
    Validity validity = Validity::Current;
    bool pem = false;  // PEM form of the CRL of the same issuer and validity
    size_t approximateSize = 0;
};

const CrlRow kCrls[] = {
    {Crl::Root, "root.crl", Ca::Root},
    {Crl::Intermediate, "intermediate.crl"},
    {Crl::IntermediatePem, "intermediate-pem.crl", kIca, kNow, true},
    {Crl::IntermediateExpired, "intermediate-expired.crl", kIca, Validity::Expired},
    {Crl::IntermediateNotYetValid, "intermediate-not-yet-valid.crl", kIca, Validity::NotYetValid},
    {Crl::IntermediateLarge, "intermediate-large.crl", kIca, kNow, false, kLargeCrlBytes},
    {Crl::AiaIntermediate, "aia-intermediate.crl", Ca::AiaIntermediate},
    {Crl::NoCdpIntermediate, "nocdp-intermediate.crl", Ca::NoCdpIntermediate},
};

struct DigestRow {
    Digest id;
    const char* name;
    const char* oid;
    const EVP_MD* (*md)();
};

const DigestRow kDigests[] = {
    {Digest::Md5, "md5", "1.2.840.113549.2.5", EVP_md5},
    {Digest::Sha1, "sha1", "1.3.14.3.2.26", EVP_sha1},
    {Digest::Sha256, "sha256", "2.16.840.1.101.3.4.2.1", EVP_sha256},
    {Digest::Sha384, "sha384", "2.16.840.1.101.3.4.2.2", EVP_sha384},
    {Digest::Sha512, "sha512", "2.16.840.1.101.3.4.2.3", EVP_sha512},
};

template <typename Row, size_t N, typename Id>
const Row& RowOf(const Row (&rows)[N], Id id) {
    for (const Row& row : rows)
        if (row.id == id) return row;
    throw std::out_of_range("fixture PKI: unknown id");
}

const char* const kResponseToken = "good-sha256-response";
const std::string kCer = ".cer";

std::string Hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) out += {"0123456789abcdef"[c >> 4], "0123456789abcdef"[c & 15]};
    return out;
}

// The data that the standard tokens stamp: text and every byte value.
std::string MakeData() {
    std::string data = "zorbelutilnd test data: the quick brown fox jumps over the lazy dog.\n";
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b) data += static_cast<char>(b);
    return data;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("fixture PKI: cannot write " + path.string());
}

}  // namespace

struct FixturePki::Impl {
    struct Entity {
        ossl::X509Ptr cert;
        ossl::PkeyPtr key;
        std::string der;
        uint64_t serial = 0;
        time_t notAfter = 0;
    };
    struct CrlFile {
        ossl::X509CrlPtr crl;
        std::string bytes;
    };

    std::filesystem::path folder;
    std::string baseUrl;
    time_t now = 0;
    std::string data;
    std::map<Ca, Entity> cas;
    std::map<Tsa, Entity> tsas;
    std::map<Crl, CrlFile> crls;
    std::map<std::string, std::string> tokens;
    std::vector<ManifestEntry> manifest;
    mutable std::atomic<uint64_t> nextTokenSerial{0x7000};

    void Write(const std::string& relative, const std::string& bytes) {
        WriteBytes(folder / relative, bytes);
        manifest.push_back({relative});
    }

    std::string UrlOf(const std::string& relative) const { return baseUrl + "/" + relative; }
    std::string HostOfBase() const {
        const auto scheme = baseUrl.find("://");
        const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
        return baseUrl.substr(start, baseUrl.find('/', start) - start);
    }

    std::vector<std::vector<std::string>> DistributionPoints(CdpForm form, Crl crl) const {
        const std::string host = HostOfBase(), http = UrlOf(std::string("crl/") + Name(crl));
        const std::string https = "https://" + host + "/crl/" + Name(crl);
        const std::string ldap = "ldap://" + host.substr(0, host.find(':')) +
                                 "/CN=Zorbelu%20Test%20Intermediate%20CA,O=Zorbelu%20Test%20PKI,C=DE"
                                 "?certificateRevocationList;binary";
        const std::vector<std::vector<std::string>> forms[] = {
            {}, {{http}}, {{https}}, {{ldap}}, {{ldap, http}}, {{https}, {http}}};
        return forms[static_cast<int>(form)];
    }

    std::pair<time_t, time_t> TsaValidity(Validity v) const {
        const std::pair<time_t, time_t> spans[] = {
            {now - 30 * kDay, now + 730 * kDay}, {now - 730 * kDay, now - kDay}, {now + kDay, now + 730 * kDay}};
        return spans[static_cast<int>(v)];
    }
    std::pair<time_t, time_t> CrlValidity(Validity v) const {
        const std::pair<time_t, time_t> spans[] = {
            {now - kHour, now + 7 * kDay}, {now - 30 * kDay, now - kDay}, {now + kDay, now + 30 * kDay}};
        return spans[static_cast<int>(v)];
    }

    // Signs and writes certs/<name>.cer and .pem; the issuer's caIssuers URL unless `aia` is false or one is set.
    Entity Issue(x509::CertRequest& r, ossl::PkeyPtr key, std::optional<Ca> issuer, bool aia, const std::string& name) {
        Entity e;
        e.key = std::move(key);
        r.key = e.key.get();
        if (issuer) {
            r.issuer = cas.at(*issuer).cert.get();
            r.issuerKey = cas.at(*issuer).key.get();
            if (aia && r.caIssuersUrl.empty()) r.caIssuersUrl = UrlOf(std::string("aia/") + Name(*issuer) + ".cer");
        }
        e.cert = x509::MakeCertificate(r);
        e.der = x509::CertDer(e.cert.get());
        e.serial = r.serial;
        e.notAfter = r.notAfter;
        Write("certs/" + name + ".cer", e.der);
        Write("certs/" + name + ".pem", x509::CertPem(e.cert.get()));
        return e;
    }

    void MakeCas() {
        uint64_t serial = 0x1001;
        for (const CaRow& row : kCas) {
            x509::CertRequest r;
            r.commonName = row.commonName;
            r.serial = serial++;
            std::tie(r.notBefore, r.notAfter) = std::make_pair(now - 365 * kDay, now + 3650 * kDay);
            r.ca = true;
            if (row.cdp) r.crlDistributionPoints = {{UrlOf(std::string("crl/") + Name(*row.issuer) + ".crl")}};
            Entity e = Issue(r, x509::CachedKey(row.name, KeyType::EcP256), row.issuer, row.cdp, row.name);
            Write(std::string("aia/") + row.name + ".cer", e.der);
            cas.emplace(row.id, std::move(e));
        }
    }

    void MakeTsas() {
        uint64_t serial = 0x2001;
        for (const TsaRow& row : kTsas) {
            x509::CertRequest r;
            r.commonName = std::string("Zorbelu Test ") + row.name;
            r.serial = serial++;
            std::tie(r.notBefore, r.notAfter) = TsaValidity(row.validity);
            r.eku = row.eku;
            r.crlDistributionPoints = DistributionPoints(row.cdp, row.crl);
            r.paddingBytes = row.padding;
            if (row.id == Tsa::ManyIssuerUrls) {
                for (const std::string& path : ManyIssuerUrlPaths()) r.moreCaIssuersUrls.push_back(baseUrl + path);
                r.caIssuersUrl = r.moreCaIssuersUrls.front();
                r.moreCaIssuersUrls.erase(r.moreCaIssuersUrls.begin());
            }
            Entity e = Issue(r, x509::CachedKey(row.name, row.key), row.issuer, true, row.name);
            Write(std::string("keys/") + row.name + ".key.pem", x509::KeyPem(e.key.get()));
            tsas.emplace(row.id, std::move(e));
        }
    }

    x509::CrlRequest CrlRequestOf(Ca issuer, uint64_t number) const {
        x509::CrlRequest r;
        r.issuer = cas.at(issuer).cert.get();
        r.issuerKey = cas.at(issuer).key.get();
        r.crlNumber = number;
        r.revocationDate = now - 7 * kDay;
        return r;
    }

    void MakeCrls() {
        std::map<std::pair<Ca, Validity>, Crl> derForms;
        for (const CrlRow& row : kCrls) {
            CrlFile file;
            if (row.pem) {
                const CrlFile& der = crls.at(derForms.at({row.issuer, row.validity}));
                file.crl.reset(ossl::Check(X509_CRL_dup(der.crl.get()), "X509_CRL_dup"));
                file.bytes = x509::CrlPem(file.crl.get());
            } else {
                x509::CrlRequest r = CrlRequestOf(row.issuer, static_cast<uint64_t>(&row - kCrls + 1));
                std::tie(r.thisUpdate, r.nextUpdate) = CrlValidity(row.validity);
                for (const TsaRow& tsa : kTsas)
                    if (tsa.revoked && tsa.issuer == row.issuer) r.revokedSerials.push_back(tsas.at(tsa.id).serial);
                r.approximateSize = row.approximateSize;
                file.crl = x509::MakeCrl(r);
                file.bytes = x509::CrlDer(file.crl.get());
                if (row.approximateSize == 0) derForms.emplace(std::make_pair(row.issuer, row.validity), row.id);
            }
            Write(std::string("crl/") + row.name, file.bytes);
            crls.emplace(row.id, std::move(file));
        }
    }

    std::string MakeRequest(const TokenSpec& recipe, uint64_t serial) const {
        return tokens::BuildRequest(RowOf(kDigests, recipe.digest).md(),
                                    recipe.imprint.empty() ? DigestOf(recipe.digest) : recipe.imprint,
                                    recipe.includeTsaCert, serial * 7919 + 1);
    }

    std::string DigestOf(Digest digest) const {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        ossl::Check(EVP_Digest(data.data(), data.size(), out, &len, RowOf(kDigests, digest).md(), nullptr),
                    "EVP_Digest");
        return std::string(reinterpret_cast<char*>(out), len);
    }

    tokens::Signer SignerOf(const TokenSpec& recipe) const {
        const TsaRow& row = RowOf(kTsas, recipe.tsa);
        const Entity& tsa = tsas.at(recipe.tsa);
        tokens::Signer s{tsa.cert.get(), tsa.key.get(), {}};
        if (recipe.includeChain) {
            for (std::optional<Ca> ca = row.issuer; ca && RowOf(kCas, *ca).issuer; ca = RowOf(kCas, *ca).issuer)
                s.extraCerts.push_back(cas.at(*ca).cert.get());
        }
        return s;
    }

    tokens::Issuance IssuanceOf(const TokenSpec& recipe) const {
        tokens::Issuance i;
        i.serial = nextTokenSerial++;
        i.essV2 = recipe.essV2;
        i.forgery = recipe.forgery;
        i.genTimeText = recipe.genTimeText;
        i.genTime = recipe.genTime != 0 ? recipe.genTime : std::min(now, tsas.at(recipe.tsa).notAfter - kHour);
        return i;
    }

    std::string MakeToken(const TokenSpec& recipe) const {
        const tokens::Signer signer = SignerOf(recipe);
        const tokens::Issuance issuance = IssuanceOf(recipe);
        const std::string request = MakeRequest(recipe, issuance.serial);
        std::string token = tokens::ResponderAccepts(signer.cert) && recipe.forgery == Forgery::None
                                ? tokens::TokenOfResponse(tokens::Respond(signer, request, issuance))
                                : tokens::SignWithCms(signer, request, issuance);
        if (!recipe.attributeCertificates.empty())
            token = der::InsertAttributeCertificates(token, recipe.attributeCertificates,
                                                     recipe.attributeCertificateTag);
        switch (recipe.damage) {
            case Damage::None: break;
            case Damage::FlipSignatureByte: token = der::FlipSignatureByte(token); break;
            case Damage::Truncate: token.resize(token.size() / 2); break;
        }
        return token;
    }

    std::string MakeResponse(const TokenSpec& recipe) const {
        const tokens::Signer signer = SignerOf(recipe);
        if (!tokens::ResponderAccepts(signer.cert) || !recipe.attributeCertificates.empty() ||
            recipe.damage != Damage::None || recipe.forgery != Forgery::None)
            throw std::invalid_argument("fixture PKI: no TimeStampResp for this token recipe");
        const tokens::Issuance issuance = IssuanceOf(recipe);
        return tokens::Respond(signer, MakeRequest(recipe, issuance.serial), issuance);
    }

    void AddToken(const std::string& name, const std::string& token) {
        Write("tokens/" + name + (name == kResponseToken ? ".tsr" : ".tst"), token);
        tokens.emplace(name, token);
    }

    void MakeStandardTokens(const FixtureOptions& options) {
        for (const DigestRow& d : kDigests)
            AddToken(std::string("good-") + d.name, MakeToken(TokenSpec(Tsa::Good, d.id)));
        const std::pair<const char*, void (*)(TokenSpec&)> variants[] = {
            {"nocert", [](TokenSpec& s) { s.includeTsaCert = false; }},
            {"chain", [](TokenSpec& s) { s.includeChain = true; }},
            {"essv2", [](TokenSpec& s) { s.essV2 = true; }},
            {"damaged", [](TokenSpec& s) { s.damage = Damage::FlipSignatureByte; }},
            {"truncated", [](TokenSpec& s) { s.damage = Damage::Truncate; }},
        };
        for (const auto& [suffix, apply] : variants) {
            TokenSpec recipe;
            apply(recipe);
            AddToken(std::string("good-sha256-") + suffix, MakeToken(recipe));
        }
        AddToken(kResponseToken, MakeResponse(TokenSpec{}));
        for (int tag : {2, 1}) {
            TokenSpec recipe;
            recipe.attributeCertificates = options.attributeCertificates;
            recipe.attributeCertificateTag = tag;
            if (!recipe.attributeCertificates.empty())
                AddToken(tag == 2 ? "good-sha256-tac" : "good-sha256-tac-v1", MakeToken(recipe));
        }
        for (const TsaRow& row : kTsas)
            if (row.id != Tsa::Good) AddToken(std::string(row.name + 4) + "-sha256", MakeToken(TokenSpec(row.id)));
    }

    void WriteDataAndManifest() {
        std::string digests;
        for (const DigestRow& d : kDigests)
            digests += std::string(d.name) + " " + d.oid + " " + Hex(DigestOf(d.id)) + "\n";
        Write("data/data.bin", data);
        Write("data/digests.txt", digests);
        std::string text = "# zorbelutilnd fixture PKI, base URL " + baseUrl + ", made for " +
                           std::to_string(static_cast<long long>(now)) + " (Unix time)\n";
        manifest.push_back({"manifest.txt"});
        for (const ManifestEntry& e : manifest) text += e.path + "\n";
        WriteBytes(folder / "manifest.txt", text);
    }
};

FixturePki::FixturePki(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FixturePki::FixturePki(FixturePki&&) noexcept = default;
FixturePki& FixturePki::operator=(FixturePki&&) noexcept = default;
FixturePki::~FixturePki() = default;

FixturePki FixturePki::Create(const std::filesystem::path& folder, const FixtureOptions& options) {
    auto impl = std::make_unique<Impl>();
    impl->folder = folder;
    impl->baseUrl = options.baseUrl;
    while (!impl->baseUrl.empty() && impl->baseUrl.back() == '/') impl->baseUrl.pop_back();
    impl->now = options.now != 0 ? options.now : time(nullptr);
    impl->data = MakeData();
    std::filesystem::create_directories(folder);
    impl->MakeCas();
    impl->MakeTsas();
    impl->MakeCrls();
    impl->MakeStandardTokens(options);
    impl->WriteDataAndManifest();
    return FixturePki(std::move(impl));
}

const FixturePki& FixturePki::Shared() {
    struct Holder {
        std::string folder = (std::filesystem::temp_directory_path() / "zorbelu-pki-XXXXXX").string();
        FixturePki pki = Create(ossl::Check(mkdtemp(folder.data()), "mkdtemp"));
        ~Holder() {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
    };
    static const Holder holder;
    return holder.pki;
}

std::string FixturePki::MakeCrl(Ca issuer, const std::vector<uint64_t>& revokedSerials, time_t thisUpdate,
                                time_t nextUpdate) const {
    x509::CrlRequest r = impl_->CrlRequestOf(issuer, impl_->nextTokenSerial++);
    r.thisUpdate = thisUpdate != 0 ? thisUpdate : impl_->now - kHour;
    r.nextUpdate = nextUpdate != 0 ? nextUpdate : impl_->now + 7 * kDay;
    r.revokedSerials = revokedSerials;
    return x509::CrlDer(x509::MakeCrl(r).get());
}

const std::filesystem::path& FixturePki::Folder() const { return impl_->folder; }
time_t FixturePki::Now() const { return impl_->now; }
const std::string& FixturePki::BaseUrl() const { return impl_->baseUrl; }

const std::string& FixturePki::Data() const { return impl_->data; }
std::filesystem::path FixturePki::DataPath() const { return impl_->folder / "data" / "data.bin"; }
std::string FixturePki::DataDigest(Digest digest) const { return impl_->DigestOf(digest); }
const char* FixturePki::DigestOid(Digest digest) { return RowOf(kDigests, digest).oid; }

const char* FixturePki::Name(Ca ca) { return RowOf(kCas, ca).name; }
const char* FixturePki::Name(Tsa tsa) { return RowOf(kTsas, tsa).name; }
const char* FixturePki::Name(Crl crl) { return RowOf(kCrls, crl).name; }

const std::string& FixturePki::CertDer(Ca ca) const { return impl_->cas.at(ca).der; }
const std::string& FixturePki::CertDer(Tsa tsa) const { return impl_->tsas.at(tsa).der; }
std::filesystem::path FixturePki::CertPath(Ca ca) const { return impl_->folder / "certs" / (Name(ca) + kCer); }
std::filesystem::path FixturePki::CertPath(Tsa tsa) const { return impl_->folder / "certs" / (Name(tsa) + kCer); }
std::filesystem::path FixturePki::CertPemPath(Ca ca) const { return CertPath(ca).replace_extension(".pem"); }
std::filesystem::path FixturePki::CertPemPath(Tsa tsa) const { return CertPath(tsa).replace_extension(".pem"); }
uint64_t FixturePki::Serial(Tsa tsa) const { return impl_->tsas.at(tsa).serial; }
std::vector<std::string> FixturePki::ManyIssuerUrlPaths() {
    std::vector<std::string> paths;
    for (int i = 1; i <= kManyIssuerUrls; ++i) paths.push_back("/slow-aia/" + std::to_string(i) + ".cer");
    return paths;
}

std::string FixturePki::KeyPem(Tsa tsa) const { return x509::KeyPem(impl_->tsas.at(tsa).key.get()); }

const std::string& FixturePki::CrlBytes(Crl crl) const { return impl_->crls.at(crl).bytes; }
std::filesystem::path FixturePki::CrlPath(Crl crl) const { return impl_->folder / "crl" / Name(crl); }
std::string FixturePki::CrlUrl(Crl crl) const { return impl_->UrlOf(std::string("crl/") + Name(crl)); }

const std::string& FixturePki::Token(const std::string& name) const {
    auto it = impl_->tokens.find(name);
    if (it == impl_->tokens.end()) throw std::out_of_range("fixture PKI: no standard token " + name);
    return it->second;
}
std::filesystem::path FixturePki::TokenPath(const std::string& name) const {
    Token(name);
    return impl_->folder / "tokens" / (name + (name == kResponseToken ? ".tsr" : ".tst"));
}

std::string FixturePki::MakeToken(const TokenSpec& recipe) const { return impl_->MakeToken(recipe); }
std::string FixturePki::MakeResponse(const TokenSpec& recipe) const { return impl_->MakeResponse(recipe); }

std::string FixturePki::RespondToTimeStampRequest(const std::string& requestDer) const {
    const Impl::Entity& tsa = impl_->tsas.at(Tsa::Good);
    tokens::Issuance issuance;
    issuance.genTime = impl_->now;
    issuance.serial = impl_->nextTokenSerial++;
    return tokens::Respond({tsa.cert.get(), tsa.key.get(), {}}, requestDer, issuance);
}

std::filesystem::path FixturePki::WriteStoreCertificate(const std::filesystem::path& storeDir, Store store,
                                                        const std::string& fileName, const std::string& der) {
    const std::filesystem::path path = storeDir / (store == Store::Root ? "ROOT" : "CA") / fileName;
    WriteBytes(path, der);
    return path;
}
std::filesystem::path FixturePki::InstallInStore(const std::filesystem::path& storeDir, Store store, Ca ca) const {
    return WriteStoreCertificate(storeDir, store, CertPath(ca).filename(), CertDer(ca));
}
std::filesystem::path FixturePki::InstallInStore(const std::filesystem::path& storeDir, Store store, Tsa tsa) const {
    return WriteStoreCertificate(storeDir, store, CertPath(tsa).filename(), CertDer(tsa));
}

std::vector<FixturePki::ServedFile> FixturePki::ServedFiles() const {
    std::vector<ServedFile> files;
    for (const ManifestEntry& e : impl_->manifest)
        if (e.path.rfind("crl/", 0) == 0 || e.path.rfind("aia/", 0) == 0)
            files.push_back({"/" + e.path, impl_->folder / e.path});
    return files;
}

const std::vector<FixturePki::ManifestEntry>& FixturePki::Manifest() const { return impl_->manifest; }

}  // namespace zorbelu::fixtures
