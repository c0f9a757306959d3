// The three verdicts on a TSA certificate, now and at a given time.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

#include "verify/verify_test_support.h"
#include "zorbel.h"

std::ostream& operator<<(std::ostream& out, const ZORBELUTSACertResult& r) {
    return out << "{" << r.validity << ", " << r.revocation << ", " << r.chain << "}";
}

namespace {

using namespace zorbelu;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Store;
using fixtures::Tsa;

class TsaCertificateVerdicts : public ::testing::Test {
protected:
    void SetUp() override {
        served_.pki().InstallInStore(served_.storeDir(), Store::Root, Ca::Root);
        served_.pki().InstallInStore(served_.storeDir(), Store::Ca, Ca::Intermediate);
    }

    ZORBELUCertBlob Blob(Tsa tsa) {
        const std::string& der = served_.pki().CertDer(tsa);
        return {reinterpret_cast<uint8_t*>(const_cast<char*>(der.data())), static_cast<uint32_t>(der.size()), 1};
    }

    uint32_t Judge(Tsa tsa, ZORBELUTSACertResult* result) {
        const ZORBELUCertBlob cert = Blob(tsa);
        return ZORBELUVerifyTSACertificate(&cert, nullptr, 3000, nullptr, result);
    }

    test::ServedPki served_;
};

struct Verdicts {
    uint32_t validity, revocation, chain;
};

bool operator==(const ZORBELUTSACertResult& r, const Verdicts& v) {
    return r.validity == v.validity && r.revocation == v.revocation && r.chain == v.chain;
}

TEST_F(TsaCertificateVerdicts, EachKindOfCertificateNow) {
    const struct {
        Tsa tsa;
        Verdicts expected;
    } cases[] = {
        {Tsa::Good, {1, 2513, 2515}},
        {Tsa::Revoked, {1, 2504, 2515}},
        {Tsa::Expired, {2502, 2506, 2515}},  // the chain judged one second before notAfter
        {Tsa::NotYetValid, {2502, 2506, 2515}},  // judged at its last second too
        {Tsa::HttpsOnlyCdp, {1, 2514, 2515}},
        {Tsa::ExpiredCrl, {1, 2505, 2515}},
        {Tsa::AiaOnly, {1, 2513, 2515}},
    };
    for (const auto& c : cases) {
        ZORBELUTSACertResult result{9, 9, 9};
        EXPECT_EQ(Judge(c.tsa, &result), ZORBELU_OK) << fixtures::FixturePki::Name(c.tsa);
        EXPECT_TRUE(result == c.expected) << fixtures::FixturePki::Name(c.tsa) << ": " << result;
    }
}

TEST_F(TsaCertificateVerdicts, UntrustedSelfIssuedAndUnobtainableCrls) {
    ZORBELUTSACertResult result{};
    EXPECT_EQ(Judge(Tsa::SelfIssued, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;
    served_.pki().InstallInStore(served_.storeDir(), Store::Root, Tsa::SelfIssued);
    EXPECT_EQ(Judge(Tsa::SelfIssued, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2515})) << result;

    served_.server().setStatus(served_.crlPath(Crl::Intermediate), 404);
    EXPECT_EQ(Judge(Tsa::Good, &result), ZORBELU_OK);
    EXPECT_EQ(result.revocation, ZORBELU_VS_CRL_UNAVAILABLE);
    EXPECT_EQ(result.chain, ZORBELU_VS_CERT_SIGNATURE_OK);

    served_.server().stop();
    EXPECT_EQ(Judge(Tsa::Good, &result), ZORBELU_ERR_COMM_CONNECT);  // the record is filled all the same
    EXPECT_EQ(result.revocation, ZORBELU_VS_CRL_UNAVAILABLE);
    EXPECT_EQ(result.validity, ZORBELU_OK);
}

// The time limit bounds caIssuers and CRL downloads together, however many slow URLs there are.
TEST_F(TsaCertificateVerdicts, AllDownloadsEndWithinTheTimeLimit) {
    served_.StallManyIssuerUrls(std::chrono::seconds(30));
    served_.server().setDelay(served_.crlPath(Crl::AiaIntermediate), std::chrono::seconds(30));
    const ZORBELUCertBlob cert = Blob(Tsa::ManyIssuerUrls);
    ZORBELUTSACertResult result{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ZORBELUVerifyTSACertificate(&cert, nullptr, 1000, nullptr, &result), ZORBELU_OK);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 1000 + 1000);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;
}

TEST_F(TsaCertificateVerdicts, NoRootInTheStores) {
    test::ServedPki bare;
    const std::string& der = bare.pki().CertDer(Tsa::Good);
    const ZORBELUCertBlob cert{reinterpret_cast<uint8_t*>(const_cast<char*>(der.data())),
                               static_cast<uint32_t>(der.size()), 2};
    ZORBELUTSACertResult result{};
    EXPECT_EQ(ZORBELUVerifyTSACertificate(&cert, nullptr, 3000, nullptr, &result), ZORBELU_OK);
    EXPECT_EQ(result.chain, ZORBELU_VS_ROOT_UNAVAILABLE);
}

TEST_F(TsaCertificateVerdicts, AtAGivenTimeWithTheGatheredCertificates) {
    const std::string token = served_.pki().MakeToken(fixtures::TokenSpec(Tsa::Good));
    const ZORBELUBlob blob = test::Blob(token);
    ZORBELUBlob tsaCert{};
    ZORBELUCertBlob* cas = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    ASSERT_EQ(ZORBELUGetCertificates(&blob, 3000, nullptr, &tsaCert, &cas, &crls), ZORBELU_OK);
    ZORBELCertStore* store = ZORBELCreateCertStore();
    for (ZORBELUCertBlob* c = cas; c->data != nullptr; ++c) ZORBELAddCACert(store, c);
    for (ZORBELUCertBlob* c = crls; c->data != nullptr; ++c) ZORBELAddCRL(store, c);

    const ZORBELUCertBlob cert = Blob(Tsa::Good);
    const int64_t now = served_.pki().Now();
    ZORBELUTSACertResult result{};
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, store, now, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2513, 2515})) << result;
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, store, 0, &result), ZORBELU_ERR_PARAM);

    ZORBELCertStore* onlyCrls = ZORBELCreateCertStore();
    ZORBELAddCRL(onlyCrls, crls);
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, onlyCrls, now, &result), ZORBELU_ERR_CDP);
    ZORBELCertStore* empty = ZORBELCreateCertStore();
    EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, empty, now, &result), ZORBELU_OK);
    EXPECT_TRUE(result == (Verdicts{1, 2514, 2516})) << result;

    EXPECT_EQ(ZORBELFreeCertStore(empty), 1u);
    EXPECT_EQ(ZORBELFreeCertStore(onlyCrls), 1u);
    EXPECT_EQ(ZORBELFreeCertStore(store), 1u);
    EXPECT_EQ(ZORBELUFreeCertificates(&cas), ZORBELU_OK);
    EXPECT_EQ(ZORBELUFreeCertificates(&crls), ZORBELU_OK);
}

