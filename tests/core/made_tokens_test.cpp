// Fixture and locally created tokens against core stores: each failure of the chain gives its own code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/test_util.h"

namespace zorbelu::coretest {
namespace {

using fixtures::Ca;
using fixtures::Crl;
using fixtures::FixturePki;
using fixtures::Tsa;

const FixturePki& Pki() { return FixturePki::Shared(); }

ZORBELUDigestInfoEx StampedDigest(uint32_t algorithm = ZORBEL_HASH_SHA256) {
    return HashWithLibrary(algorithm, ToBytes(Pki().Data()));
}

uint32_t Verify(const Bytes& token, const ZORBELCertStore* store, uint32_t algorithm = ZORBEL_HASH_SHA256) {
    return VerifyEx(token, StampedDigest(algorithm), store);
}

// The hashing calls fed in pieces (an empty one among them), and their refusals.
TEST(core_Hashing, KnownDigestInPiecesAndBadArguments) {
    ZORBELHashHandle* handle = nullptr;
    ASSERT_EQ(ZORBELHashInitEx(&handle, ZORBEL_HASH_SHA256), ZORBEL_OK);
    for (const char* piece : {"a", "", "bc"})
        ASSERT_EQ(ZORBELHashUpdateEx(handle, *piece != 0 ? piece : nullptr, static_cast<uint32_t>(std::strlen(piece))), ZORBEL_OK);
    ZORBELUDigestInfoEx out{};
    ASSERT_EQ(ZORBELHashFinalEx(handle, &out), ZORBEL_OK);
    EXPECT_STREQ(out.algorithmOid, "2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(ToHex(out.digest, out.digestLength), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(ZORBELHashInitEx(&handle, 0), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELHashInitEx(&handle, 6), ZORBEL_ERR_PARAM);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(ZORBELHashInitEx(nullptr, 1), ZORBEL_ERR_PARAM);
    ASSERT_EQ(ZORBELHashInitEx(&handle, 1), ZORBEL_OK);
    EXPECT_EQ(ZORBELHashUpdateEx(handle, nullptr, 3), ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELHashFinalEx(handle, nullptr), ZORBEL_ERR_PARAM);  // frees the handle all the same
    EXPECT_EQ(ZORBELHashUpdateEx(nullptr, "x", 1), ZORBEL_ERR_PARAM);
    ASSERT_EQ(ZORBELHashInitEx(&handle, 3), ZORBEL_OK);
    EXPECT_EQ(ZORBELHashFreeEx(handle), ZORBEL_OK);
}

// ---- The fixture's tokens against stores of its CAs and CRLs ----------------

struct StoreCase {
    const char* what;
    const char* token;
    std::vector<Ca> cas;
    std::vector<Crl> crls;
    uint32_t expected;
};

TEST(core_MadeTokenStore, CertificateVerdicts) {
    const std::vector<Ca> both = {Ca::Root, Ca::Intermediate};
    const StoreCase cases[] = {
        {"good", "good-sha256", {Ca::Intermediate}, {Crl::Intermediate}, ZORBEL_OK},
        {"good, PEM CRL, whole chain", "good-sha256", both, {Crl::Root, Crl::IntermediatePem}, ZORBEL_OK},
        {"good, no CRL at all", "good-sha256", both, {}, ZORBEL_OK},
        {"expired", "expired-sha256", both, {Crl::Intermediate}, ZORBEL_VERIFY_CERT_EXPIRED},
        {"not yet valid", "not-yet-valid-sha256", both, {Crl::Intermediate}, ZORBEL_VERIFY_CERT_EXPIRED},
        // Dates before the chain: OpenSSL would report the missing CRL first.
        {"expired, no CRL of the issuer", "expired-sha256", both, {Crl::Root}, ZORBEL_VERIFY_CERT_EXPIRED},
        {"revoked", "revoked-sha256", both, {Crl::Intermediate}, ZORBEL_VERIFY_CERT_REVOKED},
        {"revoked, large CRL", "revoked-sha256", both, {Crl::IntermediateLarge}, ZORBEL_VERIFY_CERT_REVOKED},
        {"CRL expired", "good-sha256", both, {Crl::IntermediateExpired}, ZORBEL_VERIFY_CRL_EXPIRED},
        {"CRL not yet valid", "good-sha256", both, {Crl::IntermediateNotYetValid}, ZORBEL_VERIFY_CRL_EXPIRED},
        {"no CRL of the issuer", "good-sha256", both, {Crl::Root}, ZORBEL_VERIFY_INCOMPLETE},
        {"issuer not in store", "good-sha256", {Ca::Root}, {Crl::Root}, ZORBEL_VERIFY_INCOMPLETE},
        {"a forger's CAs of the same names", "good-sha256", {Ca::LookAlikeRoot, Ca::LookAlikeIntermediate}, {},
         ZORBEL_VERIFY_INCOMPLETE},
        {"no CA at all", "good-sha256", {}, {}, ZORBEL_VERIFY_UNTRUSTED},
        {"self-issued, not in ROOT", "self-issued-sha256", both, {}, ZORBEL_VERIFY_UNTRUSTED},
    };
    for (const StoreCase& c : cases) {
        SCOPED_TRACE(c.what);
        const Store store = FixtureStore(c.cas, c.crls);
        const Bytes token = ToBytes(Pki().Token(c.token));
        EXPECT_EQ(Verify(token, store.get()), c.expected);
        // Integrity alone does not judge dates, chain or revocation.
        EXPECT_EQ(Verify(token, nullptr), ZORBEL_OK);
    }
}

TEST(core_MadeTokenStore, SignerCertificateMissingEverywhere) {
    const Bytes bare = ToBytes(Pki().Token("good-sha256-nocert"));
    EXPECT_EQ(Verify(bare, nullptr), ZORBEL_VERIFY_NO_SIGNER_CERT);
    const Store store = FixtureStore({Ca::Intermediate});
    EXPECT_EQ(Verify(bare, store.get()), ZORBEL_VERIFY_NO_SIGNER_CERT);
    const Store withLeaf = MakeStore({Pki().CertDer(Ca::Intermediate), Pki().CertDer(Tsa::Good)});
    EXPECT_EQ(Verify(bare, withLeaf.get()), ZORBEL_OK);
}

TEST(core_MadeTokenStore, UndecodableStoreEntry) {
    const Store store = MakeStore({Pki().CertDer(Ca::Intermediate), std::string("\x30\x03\x02\x01\x01", 5)});
    EXPECT_EQ(Verify(ToBytes(Pki().Token("good-sha256")), store.get()), ZORBEL_VERIFY_BAD_STORE_ENTRY);
}

// A self-issued TSA certificate vouches for itself only from the system "ROOT" store.
TEST(core_MadeTokenStore, SelfIssuedTrustedOnlyThroughTheRootStore) {
    TempDir stores;
    setenv("ZORBELU_STORE_DIR", stores.path().c_str(), 1);
    const Bytes token = ToBytes(Pki().Token("self-issued-sha256"));
    const Store store = MakeStore({});
    EXPECT_EQ(Verify(token, store.get()), ZORBEL_VERIFY_UNTRUSTED);
    // A look-alike of the same size (one byte of its signature changed) is not the certificate.
    std::string lookAlike = Pki().CertDer(Tsa::SelfIssued);
    lookAlike.back() ^= 0x01;
    FixturePki::WriteStoreCertificate(stores.path(), fixtures::Store::Root, "look-alike.cer", lookAlike);
    EXPECT_EQ(Verify(token, store.get()), ZORBEL_VERIFY_UNTRUSTED);
    Pki().InstallInStore(stores.path(), fixtures::Store::Root, Tsa::SelfIssued);
    EXPECT_EQ(Verify(token, store.get()), ZORBEL_OK);
    unsetenv("ZORBELU_STORE_DIR");
}

// ---- The local creator ------------------------------------------------------------

// A signer record of the fixture's TSA certificate and key, whose texts it keeps.
struct Signer {
    explicit Signer(Tsa tsa, Tsa keyOf, std::string extraPem = "")
        : key(Pki().KeyPem(keyOf)), cert(Pki().CertDer(tsa)), extra(std::move(extraPem)) {
        record.privateKey = reinterpret_cast<const uint8_t*>(key.data());
        record.privateKeyLength = static_cast<uint32_t>(key.size());
        record.certificate = reinterpret_cast<const uint8_t*>(cert.data());
        record.certificateLength = static_cast<uint32_t>(cert.size());
        if (!extra.empty()) {
            record.extraCertificates = reinterpret_cast<const uint8_t*>(extra.data());
            record.extraCertificatesLength = static_cast<uint32_t>(extra.size());
        }
        std::strcpy(record.defaultPolicyOid, "1.2.3.4.1");
    }
    explicit Signer(Tsa tsa = Tsa::Good) : Signer(tsa, tsa) {}

    uint32_t Create(const ZORBELTimeStampRequest& request, Bytes* token = nullptr, uint32_t flags = 0,
                    uint32_t room = 16384) const {
        Bytes buffer(room);
        ZORBELUCertBlob out{buffer.data(), room, 0};
        const uint32_t rc = ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&record), flags, &request,
                                                         reinterpret_cast<uintptr_t>(&out));
        if (token != nullptr) *token = rc == ZORBEL_OK ? Bytes(buffer.begin(), buffer.begin() + out.length) : Bytes{};
        if (room == 0) neededSize = out.length;
        return rc;
    }

