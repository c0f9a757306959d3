// fixture_pki.h - the test PKI made with libcrypto in a folder (docs/testing.md); errors throw.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zorbelu::fixtures {

struct FixtureOptions {
    std::string baseUrl = "http://127.0.0.1:8080";  // the test server; the https and LDAP URLs take its host
    time_t now = 0;                                  // the moment the fixtures are made for; 0: time(nullptr)
    std::vector<std::string> attributeCertificates;  // DER, for "good-sha256-tac" and "good-sha256-tac-v1"
};

// What each certificate and CRL is: docs/testing.md, "Contents".
enum class Ca {
    Root,
    Intermediate,           // by Root; CRL DP crl/root.crl; AIA aia/root.cer
    AiaIntermediate,        // as Intermediate, to be reached only through the caIssuers URL of Tsa::AiaOnly
    NoCdpIntermediate,      // by Root, without CRL distribution points
    LookAlikeRoot,          // a forger's pair: the names of Root and Intermediate with other keys
    LookAlikeIntermediate,  // by LookAlikeRoot; CRL DP crl/lookalike-root.crl (not served)
};

enum class Tsa {
    Good,
    GoodRsa,                 // RSA 2048
    UnderRoot,               // by Root; crl/root.crl
    Expired,                 // now-2y to now-1d
    NotYetValid,             // now+1d to now+2y
    Revoked,                 // listed (keyCompromise) in every intermediate CRL
    SelfIssued,              // self-signed; no CRL DP, no AIA
    NoEku,                   // no extendedKeyUsage
    EkuNotCritical,          // timeStamping not critical
    HttpsOnlyCdp,            // one DP, https://<host>:<port>/crl/intermediate.crl
    LdapOnlyCdp,             // one DP, an ldap:// URI
    LdapThenHttpCdp,         // one DP holding an ldap:// then the http:// URI
    HttpsThenHttpCdp,        // DP 1 https://, DP 2 the http:// URI
    NoCdp,                   // no CRL distribution points extension
    AiaOnly,                 // by AiaIntermediate; crl/aia-intermediate.crl
    UnderNoCdpIntermediate,  // by NoCdpIntermediate; crl/nocdp-intermediate.crl
    PemCrl,                  // CRL DP crl/intermediate-pem.crl
    LargeCrl,                // CRL DP crl/intermediate-large.crl
    ExpiredCrl,              // CRL DP crl/intermediate-expired.crl
    NotYetValidCrl,          // CRL DP crl/intermediate-not-yet-valid.crl
    LargeCertificate,        // about 21,500 bytes (a padding extension)
    LookAlike,               // by LookAlikeIntermediate
    ManyIssuerUrls,          // by AiaIntermediate; caIssuers: only ManyIssuerUrlPaths(), which nothing serves
    ExtraEku,                // critical extendedKeyUsage timeStamping and serverAuth
};

enum class Crl {
    Root,                     // empty
    Intermediate,             // DER, revokes Tsa::Revoked
    IntermediatePem,          // the same CRL as Intermediate, PEM
    IntermediateExpired,      // now-30d to now-1d
    IntermediateNotYetValid,  // now+1d to now+30d
    IntermediateLarge,        // about 25,000 bytes (filler entries)
    AiaIntermediate,          // empty
    NoCdpIntermediate,        // empty
};

enum class Digest { Md5, Sha1, Sha256, Sha384, Sha512 };

enum class Damage {
    None,
    FlipSignatureByte,  // one bit of the middle byte of the signature value flipped
    Truncate,           // the first half of the bytes only
};

// Tokens no honest TSA signs, each breaking one integrity rule (docs/testing.md, "Forged tokens").
enum class Forgery {
    None,
    GenTimeText,          // genTime encoded as TokenSpec::genTimeText (any bytes), and signed so
    ContentAfterSigning,  // one bit of the TSTInfo's serial number flipped after signing
    ContentTypeData,      // the signed content-type attribute says id-data, not id-ct-TSTInfo
    AnyImprint,           // nothing else: the CMS signer takes a TokenSpec::imprint of any length
    NoEss,                // no signing-certificate attribute
    EssWrongHash,         // signing-certificate(V2): certHash with one bit flipped, issuerSerial right
    EssOtherSerial,       // certHash right, issuerSerial with another serial number
    EssOtherIssuer,       // certHash right, issuerSerial naming the signer's subject as issuer
    SignerLastInBag,      // the signer's certificate moved behind the others in the certificate set
    DeepAttribute,        // an unsigned attribute whose value nests 80 SEQUENCEs
    TwoSigners,           // a second SignerInfo (same certificate and key)
    RejectedWithToken,    // the token wrapped in a TimeStampResp whose status is 2 (rejection)
};

