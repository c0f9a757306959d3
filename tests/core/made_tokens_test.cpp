// Tokens made here: by the library's local creator (OpenSSL's TS responder
// inside), by a hand-made CMS signer for tokens a responder refuses to make,
// and by the openssl tool. Each failure must give its own documented code.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/ess.h>
#include <openssl/ts.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "core/test_pki.h"
#include "core/test_util.h"

namespace zorbelu::coretest {
namespace {

uint32_t Verify(const Bytes& token, const ZORBELUDigestInfoEx& digest, const ZORBELCertStore* store) {
    const ZORBELUBlob blob = Blob(token);
    return ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store);
}

ZORBELUDigestInfoEx StampedDigest(uint32_t algorithm = ZORBEL_HASH_SHA256) {
    return HashWithLibrary(algorithm, StampedData());
}

// ---- The local creator, every algorithm -------------------------------------

struct AlgorithmCase {
    uint32_t algorithm;
    uint32_t essCertIdDigest;
    bool wholeResponse;
};

class core_MadeTokenAlgorithms : public testing::TestWithParam<AlgorithmCase> {
protected:
    static TestTsa* tsa;
    static void SetUpTestSuite() { tsa = new TestTsa(MakeTestTsa()); }
    static void TearDownTestSuite() { delete tsa; }
};
TestTsa* core_MadeTokenAlgorithms::tsa = nullptr;

TEST_P(core_MadeTokenAlgorithms, VerifiesWithAndWithoutStore) {
    TokenOptions options;
    options.algorithm = GetParam().algorithm;
    options.essCertIdDigest = GetParam().essCertIdDigest;
    options.wholeResponse = GetParam().wholeResponse;
    const Bytes token = MakeToken(tsa->tsa.get(), tsa->tsaKey.get(), options);
    const ZORBELUDigestInfoEx digest = StampedDigest(options.algorithm);
    EXPECT_EQ(Verify(token, digest, nullptr), ZORBEL_OK);
    const Store store = MakeStore({CertDer(tsa->root.get())});
    EXPECT_EQ(Verify(token, digest, store.get()), ZORBEL_OK);
    if (options.algorithm <= ZORBEL_HASH_SHA256) {  // the plain record holds up to 40 bytes
        ZORBELUDigestInfo plain{};
        std::memcpy(plain.algorithmOid, digest.algorithmOid, sizeof plain.algorithmOid);
        std::memcpy(plain.digest, digest.digest, digest.digestLength);
        plain.digestLength = digest.digestLength;
        const ZORBELUBlob blob = Blob(token);
        EXPECT_EQ(ZORBELVerifyTimeStampToken(&blob, &plain, nullptr, store.get()), ZORBEL_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(Creator, core_MadeTokenAlgorithms,
                         testing::Values(AlgorithmCase{ZORBEL_HASH_SHA1, 0, false},
                                         AlgorithmCase{ZORBEL_HASH_MD5, 0, false},
                                         AlgorithmCase{ZORBEL_HASH_SHA256, 3, false},
                                         AlgorithmCase{ZORBEL_HASH_SHA384, 4, true},
                                         AlgorithmCase{ZORBEL_HASH_SHA512, 5, true}));

// ---- Failures, each with its code ---------------------------------------------

const CertParams kGoodParams{"Test TSA", 0x1001, -kDay, 30 * kDay, false, Usage::kTimeStampingCritical};

class core_MadeTokenFailures : public testing::Test {
protected:
    TestTsa tsa = MakeTestTsa();
    Bytes token = MakeToken(tsa.tsa.get(), tsa.tsaKey.get());
    Bytes root = CertDer(tsa.root.get());
};

struct StoreCase {
    const char* name;
    CertParams tsaParams;
    int crl;  // 0 none, 1 current revoking the TSA, 2 expired, 3 current from another CA, 4 current, not revoking
    bool otherRoot;
    uint32_t expected;
};

void PrintTo(const StoreCase& c, std::ostream* os) { *os << c.name; }

class core_MadeTokenStore : public testing::TestWithParam<StoreCase> {};

TEST_P(core_MadeTokenStore, CertificateVerdict) {
    const StoreCase& c = GetParam();
    const TestTsa tsa = MakeTestTsa(c.tsaParams);
    const Bytes token = MakeToken(tsa.tsa.get(), tsa.tsaKey.get());
    const TestTsa other = MakeTestTsa(c.tsaParams, "Other Root");
    std::vector<Bytes> crls;
    if (c.crl == 1) crls.push_back(MakeCrl(tsa.root.get(), tsa.rootKey.get(), {c.tsaParams.serial}, -kDay, 7 * kDay));
    if (c.crl == 2) crls.push_back(MakeCrl(tsa.root.get(), tsa.rootKey.get(), {}, -10 * kDay, -kDay));
    if (c.crl == 3) crls.push_back(MakeCrl(other.root.get(), other.rootKey.get(), {}, -kDay, 7 * kDay));
    if (c.crl == 4) crls.push_back(MakeCrl(tsa.root.get(), tsa.rootKey.get(), {777}, -kDay, 7 * kDay));
    const Store store = MakeStore({CertDer(c.otherRoot ? other.root.get() : tsa.root.get())}, crls);
    EXPECT_EQ(Verify(token, StampedDigest(), store.get()), c.expected) << c.name;
    // Integrity alone does not judge dates, chain or revocation.
    EXPECT_EQ(Verify(token, StampedDigest(), nullptr), ZORBEL_OK) << c.name;
}

const CertParams kGood{"Test TSA", 0x1001, -kDay, 30 * kDay, false, Usage::kTimeStampingCritical};
const CertParams kExpired{"Test TSA", 0x1001, -30 * kDay, -kDay, false, Usage::kTimeStampingCritical};
const CertParams kNotYetValid{"Test TSA", 0x1001, kDay, 30 * kDay, false, Usage::kTimeStampingCritical};

INSTANTIATE_TEST_SUITE_P(
    Cases, core_MadeTokenStore,
    testing::Values(StoreCase{"good", kGood, 0, false, ZORBEL_OK},
                    StoreCase{"current CRL", kGood, 4, false, ZORBEL_OK},
                    StoreCase{"expired", kExpired, 0, false, ZORBEL_VERIFY_CERT_EXPIRED},
                    StoreCase{"not yet valid", kNotYetValid, 0, false, ZORBEL_VERIFY_CERT_EXPIRED},
                    // Dates before the chain: OpenSSL would report the missing CRL first.
                    StoreCase{"expired, no CRL of the issuer", kExpired, 3, false, ZORBEL_VERIFY_CERT_EXPIRED},
                    StoreCase{"revoked", kGood, 1, false, ZORBEL_VERIFY_CERT_REVOKED},
                    StoreCase{"CRL expired", kGood, 2, false, ZORBEL_VERIFY_CRL_EXPIRED},
                    StoreCase{"no CRL of the issuer", kGood, 3, false, ZORBEL_VERIFY_INCOMPLETE},
                    StoreCase{"issuer not in store", kGood, 0, true, ZORBEL_VERIFY_INCOMPLETE}),
    [](const testing::TestParamInfo<StoreCase>& param) { return "case" + std::to_string(param.index); });

TEST_F(core_MadeTokenFailures, RootOutsideTheStoreIsUntrusted) {
    // The token carries its root; the store trusts another one.
    const TestTsa other = MakeTestTsa(kGoodParams, "Other Root");
    const Store empty = MakeStore({});
    EXPECT_EQ(Verify(token, StampedDigest(), empty.get()), ZORBEL_VERIFY_UNTRUSTED);
    const std::string rootPem = CertPem(tsa.root.get());
    // A token whose bag holds TSA and root: the chain is complete but ends elsewhere.
    Bytes withRoot;
    {
        const Bytes key = KeyDer(tsa.tsaKey.get());
        const std::string cert = CertPem(tsa.tsa.get());
        ZORBELTSASigner signer{};
        signer.privateKey = key.data();
        signer.privateKeyLength = static_cast<uint32_t>(key.size());
        signer.certificate = reinterpret_cast<const uint8_t*>(cert.data());
        signer.certificateLength = static_cast<uint32_t>(cert.size());
        signer.extraCertificates = reinterpret_cast<const uint8_t*>(rootPem.data());
        signer.extraCertificatesLength = static_cast<uint32_t>(rootPem.size());
        std::strcpy(signer.defaultPolicyOid, "1.2.3.4.1");
        ZORBELTimeStampRequest request{};
        request.digest = StampedDigest();
        request.certReq = 1;
        Bytes buffer(8192);
        ZORBELUCertBlob out{buffer.data(), static_cast<uint32_t>(buffer.size()), 0};
        ASSERT_EQ(ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer), 0, &request,
                                               reinterpret_cast<uintptr_t>(&out)),
                  ZORBEL_OK);
        withRoot.assign(buffer.begin(), buffer.begin() + out.length);
    }
    const Store otherStore = MakeStore({CertDer(other.root.get())});
    EXPECT_EQ(Verify(withRoot, StampedDigest(), otherStore.get()), ZORBEL_VERIFY_UNTRUSTED);
}

TEST_F(core_MadeTokenFailures, SignerCertificateMissingEverywhere) {
    TokenOptions options;
    options.certReq = 0;
    const Bytes bare = MakeToken(tsa.tsa.get(), tsa.tsaKey.get(), options);
    EXPECT_EQ(Verify(bare, StampedDigest(), nullptr), ZORBEL_VERIFY_NO_SIGNER_CERT);
    const Store store = MakeStore({root});
    EXPECT_EQ(Verify(bare, StampedDigest(), store.get()), ZORBEL_VERIFY_NO_SIGNER_CERT);
    const Store withLeaf = MakeStore({root, CertDer(tsa.tsa.get())});
    EXPECT_EQ(Verify(bare, StampedDigest(), withLeaf.get()), ZORBEL_OK);
}

TEST_F(core_MadeTokenFailures, UndecodableStoreEntry) {
    const Bytes junk = {0x30, 0x03, 0x02, 0x01, 0x01};
    const Store store = MakeStore({root, junk});
    EXPECT_EQ(Verify(token, StampedDigest(), store.get()), ZORBEL_VERIFY_BAD_STORE_ENTRY);
}

// ---- Tokens a responder will not make: a hand-made CMS signer ---------------
// (forged tokens, one per integrity rule, are in integrity_test.cpp)

Bytes CmsToken(X509* cert, EVP_PKEY* key) {
    TS_TST_INFO* tst = TS_TST_INFO_new();
    TS_TST_INFO_set_version(tst, 1);
    ASN1_OBJECT* policy = OBJ_txt2obj("1.2.3.4.1", 1);
    TS_TST_INFO_set_policy_id(tst, policy);
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set_md(algorithm, EVP_sha256());
    TS_MSG_IMPRINT_set_algo(imprint, algorithm);
    const ZORBELUDigestInfoEx digest = StampedDigest();
    TS_MSG_IMPRINT_set_msg(imprint, const_cast<unsigned char*>(digest.digest), 32);
    TS_TST_INFO_set_msg_imprint(tst, imprint);
    ASN1_INTEGER* serial = ASN1_INTEGER_new();
    ASN1_INTEGER_set(serial, 42);
    TS_TST_INFO_set_serial(tst, serial);
    ASN1_GENERALIZEDTIME* time = ASN1_GENERALIZEDTIME_set(nullptr, std::time(nullptr));
    TS_TST_INFO_set_time(tst, time);
    unsigned char* tstDer = nullptr;
    const int tstSize = i2d_TS_TST_INFO(tst, &tstDer);
    BIO* content = BIO_new_mem_buf(tstDer, tstSize);
    CMS_ContentInfo* cms = CMS_sign(nullptr, nullptr, nullptr, nullptr, CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP);
    CMS_set1_eContentType(cms, OBJ_nid2obj(NID_id_smime_ct_TSTInfo));
    CMS_SignerInfo* si = CMS_add1_signer(cms, cert, key, EVP_sha256(), CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP);
    ESS_SIGNING_CERT_V2* v2 = OSSL_ESS_signing_cert_v2_new_init(EVP_sha256(), cert, nullptr, 0);
    unsigned char* essDer = nullptr;
    const int essSize = i2d_ESS_SIGNING_CERT_V2(v2, &essDer);
    CMS_signed_add1_attr_by_NID(si, NID_id_smime_aa_signingCertificateV2, V_ASN1_SEQUENCE, essDer, essSize);
    OPENSSL_free(essDer);
    ESS_SIGNING_CERT_V2_free(v2);
    CMS_final(cms, content, nullptr, CMS_BINARY);
    unsigned char* der = nullptr;
    const int size = i2d_CMS_ContentInfo(cms, &der);
    Bytes token(der, der + size);
    OPENSSL_free(der);
    CMS_ContentInfo_free(cms);
    BIO_free(content);
    OPENSSL_free(tstDer);
    ASN1_GENERALIZEDTIME_free(time);
    ASN1_INTEGER_free(serial);
    X509_ALGOR_free(algorithm);
    TS_MSG_IMPRINT_free(imprint);
    ASN1_OBJECT_free(policy);
    TS_TST_INFO_free(tst);
    return token;
}

// RFC 3161: the timeStamping usage must be the only one.
TEST(core_HandMadeTokens, ExtendedKeyUsageBeyondTimeStampingIsRefused) {
    const TestTsa tsa = MakeTestTsa({"Hand TSA", 0x2002, -kDay, 30 * kDay, false, Usage::kTimeStampingAndServer});
    EXPECT_EQ(Verify(CmsToken(tsa.tsa.get(), tsa.tsaKey.get()), StampedDigest(), nullptr), ZORBEL_VERIFY_CERT_INVALID);
}

TEST(core_LocalCreator, RefusesWhatItCannotSign) {
    const TestTsa noUsage = MakeTestTsa({"No EKU", 3, -kDay, kDay, false, Usage::kNone});
    EXPECT_EQ(CreateResult(noUsage.tsa.get(), noUsage.tsaKey.get(), {}), ZORBEL_ERR_TSA_SIGNER);
    const TestTsa good = MakeTestTsa();
    const Key otherKey = NewEcKey();
    EXPECT_EQ(CreateResult(good.tsa.get(), otherKey.get(), {}), ZORBEL_ERR_TSA_SIGNER);
    Bytes token;
    TokenOptions options;
    options.serial = 0x1234;
    ASSERT_EQ(CreateResult(good.tsa.get(), good.tsaKey.get(), options, &token), ZORBEL_OK);
    const ZORBELUBlob blob = Blob(token);
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    ASSERT_EQ(ZORBELGetTimeStampInfoEx(&blob, &info), ZORBEL_OK);
    EXPECT_EQ(ToHex(info.serialNumber, info.serialNumberLength), "1234");
    EXPECT_STREQ(info.policyOid, "1.2.3.4.1");
    // Too small an output tells the size needed.
    const Bytes key = KeyDer(good.tsaKey.get());
    const Bytes cert = CertDer(good.tsa.get());
    ZORBELTSASigner signer{};
    signer.privateKey = key.data();
    signer.privateKeyLength = static_cast<uint32_t>(key.size());
    signer.certificate = cert.data();
    signer.certificateLength = static_cast<uint32_t>(cert.size());
    std::strcpy(signer.defaultPolicyOid, "1.2.3.4.1");
    ZORBELTimeStampRequest request{};
    request.digest = StampedDigest();
    ZORBELUCertBlob small{nullptr, 0, 0};
    EXPECT_EQ(ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer), 0, &request,
                                           reinterpret_cast<uintptr_t>(&small)),
              ZORBEL_ERR_BUFFER_TOO_SMALL);
    EXPECT_GT(small.length, 100u);
    request.digest.digestLength = 20;  // SHA-256 with a SHA-1 length
    EXPECT_EQ(ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer), 0, &request,
                                           reinterpret_cast<uintptr_t>(&small)),
              ZORBEL_ERR_PARAM);
    EXPECT_EQ(ZORBELCreateTimeStampTokenEx(0, 0, &request, reinterpret_cast<uintptr_t>(&small)), ZORBEL_ERR_PARAM);
}