// Valid at its notBefore second, no longer at its notAfter second.
TEST_F(TsaCertificateVerdicts, ValidityEndsJustBeforeNotAfter) {
    const std::string& der = served_.pki().CertDer(Tsa::Good);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    const std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free);
    const auto seconds = [](const ASN1_TIME* time) {
        std::tm tm{};
        return ASN1_TIME_to_tm(time, &tm) == 1 ? static_cast<int64_t>(timegm(&tm)) : int64_t{-1};
    };
    const int64_t start = seconds(X509_get0_notBefore(x509.get())), end = seconds(X509_get0_notAfter(x509.get()));
    ZORBELCertStore* empty = ZORBELCreateCertStore();
    const ZORBELUCertBlob cert = Blob(Tsa::Good);
    const struct {
        int64_t time;
        uint32_t validity;
    } cases[] = {{start - 1, 2502}, {start, 1}, {end - 1, 1}, {end, 2502}};
    for (const auto& c : cases) {
        ZORBELUTSACertResult result{};
        EXPECT_EQ(ZORBELUVerifyTSACertificateAtTime(&cert, empty, c.time, &result), ZORBELU_OK);
        EXPECT_EQ(result.validity, c.validity) << c.time - start;
    }
    EXPECT_EQ(ZORBELFreeCertStore(empty), 1u);
}

}  // namespace
