// fixture_pki.h - the test PKI: roots, intermediates, TSA certificates, CRLs
// and RFC 3161 time-stamp tokens, made with OpenSSL in a folder. It is an
// independent reference: it links libcrypto only, never the project's
// libraries. Every date is relative to FixtureOptions::now; every URL lies
// under FixtureOptions::baseUrl, URL path /crl/x.crl being file crl/x.crl.
// docs/testing.md shows its use, the layout and the contents. Errors (OpenSSL,
// unwritable folder, unknown token name) throw std::runtime_error or
// std::out_of_range.
#ifndef ZORBELU_TESTS_SUPPORT_FIXTURE_PKI_H
#define ZORBELU_TESTS_SUPPORT_FIXTURE_PKI_H

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace zorbelu::fixtures {

struct FixtureOptions {
    // Scheme, host and port of the test server, without a trailing slash
    // (one is dropped if present). The https and LDAP distribution points
    // are derived from its host.
    std::string baseUrl = "http://127.0.0.1:8080";
    // The moment the fixtures are made for; 0 takes time(nullptr).
    time_t now = 0;
    // DER AttributeCertificates for the standard tokens "good-sha256-tac"
    // (as [2] v2AttrCert) and "good-sha256-tac-v1" (as [1] v1AttrCert);
    // those two tokens exist only when this is not empty.
    std::vector<std::string> attributeCertificates;
};

// What each certificate and CRL is: docs/testing.md, "Contents"; the file
// name of each is Name(id).

// Certification authorities. All EC P-256, valid from now-1y to now+10y.
enum class Ca {
    Root,
    Intermediate,           // by Root; CRL DP crl/root.crl; AIA aia/root.cer
    AiaIntermediate,        // as Intermediate, to be reached only through the caIssuers URL of Tsa::AiaOnly
    NoCdpIntermediate,      // by Root, without CRL distribution points
    LookAlikeRoot,          // a forger's pair: the names of Root and Intermediate with other keys
    LookAlikeIntermediate,  // by LookAlikeRoot; CRL DP crl/lookalike-root.crl (not served)
};

// TSA certificates: unless stated, EC P-256, valid from now-30d to now+2y, with
// a critical extendedKeyUsage timeStamping, issued by Ca::Intermediate with CRL
// DP <base>/crl/intermediate.crl and AIA caIssuers <base>/aia/intermediate.cer.
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

// CRLs, file crl/<name>, served at /crl/<name>. Current ones run from
// now-1h to now+7d. All v2 with crlNumber and authorityKeyIdentifier.
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

// Tokens no honest TSA signs, each breaking one integrity rule while the
// rest of the token stays valid. All are signed with the CMS API.
enum class Forgery {
    None,
    GenTimeText,          // genTime encoded as TokenSpec::genTimeText (any bytes), and signed so
    ContentAfterSigning,  // one bit of the TSTInfo's serial number flipped after signing: the
                          //   signed messageDigest no longer matches the content
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

// What MakeToken() makes. The defaults give the standard "good-sha256";
// MakeToken({Tsa::Revoked, Digest::Sha1}) names the two commonest choices.
struct TokenSpec {
    TokenSpec() = default;
    TokenSpec(Tsa tsa_, Digest digest_ = Digest::Sha256) : tsa(tsa_), digest(digest_) {}

    Tsa tsa = Tsa::Good;
    Digest digest = Digest::Sha256;
    bool includeTsaCert = true;  // certReq of the request: the TSA certificate in the token
    bool includeChain = false;   // with includeTsaCert: also the issuing intermediates (never the root)
    bool essV2 = false;          // signingCertificateV2 (SHA-256) instead of signingCertificate (SHA-1)
    // DER AttributeCertificates added to the SignedData certificate set after
    // signing, as [attributeCertificateTag] (2: v2AttrCert, 1: v1AttrCert).
    std::vector<std::string> attributeCertificates;
    int attributeCertificateTag = 2;
    // 0: the fixture's now, or one hour before the TSA certificate's notAfter
    // when that comes first (so that the expired TSA's tokens were made in time).
    time_t genTime = 0;
    // Empty: DataDigest(digest). Otherwise the message imprint to stamp, of
    // the digest's length.
    std::string imprint;
    Damage damage = Damage::None;
    Forgery forgery = Forgery::None;
    std::string genTimeText;  // with Forgery::GenTimeText
};

class FixturePki {
public:
    // Makes everything and writes it into `folder` (created if missing).
    static FixturePki Create(const std::filesystem::path& folder, const FixtureOptions& options = {});
    // One PKI with the default options per process, made on first use in a
    // temporary folder that is removed at exit: for tests that serve nothing.
    static const FixturePki& Shared();

    FixturePki(FixturePki&&) noexcept;
    FixturePki& operator=(FixturePki&&) noexcept;
    ~FixturePki();

    const std::filesystem::path& Folder() const;
    time_t Now() const;
    const std::string& BaseUrl() const;

    // The time-stamped data buffer (data/data.bin) and its digests.
    const std::string& Data() const;
    std::filesystem::path DataPath() const;
    std::string DataDigest(Digest digest) const;
    static const char* DigestOid(Digest digest);

    // Certificates: DER bytes; certs/<name>.cer (DER) and certs/<name>.pem.
    const std::string& CertDer(Ca ca) const;
    const std::string& CertDer(Tsa tsa) const;
    std::filesystem::path CertPath(Ca ca) const;
    std::filesystem::path CertPath(Tsa tsa) const;
    std::filesystem::path CertPemPath(Ca ca) const;
    std::filesystem::path CertPemPath(Tsa tsa) const;
    static const char* Name(Ca ca);
    static const char* Name(Tsa tsa);
    uint64_t Serial(Tsa tsa) const;
    // The URL paths of the 50 caIssuers URLs of Tsa::ManyIssuerUrls, in order
    // ("/slow-aia/1.cer" ...): a test makes its server stall on them.
    static std::vector<std::string> ManyIssuerUrlPaths();

    // The TSA private keys (PKCS#8 PEM, keys/<name>.key.pem), for local token creation.
    std::string KeyPem(Tsa tsa) const;
    std::filesystem::path KeyPath(Tsa tsa) const;

    // CRLs: bytes as served (PEM text for IntermediatePem, else DER).
    const std::string& CrlBytes(Crl crl) const;
    std::filesystem::path CrlPath(Crl crl) const;
    std::string CrlUrl(Crl crl) const;
    static const char* Name(Crl crl);
    // A further CRL (DER) of `issuer`, signed with its key, revoking the
    // serials given; 0 for an update time means now-1h and now+7d.
    std::string MakeCrl(Ca issuer, const std::vector<uint64_t>& revokedSerials, time_t thisUpdate = 0,
                        time_t nextUpdate = 0) const;

    // Standard tokens, also written as tokens/<name>.tst (a TimeStampToken,
    // ContentInfo DER) or, for "good-sha256-response", tokens/<name>.tsr (a
    // whole TimeStampResp). Names: good-<digest> for every Digest;
    // good-sha256-{nocert,chain,essv2,damaged,truncated,response}; <tsa>-sha256
    // for every other Tsa, <tsa> its name without "tsa-" (e.g. "revoked-sha256",
    // "large-cert-sha256"); good-sha256-tac and good-sha256-tac-v1 (see
    // FixtureOptions::attributeCertificates). Throws std::out_of_range for
    // another name.
    const std::string& Token(const std::string& name) const;
    std::filesystem::path TokenPath(const std::string& name) const;

    // A new token (ContentInfo DER); thread-safe.
    std::string MakeToken(const TokenSpec& recipe) const;
    // The whole TimeStampResp for the recipe; only for TSA certificates with a
    // critical timeStamping usage, without attribute certificates or damage.
    std::string MakeResponse(const TokenSpec& recipe) const;

    // The TSA endpoint of an HTTP test server: the DER TimeStampResp that the
    // good TSA (Tsa::Good) gives for a DER TimeStampReq. Granted with the
    // nonce echoed and certReq honoured; a request OpenSSL's responder cannot
    // serve (unparsable, unknown digest) gets a rejection response.
    // genTime is Now(). Thread-safe.
    std::string RespondToTimeStampRequest(const std::string& requestDer) const;

    // Copies a certificate into <storeDir>/ROOT/ or <storeDir>/CA/ as
    // <name>.cer (DER), creating the folder; returns the file's path.
    std::filesystem::path InstallInStore(const std::filesystem::path& storeDir, Store store, Ca ca) const;
    std::filesystem::path InstallInStore(const std::filesystem::path& storeDir, Store store, Tsa tsa) const;
    static std::filesystem::path WriteStoreCertificate(const std::filesystem::path& storeDir, Store store,
                                                       const std::string& fileName, const std::string& der);

    // What the HTTP test server serves: every CRL and every CA certificate
    // (DER, the caIssuers targets) with its URL path ("/crl/root.crl").
    struct ServedFile {
        std::string urlPath;
        std::filesystem::path file;
    };
    std::vector<ServedFile> ServedFiles() const;

    // Relative paths and descriptions, as in manifest.txt.
    struct ManifestEntry {
        std::string path;
        std::string description;
    };
    const std::vector<ManifestEntry>& Manifest() const;

private:
    struct Impl;
    explicit FixturePki(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace zorbelu::fixtures

#endif