// ---- Self-issued TSA certificate and the system "ROOT" store ------------------

TEST(core_SelfIssuedTsa, TrustedOnlyThroughTheRootStore) {
    TempFolder stores;
    setenv("ZORBELU_STORE_DIR", stores.Path().c_str(), 1);
    const Key key = NewEcKey();
    const Cert self = MakeCertificate({"Self TSA", 9, -kDay, 30 * kDay, false, Usage::kTimeStampingCritical}, key.get(),
                                      nullptr, nullptr);
    const Bytes token = MakeToken(self.get(), key.get());
    const Store store = MakeStore({});
    EXPECT_EQ(Verify(token, StampedDigest(), store.get()), ZORBEL_VERIFY_UNTRUSTED);
    std::filesystem::create_directories(stores.File("ROOT"));
    WriteFile(stores.File("ROOT/self.cer"), CertDer(self.get()));
    EXPECT_EQ(Verify(token, StampedDigest(), store.get()), ZORBEL_OK);
    unsetenv("ZORBELU_STORE_DIR");
}

// ---- A token made by the openssl tool -----------------------------------------

TEST(core_OpensslMadeToken, VerifiesWithTheLibrary) {
    TempFolder dir;
    const TestTsa tsa = MakeTestTsa();
    const std::string key = KeyPem(tsa.tsaKey.get());
    WriteFile(dir.File("tsa.key"), Bytes(key.begin(), key.end()));
    const std::string cert = CertPem(tsa.tsa.get());
    WriteFile(dir.File("tsa.crt"), Bytes(cert.begin(), cert.end()));
    WriteFile(dir.File("data.bin"), StampedData());
    std::ofstream(dir.File("tsa.cnf")) << "[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\n"
                                          "serial = " << dir.File("serial") << "\n"
                                          "default_policy = 1.2.3.4.1\ndigests = sha256, sha512\n"
                                          "signer_digest = sha256\ness_cert_id_chain = no\n"
                                          "ess_cert_id_alg = sha256\naccuracy = secs:1, millisecs:500\n";
    std::ofstream(dir.File("serial")) << "01\n";
    const std::string cd = "cd '" + dir.Path() + "' && ";
    ASSERT_EQ(RunCommand(cd + "openssl ts -query -data data.bin -sha256 -cert -out req.tsq 2>&1"), 0);
    ASSERT_EQ(RunCommand(cd + "openssl ts -reply -config tsa.cnf -queryfile req.tsq -inkey tsa.key -signer tsa.crt "
                              "-out resp.tsr 2>&1"),
              0);
    const Bytes response = ReadFile(dir.File("resp.tsr"));
    const Store store = MakeStore({CertDer(tsa.root.get())});
    EXPECT_EQ(Verify(response, StampedDigest(), store.get()), ZORBEL_OK);
    const ZORBELUBlob blob = Blob(response);
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    ASSERT_EQ(ZORBELGetTimeStampInfoEx(&blob, &info), ZORBEL_OK);
    EXPECT_EQ(info.accuracySeconds, 1);
    EXPECT_EQ(info.accuracyMillis, 500);
}

}  // namespace
}  // namespace zorbelu::coretest