    std::string key, cert, extra;
    ZORBELTSASigner record{};
    mutable uint32_t neededSize = 0;
};

ZORBELTimeStampRequest Request(uint32_t algorithm = ZORBEL_HASH_SHA256) {
    ZORBELTimeStampRequest request{};
    request.digest = StampedDigest(algorithm);
    request.certReq = 1;
    request.nonce = 1;
    return request;
}

// Every algorithm, the token alone or the whole response, with and without a store, plain and long records.
TEST(core_LocalCreator, TokensOfEveryAlgorithmVerify) {
    const struct {
        uint32_t algorithm, essCertIdDigest, flags;
    } cases[] = {{ZORBEL_HASH_SHA1, 0, 0},
                 {ZORBEL_HASH_MD5, 0, 0},
                 {ZORBEL_HASH_SHA256, 3, 0},
                 {ZORBEL_HASH_SHA384, 4, ZORBEL_CREATE_RESPONSE},
                 {ZORBEL_HASH_SHA512, 5, ZORBEL_CREATE_RESPONSE}};
    const Store store = FixtureStore({Ca::Intermediate}, {Crl::Intermediate});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.algorithm);
        Signer signer;
        signer.record.essCertIdDigest = c.essCertIdDigest;
        Bytes token;
        ASSERT_EQ(signer.Create(Request(c.algorithm), &token, c.flags), ZORBEL_OK);
        EXPECT_EQ(Verify(token, nullptr, c.algorithm), ZORBEL_OK);
        EXPECT_EQ(Verify(token, store.get(), c.algorithm), ZORBEL_OK);
        const ZORBELUDigestInfoEx digest = StampedDigest(c.algorithm);
        if (digest.digestLength > 32) continue;  // the plain record holds up to 40 bytes
        ZORBELUDigestInfo plain{};
        std::memcpy(plain.algorithmOid, digest.algorithmOid, sizeof plain.algorithmOid);
        std::memcpy(plain.digest, digest.digest, digest.digestLength);
        plain.digestLength = digest.digestLength;
        const ZORBELUBlob blob = Blob(token);
        EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, store.get()), ZORBEL_OK);
    }
}

