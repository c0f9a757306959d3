// Every integrity check of the core, one forged token each, as caller's bytes and as a token read once.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
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
auto Signer(Tsa tsa) {
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
    {"signed attributes hashed as given, not in DER order", Signer(Tsa::GoodRsa), ZORBEL_OK, 0, SignedOutOfOrder},
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
    {"no extended key usage", Signer(Tsa::NoEku), ZORBEL_VERIFY_CERT_INVALID},
    {"extended key usage not critical", Signer(Tsa::EkuNotCritical), ZORBEL_VERIFY_CERT_INVALID},
    {"extended key usage beyond timeStamping", Signer(Tsa::ExtraEku), ZORBEL_VERIFY_CERT_INVALID},
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

}  // namespace
}  // namespace zorbelu::coretest
