// The time attribute certificate: cut out of a real token and decoded, and
// round trips through TACs built for test tokens.
#include <gtest/gtest.h>

#include "core/test_util.h"
#include "support/fixture_pki.h"
#include "support/fixture_x509.h"
#include "support/tac_builder.h"
#include "support/real_world_data.h"

namespace zorbelu::coretest {
namespace {

Bytes Tac(const Bytes& token, uint32_t* result) {
    const ZORBELUBlob blob = Blob(token);
    Bytes buffer(4096);
    ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
    *result = ZORBELGetTAC(&blob, &out);
    buffer.resize(*result == ZORBEL_OK ? out.length : 0);
    return buffer;
}

TEST(core_Tac, RealTacIsCutOutAsAPlainSequence) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    const Bytes tac = Tac(ReadFile(RealWorld("bc-java/tsp/generalizedTime.tsr")), &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    EXPECT_EQ(tac, ReadFile(RealWorld("bc-java/tsp/extracted/generalizedTime.v1AttrCert-TAC.der")));
}

TEST(core_Tac, RealTacFields) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    const Bytes tac = ReadFile(RealWorld("bc-java/tsp/extracted/generalizedTime.v1AttrCert-TAC.der"));
    const ZORBELUBlob blob = Blob(tac);
    ZORBELTACCertInfo info{};
    ASSERT_EQ(ZORBELGetTACCertInfo(&blob, &info), ZORBEL_OK);
    EXPECT_EQ(info.version, 2);
    EXPECT_STREQ(info.holder, "C=GB, ST=Cambridgeshire, L=Cambridge, O=nCipher Corporation Limited, "
                              "OU=nCipher DSE ESN:322A-B5DD-725B, CN=demo-dse200-01");
    EXPECT_STREQ(info.holderHashAlgorithmOid, "1.3.14.3.2.26");
    EXPECT_EQ(info.holderHashLength, 20u);
    EXPECT_STREQ(info.issuer, "C=US, O=nCipher Corporation Limited, OU=Production Test, CN=Test TMC");
    // -0x3A25CAA500000000 in two's complement.
    EXPECT_EQ(info.serialNumber[0], 0xC5DA355Bu);
    EXPECT_EQ(info.serialNumber[1], 0u);
    EXPECT_STREQ(info.notBefore, "20050310025419Z");
    EXPECT_STREQ(info.notAfter, "20050313025419Z");
    EXPECT_STREQ(info.signatureAlgorithmOid, "1.2.840.113549.1.1.5");
    EXPECT_EQ(info.signatureLength, 128u);

    ZORBELTACTimingMetrics metrics{};
    ASSERT_EQ(ZORBELGetTACTimingMetrics(&blob, &metrics), ZORBEL_OK);
    EXPECT_STREQ(metrics.auditedTime, "20050310025419Z");
    EXPECT_FLOAT_EQ(metrics.offset, -0.026809f);
    EXPECT_FLOAT_EQ(metrics.delay, 0.169468f);
    EXPECT_STREQ(metrics.expiration, "20050313025419Z");

    ZORBELTACTimingPolicy policy{};
    ASSERT_EQ(ZORBELGetTACTimingPolicy(&blob, &policy), ZORBEL_OK);
    EXPECT_STREQ(policy.policyOid, "1.3.6.1.4.1.601.10.3.1");
    EXPECT_FLOAT_EQ(policy.offset, 0.5f);
    EXPECT_FLOAT_EQ(policy.delay, 0.25f);
}

TEST(core_Tac, TokenWithoutTacAndSmallBuffer) {
    ZORBELU_NEEDS_REAL_WORLD_DATA();
    uint32_t rc = 0;
    Tac(ReadFile(RealWorld("bc-java/tsp/v2SigningCertResponse.tsr")), &rc);
    EXPECT_EQ(rc, ZORBEL_ERR_NO_TAC);
    const Bytes token = ReadFile(RealWorld("bc-java/tsp/generalizedTime.tsr"));
    const ZORBELUBlob blob = Blob(token);
    ZORBELUCertBlob query{nullptr, 0, 0};
    EXPECT_EQ(ZORBELGetTAC(&blob, &query), ZORBEL_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(query.length, 680u);
}

// A TAC built for the fixture's good TSA, carried by one of its tokens.
class core_TacRoundTrip : public testing::Test {
protected:
    TempFolder folder_;
    const fixtures::FixturePki pki_ = fixtures::FixturePki::Create(folder_.Path());
    const fixtures::ossl::X509Ptr holder_ = [this] {
        const std::string& der = pki_.CertDer(fixtures::Tsa::Good);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        return fixtures::ossl::X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    }();
    const fixtures::ossl::PkeyPtr tmcKey = fixtures::x509::CachedKey("tmc", fixtures::x509::KeyType::Rsa2048);

    fixtures::TacParams Params() const {
        fixtures::TacParams params;
        params.holder = holder_.get();
        params.issuer = X509_get_issuer_name(holder_.get());
        params.serial = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03};  // longer than 64 bits, negative
        params.metrics.ntpSeconds = fixtures::NtpSecondsFromUnix(1700000000);
        params.metrics.ntpFraction = 0x80000000u;  // half a second
        params.metrics.offsetSeconds = 1;
        params.metrics.offsetMicros = 250000;
        params.metrics.offsetDirection = 1;
        params.metrics.delayMicros = 125000;
        params.metrics.expirySeconds = fixtures::NtpSecondsFromUnix(1700086400);
        params.policy.policyOid = "1.2.3.4.5.6";
        params.policy.maxOffsetSeconds = 2;
        params.policy.maxOffsetMicros = 0;
        params.policy.maxDelaySeconds = 1;
        params.policy.maxDelayMicros = 500000;
        params.signingKey = tmcKey.get();
        return params;
    }
};

TEST_F(core_TacRoundTrip, ValuesComeBackFromTheToken) {
    const Bytes built = fixtures::BuildTac(Params());
    ASSERT_FALSE(built.empty());
    fixtures::TokenSpec recipe;
    recipe.attributeCertificates = {std::string(built.begin(), built.end())};
    const std::string made = pki_.MakeToken(recipe);
    const Bytes token(made.begin(), made.end());
    uint32_t rc = 0;
    const Bytes tac = Tac(token, &rc);
    ASSERT_EQ(rc, ZORBEL_OK);
    EXPECT_EQ(tac, built);
    // Adding the TAC leaves the signature intact.
    const ZORBELUDigestInfoEx digest = HashWithLibrary(ZORBEL_HASH_SHA256, Bytes(pki_.Data().begin(), pki_.Data().end()));
    const ZORBELUBlob tokenBlob = Blob(token);
    EXPECT_EQ(ZORBELVerifyTimeStampTokenEx(&tokenBlob, &digest, nullptr, nullptr), ZORBEL_OK);

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
}

TEST_F(core_TacRoundTrip, HolderByIssuerAndSerial) {
    fixtures::TacParams params = Params();
    params.holderByEntityName = false;
    const Bytes tac = fixtures::BuildTac(params);
    const ZORBELUBlob blob = Blob(tac);
    ZORBELTACCertInfo info{};
    ASSERT_EQ(ZORBELGetTACCertInfo(&blob, &info), ZORBEL_OK);
    EXPECT_STREQ(info.holder, "C=DE, O=Zorbelu Test PKI, CN=Zorbelu Test Intermediate CA, serial 2001");
}

TEST_F(core_TacRoundTrip, MissingAttributesAndDamage) {
    fixtures::TacParams params = Params();
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