TEST(core_LocalCreator, RefusesWhatItCannotSign) {
    EXPECT_EQ(Signer(Tsa::NoEku).Create(Request()), ZORBEL_ERR_TSA_SIGNER);
    EXPECT_EQ(Signer(Tsa::Good, Tsa::GoodRsa).Create(Request()), ZORBEL_ERR_TSA_SIGNER);  // another's key
    Signer signer;
    signer.record.serialNumber = 0x1234;
    Bytes token;
    ASSERT_EQ(signer.Create(Request(), &token), ZORBEL_OK);
    const ZORBELTimeStampInfo info = InfoOf(token);
    EXPECT_EQ(ToHex(info.serialNumber, info.serialNumberLength), "1234");
    EXPECT_STREQ(info.policyOid, "1.2.3.4.1");
    EXPECT_EQ(signer.Create(Request(), nullptr, 0, 0), ZORBEL_ERR_BUFFER_TOO_SMALL);
    EXPECT_GT(signer.neededSize, 100u);
    ZORBELTimeStampRequest request = Request();
    request.digest.digestLength = 20;  // SHA-256 with a SHA-1 length
    EXPECT_EQ(signer.Create(request), ZORBEL_ERR_PARAM);
    ZORBELUCertBlob out{nullptr, 0, 0};
    EXPECT_EQ(ZORBELCreateTimeStampTokenEx(0, 0, &request, reinterpret_cast<uintptr_t>(&out)), ZORBEL_ERR_PARAM);
}

