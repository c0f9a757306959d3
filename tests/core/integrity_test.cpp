// Every integrity check of the core, one forged token each: the fixture
// PKI signs a token that breaks exactly one rule and is otherwise valid, so
// a row passes only while its check is in place. Verification runs in
// integrity mode (no store): structure, signature, ESS binding, imprint and
// the TSA certificate's extended key usage. A token refused as unreadable
// (2001) must be refused so by every call that reads it; any other token
// reads, and its TSA certificate is the signer's, never a bag neighbour.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cctype>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/der_time.h"
#include "core/test_util.h"
#include "support/fixture_der.h"
#include "support/fixture_pki.h"
#include "support/tac_builder.h"

namespace zorbelu::coretest {
namespace {

using fixtures::Damage;
using fixtures::Digest;
using fixtures::FixturePki;
using fixtures::Forgery;
using fixtures::TokenSpec;
using fixtures::Tsa;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

const FixturePki& Pki() {
    static TempFolder folder;
    static const FixturePki pki = FixturePki::Create(folder.Path());
    return pki;
}

// A TAC for the good TSA, DER; the non-minimal row sends it with its outer
// length in four octets.
const std::string& Tac() {
    static const std::string tac = [] {
        const std::string& der = Pki().CertDer(Tsa::Good);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        std::unique_ptr<X509, decltype(&X509_free)> holder(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                            X509_free);
        std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
        fixtures::TacParams params;
        params.holder = holder.get();
        params.issuer = X509_get_issuer_name(holder.get());
        params.signingKey = key.get();
        const std::vector<uint8_t> built = fixtures::BuildTac(params);
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

// The RSA TSA's token with its first two signed attributes swapped and the
// signature made again over them as they now stand (SHA-256, PKCS #1 v1.5,
// so of the same length): a SET OF out of DER order, signed as it stands.
std::string SignedOutOfOrder(const std::string& token) {
    namespace der = fixtures::der;
    const der::Element content = der::Children(token, der::Read(token, 0, token.size()))[1];
    const der::Element signedData = der::Children(token, content)[0];
    const der::Element signerInfo = der::Children(token, der::Children(token, signedData).back())[0];
    const std::vector<der::Element> fields = der::Children(token, signerInfo);
    const der::Element& attributes = fields[3];
    const std::vector<der::Element> list = der::Children(token, attributes);
    std::string out = token;
    out.replace(list[0].start, list[1].end() - list[0].start,
                token.substr(list[1].start, list[1].end() - list[1].start) +
                    token.substr(list[0].start, list[0].end() - list[0].start));
    const std::string tbs = "\x31" + out.substr(attributes.start + 1, attributes.end() - attributes.start - 1);
    const std::string pem = Pki().KeyPem(Tsa::GoodRsa);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::string signature(fields[5].length, '\0');
    size_t length = signature.size();
    if (!key || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(tbs.data()), tbs.size()) != 1 ||
        length != signature.size())
        throw std::runtime_error("cannot sign the reordered attributes");
    return out.replace(fields[5].contentStart(), fields[5].length, signature);
}

struct Row {
    const char* name;
    std::function<void(TokenSpec&)> forge;
    uint32_t expected;  // ZORBELVerifyTimeStampTokenEx against the data's SHA-256, no store
    const char* why;
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

const Row kRows[] = {
    {"honest", [](TokenSpec&) {}, ZORBEL_OK, "the control: every forgery below starts from this token"},
    {"imprint differs in its last byte",
     [](TokenSpec& s) {
         s.imprint = Pki().DataDigest(Digest::Sha256);
         s.imprint.back() ^= 0x01;
     },
     ZORBEL_VERIFY_IMPRINT_VALUE, "the imprint is compared over its whole length"},
    {"imprint one byte longer",
     [](TokenSpec& s) {
         s.forgery = Forgery::AnyImprint;
         s.imprint = Pki().DataDigest(Digest::Sha256) + '\0';
     },
     ZORBEL_VERIFY_IMPRINT_VALUE, "the digest must be the whole imprint, not its prefix"},
    {"imprint of another algorithm", [](TokenSpec& s) { s.digest = Digest::Sha1; }, ZORBEL_VERIFY_IMPRINT_ALGORITHM,
     "a SHA-1 imprint never answers for a SHA-256 digest"},
    {"content changed after signing", Forge(Forgery::ContentAfterSigning), ZORBEL_VERIFY_SIGNATURE,
     "the signed messageDigest must equal the hash of the TSTInfo"},
    {"content type of the signed attributes is data", Forge(Forgery::ContentTypeData), ZORBEL_VERIFY_SIGNATURE,
     "the signature must be over a TSTInfo, not any content"},
    {"signature damaged", [](TokenSpec& s) { s.damage = Damage::FlipSignatureByte; }, ZORBEL_VERIFY_SIGNATURE,
     "the signature over the signed attributes"},
    {"signed attributes not in DER order", [](TokenSpec& s) { s.tsa = Tsa::GoodRsa; }, ZORBEL_OK,
     "the attributes are hashed as the token gives them, as OpenSSL's CMS verifier hashes them", 0,
     SignedOutOfOrder},
    {"no signing-certificate attribute", Forge(Forgery::NoEss), ZORBEL_VERIFY_ESS_BINDING,
     "nothing binds the signature to a certificate"},
    {"ESS v1 hash wrong", Forge(Forgery::EssWrongHash), ZORBEL_VERIFY_ESS_BINDING, "v1 certHash is checked"},
    {"ESS v1 serial of another", Forge(Forgery::EssOtherSerial), ZORBEL_VERIFY_ESS_BINDING,
     "v1 issuerSerial: the serial is checked, not only the hash"},
    {"ESS v1 issuer of another", Forge(Forgery::EssOtherIssuer), ZORBEL_VERIFY_ESS_BINDING,
     "v1 issuerSerial: the issuer is checked"},
    {"ESS v2 hash wrong", Forge(Forgery::EssWrongHash, true), ZORBEL_VERIFY_ESS_BINDING, "v2 certHash is checked"},
    {"ESS v2 serial of another", Forge(Forgery::EssOtherSerial, true), ZORBEL_VERIFY_ESS_BINDING,
     "v2 issuerSerial: the serial"},
    {"ESS v2 issuer of another", Forge(Forgery::EssOtherIssuer, true), ZORBEL_VERIFY_ESS_BINDING,
     "v2 issuerSerial: the issuer"},
    {"signer last in the bag",
     [](TokenSpec& s) {
         s.includeChain = true;
         s.forgery = Forgery::SignerLastInBag;
     },
     ZORBEL_OK, "the signer is found by its identifier, never as the bag's first certificate"},
    {"no extended key usage", [](TokenSpec& s) { s.tsa = Tsa::NoEku; }, ZORBEL_VERIFY_CERT_INVALID,
     "a certificate without timeStamping usage makes no token"},
    {"extended key usage not critical", [](TokenSpec& s) { s.tsa = Tsa::EkuNotCritical; }, ZORBEL_VERIFY_CERT_INVALID,
     "the timeStamping usage must be critical"},
    {"extended key usage beyond timeStamping", [](TokenSpec& s) { s.tsa = Tsa::ExtraEku; }, ZORBEL_VERIFY_CERT_INVALID,
     "the timeStamping usage must be the only one"},
    {"two signers", Forge(Forgery::TwoSigners), ZORBEL_VERIFY_STRUCTURE, "a time-stamp token has exactly one signer"},
    {"rejection carrying a token", Forge(Forgery::RejectedWithToken), ZORBEL_VERIFY_STRUCTURE,
     "only a granted response (status 0 or 1) holds a token"},
    {"length runs past the end", [](TokenSpec&) {}, ZORBEL_VERIFY_STRUCTURE,
     "the token's own length is bounded by the bytes the caller gave", 1},
    {"TAC with a non-minimal length",
     [](TokenSpec& s) { s.attributeCertificates = {WithFourOctetLength(Tac())}; }, ZORBEL_OK,
     "BER lengths become minimal: the TAC comes back as DER"},
    {"nested deeper than the cap", Forge(Forgery::DeepAttribute), ZORBEL_VERIFY_STRUCTURE,
     "the DER check refuses it for its depth, and the BER converter behind it must too"},
    {"genTime with a non-ASCII byte", GenTime("20240101120000\xC3\xA9Z"), ZORBEL_VERIFY_STRUCTURE,
     "only digits, a fraction and Z; the text is shown and written out as it is"},
    {"genTime without Z", GenTime("20240101120000"), ZORBEL_VERIFY_STRUCTURE, "UTC only"},
    {"genTime with an offset", GenTime("20240101120000+0100"), ZORBEL_VERIFY_STRUCTURE, "UTC only"},
    {"genTime fraction with a trailing zero", GenTime("20240101120000.50Z"), ZORBEL_VERIFY_STRUCTURE,
     "DER has one encoding per time"},
    {"genTime with an empty fraction", GenTime("20240101120000.Z"), ZORBEL_VERIFY_STRUCTURE, "no digits after ."},
    {"genTime on 30 February", GenTime("20240230120000Z"), ZORBEL_VERIFY_STRUCTURE, "days in range for the month"},
    {"genTime at hour 24", GenTime("20240101240000Z"), ZORBEL_VERIFY_STRUCTURE, "hours 0 to 23"},
    {"genTime with a fraction", GenTime("20240229235959.125Z"), ZORBEL_OK, "a leap day and a DER fraction read"},
};

class core_ForgedToken : public testing::TestWithParam<Row> {};

TEST_P(core_ForgedToken, RefusedWithItsCode) {
    const Row& row = GetParam();
    TokenSpec recipe;
    row.forge(recipe);
    const std::string made = Pki().MakeToken(recipe);
    const Bytes token = ToBytes(row.rework ? row.rework(made) : made);
    ASSERT_GT(token.size(), row.cut);
    const ZORBELUBlob blob{token.data(), static_cast<uint32_t>(token.size() - row.cut)};
    const ZORBELUDigestInfoEx digest =
        DigestEx(FixturePki::DigestOid(Digest::Sha256), ToBytes(Pki().DataDigest(Digest::Sha256)));
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, nullptr), row.expected) << row.why;

    const uint32_t read = row.expected == ZORBEL_VERIFY_STRUCTURE ? ZORBEL_VERIFY_STRUCTURE : ZORBEL_OK;
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    EXPECT_EQ(ZORBELGetTimeStampInfoEx(&blob, &info), read);
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

// The rules behind the genTime rows, and the UTCTime form a CRL's
// nextUpdate must have.
TEST(core_DerTime, UtcTimeAndCalendar) {
    using zorbel::DerTimeType;
    using zorbel::IsDerTime;
    EXPECT_TRUE(IsDerTime("491231235959Z", DerTimeType::kUtcTime));
    EXPECT_FALSE(IsDerTime("4912312359Z", DerTimeType::kUtcTime)) << "seconds are required";
    EXPECT_FALSE(IsDerTime("20491231235959Z", DerTimeType::kUtcTime)) << "two year digits";
    EXPECT_TRUE(IsDerTime("000229000000Z", DerTimeType::kUtcTime)) << "2000 is a leap year";
    EXPECT_FALSE(IsDerTime("19000229000000Z", DerTimeType::kGeneralizedTime)) << "1900 is not";
    EXPECT_FALSE(IsDerTime("20231301000000Z", DerTimeType::kGeneralizedTime)) << "month 13";
    EXPECT_FALSE(IsDerTime("20230101005960Z", DerTimeType::kGeneralizedTime)) << "second 60";
}

}  // namespace
}  // namespace zorbelu::coretest
