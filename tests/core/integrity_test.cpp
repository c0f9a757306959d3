// Every integrity check of the core, one forged token each, as caller's bytes and as a token read once.
// Fixture and locally created tokens against core stores: each failure of the chain gives its own code.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/der_time.h"
#include "core/test_util.h"
#include "core/zorbel_private.h"
#include "support/fixture_der.h"
#include "support/fixture_pki.h"
#include "support/fixture_x509.h"
#include "support/tac_builder.h"

namespace zorbelu::coretest {
namespace {

using fixtures::Ca;
using fixtures::Crl;
using fixtures::Damage;
using fixtures::Digest;
using fixtures::FixturePki;
using fixtures::Forgery;
using fixtures::TokenSpec;
using fixtures::Tsa;

const FixturePki& Pki() {
    static TempDir folder;
    static const FixturePki pki = FixturePki::Create(folder.path());
    return pki;
}

// A TAC for the good TSA with every timing value set; a serial longer than 64 bits and negative.
fixtures::TacParams TacParams() {
    static const std::string& der = Pki().CertDer(Tsa::Good);
    static const fixtures::ossl::X509Ptr holder = [] {
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        return fixtures::ossl::X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    }();
    static const fixtures::ossl::PkeyPtr key = fixtures::x509::CachedKey("tmc", fixtures::x509::KeyType::Rsa2048);
    fixtures::TacParams params;
    params.holder = holder.get();
    params.issuer = X509_get_issuer_name(holder.get());
    params.serial = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03};
    params.metrics.ntpSeconds = fixtures::NtpSecondsFromUnix(1700000000);
    params.metrics.ntpFraction = 0x80000000u;  // half a second
    params.metrics.offsetSeconds = 1;
    params.metrics.offsetMicros = 250000;
    params.metrics.offsetDirection = 1;
    params.metrics.delayMicros = 125000;
    params.metrics.expirySeconds = fixtures::NtpSecondsFromUnix(1700086400);
    params.policy = {"1.2.3.4.5.6", 2, 0, 1, 500000};
    params.signingKey = key.get();
    return params;
}

const std::string& Tac() {
    static const std::string tac = [] {
        const Bytes built = fixtures::BuildTac(TacParams());
        return std::string(built.begin(), built.end());
    }();
    return tac;
}

std::string WithFourOctetLength(const std::string& der) {
    const size_t header = (static_cast<uint8_t>(der[1]) & 0x80) ? 2 + (der[1] & 0x7F) : 2;
    const size_t length = der.size() - header;
    std::string out{der[0], '\x84'};
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xFF);
    return out + der.substr(header);
}

// The RSA TSA's token with two signed attributes swapped and signed again: a SET OF out of DER order.
std::string SignedOutOfOrder(const std::string& token) {
    namespace der = fixtures::der;
    const std::vector<der::Element> fields =
        der::Children(token, der::Children(token, der::SignedDataFields(token).back())[0]);
    const der::Element &attributes = fields[3], &signature = fields[5];
    const std::vector<der::Element> list = der::Children(token, attributes);
    const auto text = [&](const der::Element& e) { return token.substr(e.start, e.end() - e.start); };
    std::string out = token;
    out.replace(list[0].start, list[1].end() - list[0].start, text(list[1]) + text(list[0]));
    const std::string tbs = "\x31" + out.substr(attributes.start + 1, attributes.end() - attributes.start - 1);
    const std::string pem = Pki().KeyPem(Tsa::GoodRsa);
    const fixtures::ossl::BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    const fixtures::ossl::PkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    const fixtures::ossl::MdCtxPtr ctx(EVP_MD_CTX_new());
    std::string value(signature.length, '\0');
    size_t length = value.size();
    if (!key || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(value.data()), &length,
                       reinterpret_cast<const unsigned char*>(tbs.data()), tbs.size()) != 1 ||
        length != value.size())
        throw std::runtime_error("cannot sign the reordered attributes");
    return out.replace(signature.contentStart(), signature.length, value);
}