// The token's bag holds TSA, intermediate and root: the chain is complete but ends at a root the store does not hold.
TEST(core_LocalCreator, RootOutsideTheStoreIsUntrusted) {
    const Bytes chain = ReadFile(Pki().CertPemPath(Ca::Intermediate)), root = ReadFile(Pki().CertPemPath(Ca::Root));
    const Signer signer(Tsa::Good, Tsa::Good, std::string(chain.begin(), chain.end()) + std::string(root.begin(), root.end()));
    Bytes token;
    ASSERT_EQ(signer.Create(Request(), &token), ZORBEL_OK);
    EXPECT_EQ(Verify(token, FixtureStore({Ca::NoCdpIntermediate}).get()), ZORBEL_VERIFY_UNTRUSTED);
    EXPECT_EQ(Verify(token, FixtureStore({Ca::Root}).get()), ZORBEL_OK);
}

// The chain verdicts the core remembers must follow each verification's own store, CRLs and clock.
TEST(core_RememberedVerdicts, EveryChangeOfStoreCrlOrClockGivesItsOwnVerdict) {
    const Bytes token = ToBytes(Pki().Token("under-root-sha256"));
    const std::string root = Pki().CertDer(Ca::Root);
    const std::string current = Pki().MakeCrl(Ca::Root, {777});
    const std::string revoking = Pki().MakeCrl(Ca::Root, {777, Pki().Serial(Tsa::UnderRoot)});
    constexpr long kDay = 24 * 3600;
    const struct {
        const char* what;
        std::string anchor;
        std::string crl;
        long clock;  // seconds from now; 0: now
        uint32_t expected;
    } steps[] = {
        {"current CRL", root, current, 0, ZORBEL_OK},
        {"the same again", root, current, 0, ZORBEL_OK},
        {"the CRL refreshed, now revoking the TSA", root, revoking, 0, ZORBEL_VERIFY_CERT_REVOKED},
        {"the revoking CRL again", root, revoking, 0, ZORBEL_VERIFY_CERT_REVOKED},
        {"the first CRL again", root, current, 0, ZORBEL_OK},
        {"a CA that is not the issuer in the store", Pki().CertDer(Ca::Intermediate), current, 0,
         ZORBEL_VERIFY_INCOMPLETE},
        {"the clock past the CRL's nextUpdate", root, current, 8 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
        {"the clock before the CRL's thisUpdate", root, current, -2 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
        {"the clock back to now", root, current, 0, ZORBEL_OK},
        {"the clock past the revoking CRL's nextUpdate", root, revoking, 8 * kDay, ZORBEL_VERIFY_CRL_EXPIRED},
    };
    for (const auto& step : steps) {
        setenv("ZORBELU_TEST_NOW", std::to_string(std::time(nullptr) + step.clock).c_str(), 1);
        EXPECT_EQ(Verify(token, MakeStore({step.anchor}, {step.crl}).get()), step.expected) << step.what;
    }
    unsetenv("ZORBELU_TEST_NOW");
}

}  // namespace
}  // namespace zorbelu::coretest