enum class Store { Root, Ca };  // the "ROOT" and "CA" folders of a directory store

// What MakeToken() makes; the defaults give "good-sha256".
struct TokenSpec {
    TokenSpec() = default;
    TokenSpec(Tsa tsa_, Digest digest_ = Digest::Sha256) : tsa(tsa_), digest(digest_) {}

    Tsa tsa = Tsa::Good;
    Digest digest = Digest::Sha256;
    bool includeTsaCert = true;  // certReq of the request: the TSA certificate in the token
    bool includeChain = false;   // with includeTsaCert: also the issuing intermediates (never the root)
    bool essV2 = false;          // signingCertificateV2 (SHA-256) instead of signingCertificate (SHA-1)
    std::vector<std::string> attributeCertificates;  // DER, added to the certificate set after signing
    int attributeCertificateTag = 2;                 // ... as [2] v2AttrCert or [1] v1AttrCert
    time_t genTime = 0;    // 0: now, or one hour before the TSA certificate's notAfter when that comes first
    std::string imprint;   // empty: DataDigest(digest)
    Damage damage = Damage::None;
    Forgery forgery = Forgery::None;
    std::string genTimeText;  // with Forgery::GenTimeText
};

class FixturePki {
public:
    static FixturePki Create(const std::filesystem::path& folder, const FixtureOptions& options = {});
    static const FixturePki& Shared();  // default options, one per process, in a temporary folder

    FixturePki(FixturePki&&) noexcept;
    FixturePki& operator=(FixturePki&&) noexcept;
    ~FixturePki();

    const std::filesystem::path& Folder() const;
    time_t Now() const;
    const std::string& BaseUrl() const;

    const std::string& Data() const;  // data/data.bin, what the standard tokens stamp
    std::filesystem::path DataPath() const;
    std::string DataDigest(Digest digest) const;
    static const char* DigestOid(Digest digest);

    const std::string& CertDer(Ca ca) const;
    const std::string& CertDer(Tsa tsa) const;
    std::filesystem::path CertPath(Ca ca) const;
    std::filesystem::path CertPath(Tsa tsa) const;
    std::filesystem::path CertPemPath(Ca ca) const;
    std::filesystem::path CertPemPath(Tsa tsa) const;
    static const char* Name(Ca ca);
    static const char* Name(Tsa tsa);
    uint64_t Serial(Tsa tsa) const;
    // The URL paths of the caIssuers URLs of Tsa::ManyIssuerUrls ("/slow-aia/1.cer" ...).
    static std::vector<std::string> ManyIssuerUrlPaths();

    std::string KeyPem(Tsa tsa) const;

    const std::string& CrlBytes(Crl crl) const;  // as served: PEM for IntermediatePem, else DER
    std::filesystem::path CrlPath(Crl crl) const;
    std::string CrlUrl(Crl crl) const;
    static const char* Name(Crl crl);
    // A further DER CRL of `issuer` revoking these serials; 0 update times: now-1h and now+7d.
    std::string MakeCrl(Ca issuer, const std::vector<uint64_t>& revokedSerials, time_t thisUpdate = 0,
                        time_t nextUpdate = 0) const;

    // The standard tokens by name (docs/testing.md); std::out_of_range for another name.
    const std::string& Token(const std::string& name) const;
    std::filesystem::path TokenPath(const std::string& name) const;

    std::string MakeToken(const TokenSpec& recipe) const;  // ContentInfo DER; thread-safe
    // The whole TimeStampResp; not for forgeries, damage, attribute certificates or a TSA OpenSSL refuses.
    std::string MakeResponse(const TokenSpec& recipe) const;
    // The test server's TSA endpoint: tsa-good's DER TimeStampResp to a DER TimeStampReq; thread-safe.
    std::string RespondToTimeStampRequest(const std::string& requestDer) const;

    // Copies a certificate into <storeDir>/ROOT/ or <storeDir>/CA/ as <name>.cer (DER); returns the path.
    std::filesystem::path InstallInStore(const std::filesystem::path& storeDir, Store store, Ca ca) const;
    std::filesystem::path InstallInStore(const std::filesystem::path& storeDir, Store store, Tsa tsa) const;
    static std::filesystem::path WriteStoreCertificate(const std::filesystem::path& storeDir, Store store,
                                                       const std::string& fileName, const std::string& der);

    // What the HTTP test server serves (the CRLs and caIssuers targets) and at which URL path.
    struct ServedFile {
        std::string urlPath;
        std::filesystem::path file;
    };
    std::vector<ServedFile> ServedFiles() const;

    struct ManifestEntry {  // as in manifest.txt
        std::string path;
    };
    const std::vector<ManifestEntry>& Manifest() const;

private:
    struct Impl;
    explicit FixturePki(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zorbelu::fixtures