// The TSTInfo's policy OID with a subidentifier led by 0x80 (same length), which OpenSSL refuses to decode.
std::string PolicyOidPadded(const std::string& token) {
    const std::string policy("\x06\x0A\x2B\x06\x01\x04\x01\x83\xB2\x03\x07\x02", 12);
    const size_t at = token.find(policy);
    if (at == std::string::npos) throw std::runtime_error("no policy OID in the token");
    return token.substr(0, at + 3) + '\x80' + token.substr(at + 4);
}

// Each row breaks one rule of an honest token; `expected`: ZORBELVerifyTimeStampTokenEx against the data's SHA-256.
struct Row {
    const char* name;
    std::function<void(TokenSpec&)> forge;
    uint32_t expected;
    size_t cut = 0;  // bytes left out of the blob's length while they stay in memory
    std::string (*rework)(const std::string&) = nullptr;  // a change made after signing
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

auto Forge(Forgery forgery, bool essV2 = false) {
    return [=](TokenSpec& s) {
        s.forgery = forgery;
        s.essV2 = essV2;
    };
}
auto GenTime(const char* text) {
    return [=](TokenSpec& s) {
        s.forgery = Forgery::GenTimeText;
        s.genTimeText = text;
    };
}
auto SignedBy(Tsa tsa) {
    return [=](TokenSpec& s) { s.tsa = tsa; };
}
auto Imprint(const std::string& suffix, bool flipLast) {
    return [=](TokenSpec& s) {
        if (!suffix.empty()) s.forgery = Forgery::AnyImprint;
        s.imprint = Pki().DataDigest(Digest::Sha256) + suffix;
        if (flipLast) s.imprint.back() ^= 0x01;
    };
}
const auto kAsMade = [](TokenSpec&) {};

const Row kRows[] = {
    {"honest", kAsMade, ZORBEL_OK},
    {"imprint differs in its last byte", Imprint("", true), ZORBEL_VERIFY_IMPRINT_VALUE},
    {"imprint one byte longer: no prefix", Imprint(std::string(1, '\0'), false), ZORBEL_VERIFY_IMPRINT_VALUE},
    {"imprint of SHA-1", [](TokenSpec& s) { s.digest = Digest::Sha1; }, ZORBEL_VERIFY_IMPRINT_ALGORITHM},
    {"TSTInfo changed after signing: messageDigest", Forge(Forgery::ContentAfterSigning), ZORBEL_VERIFY_SIGNATURE},
    {"content type of the signed attributes is data", Forge(Forgery::ContentTypeData), ZORBEL_VERIFY_SIGNATURE},
    {"signature damaged", [](TokenSpec& s) { s.damage = Damage::FlipSignatureByte; }, ZORBEL_VERIFY_SIGNATURE},
    {"signed attributes hashed as given, not in DER order", SignedBy(Tsa::GoodRsa), ZORBEL_OK, 0, SignedOutOfOrder},
    {"no signing-certificate attribute", Forge(Forgery::NoEss), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v1 hash wrong", Forge(Forgery::EssWrongHash), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v1 serial of another", Forge(Forgery::EssOtherSerial), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v1 issuer of another", Forge(Forgery::EssOtherIssuer), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v2 hash wrong", Forge(Forgery::EssWrongHash, true), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v2 serial of another", Forge(Forgery::EssOtherSerial, true), ZORBEL_VERIFY_ESS_BINDING},
    {"ESS v2 issuer of another", Forge(Forgery::EssOtherIssuer, true), ZORBEL_VERIFY_ESS_BINDING},
    {"signer last in the bag: found by its identifier",
     [](TokenSpec& s) {
         s.includeChain = true;
         s.forgery = Forgery::SignerLastInBag;
     },
     ZORBEL_OK},
    {"no extended key usage", SignedBy(Tsa::NoEku), ZORBEL_VERIFY_CERT_INVALID},
    {"extended key usage not critical", SignedBy(Tsa::EkuNotCritical), ZORBEL_VERIFY_CERT_INVALID},
    {"extended key usage beyond timeStamping", SignedBy(Tsa::ExtraEku), ZORBEL_VERIFY_CERT_INVALID},
    {"two signers", Forge(Forgery::TwoSigners), ZORBEL_VERIFY_STRUCTURE},
    {"rejection carrying a token", Forge(Forgery::RejectedWithToken), ZORBEL_VERIFY_STRUCTURE},
    {"length runs past the bytes given", kAsMade, ZORBEL_VERIFY_STRUCTURE, 1},
    {"TAC with a non-minimal length comes back as DER",
     [](TokenSpec& s) { s.attributeCertificates = {WithFourOctetLength(Tac())}; }, ZORBEL_OK},
    {"OID with a padded subidentifier", kAsMade, ZORBEL_VERIFY_STRUCTURE, 0, PolicyOidPadded},
    {"nested deeper than the DER and BER caps", Forge(Forgery::DeepAttribute), ZORBEL_VERIFY_STRUCTURE},
    {"genTime with a non-ASCII byte", GenTime("20240101120000\xC3\xA9Z"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime without Z", GenTime("20240101120000"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime with an offset", GenTime("20240101120000+0100"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime fraction with a trailing zero", GenTime("20240101120000.50Z"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime with an empty fraction", GenTime("20240101120000.Z"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime on 30 February", GenTime("20240230120000Z"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime at hour 24", GenTime("20240101240000Z"), ZORBEL_VERIFY_STRUCTURE},
    {"genTime on a leap day with a fraction", GenTime("20240229235959.125Z"), ZORBEL_OK},
};

class core_ForgedToken : public testing::TestWithParam<Row> {};

TEST_P(core_ForgedToken, RefusedWithItsCode) {
    const Row& row = GetParam();
    TokenSpec recipe;
    row.forge(recipe);
    const std::string made = Pki().MakeToken(recipe);
    const Bytes token = ToBytes(row.rework ? row.rework(made) : made);
    ASSERT_GT(token.size(), row.cut);
    const Bytes given(token.begin(), token.end() - static_cast<long>(row.cut));
    const ZORBELUBlob blob{token.data(), static_cast<uint32_t>(given.size())};  // the rest stays in memory
    const ZORBELUDigestInfoEx digest =
        DigestEx(FixturePki::DigestOid(Digest::Sha256), ToBytes(Pki().DataDigest(Digest::Sha256)));
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), row.expected);
    ZORBELPRVToken* handle = nullptr;
    uint32_t readOnce = ZORBELPRVReadToken(&blob, &handle);
    if (readOnce == ZORBEL_OK) readOnce = ZORBELPRVVerifyTokenEx(handle, &digest, nullptr);
    ZORBELPRVFreeToken(handle);
    EXPECT_EQ(readOnce, row.expected) << "read once";

    const uint32_t read = row.expected == ZORBEL_VERIFY_STRUCTURE ? ZORBEL_VERIFY_STRUCTURE : ZORBEL_OK;
    uint32_t rc = 0;
    const ZORBELTimeStampInfo info = InfoOf(given, &rc);
    EXPECT_EQ(rc, read);
    if (recipe.forgery == Forgery::GenTimeText && read == ZORBEL_OK) {
        EXPECT_EQ(recipe.genTimeText, info.genTime);
    }
    Bytes buffer(64 * 1024);
    ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    EXPECT_EQ(ZORBELGetTSACert(&blob, &out), read);
    if (read == ZORBEL_OK) {
        EXPECT_EQ(ToBytes(Pki().CertDer(recipe.tsa)), Bytes(buffer.begin(), buffer.begin() + out.length));
    }
    if (!recipe.attributeCertificates.empty()) {
        ZORBELUCertBlob tac{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
        ASSERT_EQ(ZORBELGetTAC(&blob, &tac), ZORBEL_OK);
        EXPECT_EQ(ToBytes(Tac()), Bytes(buffer.begin(), buffer.begin() + tac.length));
    }
}

INSTANTIATE_TEST_SUITE_P(Integrity, core_ForgedToken, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& param) {
                             std::string name = param.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// The rules behind the genTime rows, and the UTCTime form a CRL's nextUpdate must have.
TEST(core_DerTime, UtcTimeAndCalendar) {
    using zorbel::DerTimeType;
    const struct {
        const char* text;
        DerTimeType type;
        bool valid;
    } cases[] = {
        {"491231235959Z", DerTimeType::kUtcTime, true},          {"4912312359Z", DerTimeType::kUtcTime, false},
        {"20491231235959Z", DerTimeType::kUtcTime, false},       {"000229000000Z", DerTimeType::kUtcTime, true},
        {"19000229000000Z", DerTimeType::kGeneralizedTime, false}, {"20231301000000Z", DerTimeType::kGeneralizedTime, false},
        {"20230101005960Z", DerTimeType::kGeneralizedTime, false},
    };
    for (const auto& c : cases) EXPECT_EQ(zorbel::IsDerTime(c.text, c.type), c.valid) << c.text;
}

// The TAC's three records with the values it was built with (the token row above carries it).
TEST(core_Tac, ValuesOfABuiltTac) {
    const Bytes tac = ToBytes(Tac());
    const ZORBELUBlob blob = Blob(tac);
    ZORBELTACCertInfo info{};
    ASSERT_EQ(ZORBELGetTACCertInfo(&blob, &info), ZORBEL_OK);
    EXPECT_EQ(info.serialNumber[0], 0x00000000u);  // the 64 low-order bits
    EXPECT_EQ(info.serialNumber[1], 0x00010203u);
    EXPECT_STREQ(info.holder, "C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test tsa-good");
    EXPECT_STREQ(info.issuer, "C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test Intermediate CA");
    EXPECT_STREQ(info.signatureAlgorithmOid, "1.2.840.113549.1.1.11");
    EXPECT_EQ(info.signatureLength, 256u);
    EXPECT_EQ(info.holderHashLength, 0u);
    ZORBELTACTimingMetrics metrics{};
    ASSERT_EQ(ZORBELGetTACTimingMetrics(&blob, &metrics), ZORBEL_OK);
    EXPECT_STREQ(metrics.auditedTime, "20231114221320.5Z");
    EXPECT_FLOAT_EQ(metrics.offset, 1.25f);
    EXPECT_FLOAT_EQ(metrics.delay, 0.125f);
    EXPECT_STREQ(metrics.expiration, "20231115221320Z");
    ZORBELTACTimingPolicy policy{};
    ASSERT_EQ(ZORBELGetTACTimingPolicy(&blob, &policy), ZORBEL_OK);
    EXPECT_STREQ(policy.policyOid, "1.2.3.4.5.6");
    EXPECT_FLOAT_EQ(policy.offset, 2.0f);
    EXPECT_FLOAT_EQ(policy.delay, 1.5f);

    fixtures::TacParams params = TacParams();
    params.holderByEntityName = false;
    const Bytes byIssuer = fixtures::BuildTac(params);
    const ZORBELUBlob byIssuerBlob = Blob(byIssuer);
    ASSERT_EQ(ZORBELGetTACCertInfo(&byIssuerBlob, &info), ZORBEL_OK);
    EXPECT_STREQ(info.holder, "C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test Intermediate CA, serial 2001");
}

TEST(core_Tac, MissingAttributesAndDamage) {
    fixtures::TacParams params = TacParams();
    params.withPolicy = false;
    const Bytes noPolicy = fixtures::BuildTac(params);
    const ZORBELUBlob blob = Blob(noPolicy);
    ZORBELTACTimingPolicy policy{};
    ZORBELTACTimingMetrics metrics{};
    EXPECT_EQ(ZORBELGetTACTimingPolicy(&blob, &policy), ZORBEL_ERR_TAC_NO_ATTRIBUTE);
    EXPECT_EQ(ZORBELGetTACTimingMetrics(&blob, &metrics), ZORBEL_OK);
    for (size_t cut : {size_t{1}, size_t{10}, noPolicy.size() / 2, noPolicy.size() - 1}) {
        const Bytes truncated(noPolicy.begin(), noPolicy.begin() + static_cast<long>(cut));
        const ZORBELUBlob part = Blob(truncated);
        ZORBELTACCertInfo info{};
        EXPECT_EQ(ZORBELGetTACCertInfo(&part, &info), ZORBEL_ERR_TAC_FORMAT) << cut;
    }
    EXPECT_EQ(ZORBELGetTACCertInfo(nullptr, nullptr), ZORBEL_ERR_PARAM);
}

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
    const auto pem = [](Ca ca) { return test::ReadFileBytes(Pki().CertPemPath(ca)); };
    const Signer signer(Tsa::Good, Tsa::Good, pem(Ca::Intermediate) + pem(Ca::Root));
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
