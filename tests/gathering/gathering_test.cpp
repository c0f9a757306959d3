// Certificate gathering: the walk through the system stores (and where it
// must end), the chain engine step, ZORBELUGetCertificates on the served
// fixture PKI with its refusals, and the arrays it hands out.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "certs/certificate_decoding.h"
#include "verify/certificate_gathering.h"
#include "certs/names.h"
#include "x509/ossl_ptr.h"
#include "certs/zorbelutil_lib.h"
#include "frame/app.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using certs::WalkEnd;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Store;
using fixtures::Tsa;
using test::Bytes;
namespace x509 = fixtures::x509;

// The odd certificates of these tests, each valid for a month.
fixtures::ossl::X509Ptr Cert(const std::string& name, const std::string& key, X509* issuer, const std::string& signer,
                             bool ca = true) {
    return x509::MakeMonthCertificate(name, key, issuer, signer, ca);
}

X509* Decode(const std::string& der) {
    return certs::DecodeCertificate(Bytes(der), static_cast<int32_t>(der.size()), 2);
}

std::string Text(const uint8_t* data, uint32_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

std::vector<std::string> Nodes(const ZORBELCertNode* node) {
    std::vector<std::string> ders;
    for (; node != nullptr; node = node->next) ders.push_back(Text(node->data, node->length));
    return ders;
}

// The records of an array up to its terminator, which must be all zeros.
std::vector<std::string> Records(const ZORBELUCertBlob* array) {
    std::vector<std::string> records;
    if (array == nullptr) return records;
    size_t i = 0;
    for (; array[i].data != nullptr; ++i) records.push_back(Text(array[i].data, array[i].length));
    EXPECT_EQ(array[i].length, 0u);
    EXPECT_EQ(array[i].encoding, 0u);
    return records;
}

struct CoreStore {
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ~CoreStore() { ZORBELFreeCertStore(store); }
};

class gathering_Gathering : public testing::Test {
protected:
    const std::string& Der(Ca ca) { return served_.pki().CertDer(ca); }
    const std::string& Der(Tsa tsa) { return served_.pki().CertDer(tsa); }
    void Install(Store store, Ca ca) { served_.pki().InstallInStore(served_.storeDir(), store, ca); }
    void InstallChain() {
        Install(Store::Ca, Ca::Intermediate);
        Install(Store::Root, Ca::Root);
    }

    // Walks from the certificate's issuer with the list holding the certificate.
    uint32_t Walk(const std::string& der, certs::CertList& list, CoreStore& core, WalkEnd* end) {
        X509* certificate = Decode(der);
        list.Append(certificate);
        return certs::BuildChainFromSystemStores(core.store, list, certificate, end);
    }
    static std::vector<std::string> ListDers(const certs::CertList& list) {
        std::vector<std::string> ders;
        for (const ZORBELUPRVCertInfo& item : list) {
            unsigned char* der = nullptr;
            const int size = i2d_X509(item.cert, &der);
            ders.emplace_back(reinterpret_cast<char*>(der), static_cast<size_t>(size));
            OPENSSL_free(der);
        }
        return ders;
    }

    struct Gathered {
        uint32_t result = 0;
        ZORBELUBlob tsa{};
        ZORBELUCertBlob* ca = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        ZORBELUCertBlob* crls = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        static inline int sentinel = 0;
        bool caUntouched() const { return ca == reinterpret_cast<ZORBELUCertBlob*>(&sentinel); }
        bool crlsUntouched() const { return crls == reinterpret_cast<ZORBELUCertBlob*>(&sentinel); }
        ~Gathered() {
            if (result != ZORBELU_OK) return;
            if (ca != nullptr) {
                EXPECT_EQ(ZORBELUFreeCertificates(&ca), ZORBELU_OK);
            }
            if (crls != nullptr) {
                EXPECT_EQ(ZORBELUFreeCertificates(&crls), ZORBELU_OK);
            }
        }
    };
    void Gather(Gathered& out, const std::string& token, const ZORBELUProxyInfo* proxy = nullptr) {
        const ZORBELUBlob blob{Bytes(token), static_cast<uint32_t>(token.size())};
        out.result = ZORBELUGetCertificates(&blob, 5000, proxy, &out.tsa, &out.ca, &out.crls);
    }

    test::ServedPki served_;
};

TEST_F(gathering_Gathering, WalkThroughTheSystemStores) {
    const auto stubB = Cert("B", "b", nullptr, "b"), stubX = Cert("X", "x", nullptr, "x");
    const auto a = Cert("A", "a", stubB.get(), "b"), b = Cert("B", "b", a.get(), "a");
    const auto x = Cert("X", "x", stubX.get(), "other");  // self-issued, no root
    const std::string certA = x509::CertDer(a.get()), certB = x509::CertDer(b.get()), certX = x509::CertDer(x.get());
    const std::string underA = x509::CertDer(Cert("end", "end", a.get(), "a", false).get());
    const std::string underX = x509::CertDer(Cert("end", "end", x.get(), "x", false).get());
    std::vector<fixtures::ossl::X509Ptr> cas;
    cas.push_back(Cert("ca0", "ca0", nullptr, "ca0"));
    for (int i = 1; i <= 11; ++i)
        cas.push_back(Cert("ca" + std::to_string(i), "ca" + std::to_string(i), cas.back().get(), "ca" + std::to_string(i - 1)));
    std::vector<std::string> longChain;
    for (const auto& ca : cas) longChain.push_back(x509::CertDer(ca.get()));
    const std::string underLong = x509::CertDer(Cert("end", "end", cas.back().get(), "ca11", false).get());

    const struct {
        const char* what;
        std::vector<std::pair<Store, std::string>> stores;
        std::string certificate;
        uint32_t result;
        WalkEnd end;
        std::vector<std::string> list;  // after the certificate itself
        std::vector<std::string> core;
    } cases[] = {
        {"intermediate in CA, root in ROOT",
         {{Store::Ca, Der(Ca::Intermediate)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::Good), ZORBELU_OK, WalkEnd::RootReached,
         {Der(Ca::Intermediate)}, {Der(Ca::Intermediate), Der(Ca::Root)}},
        {"a root kept in CA is passed over for ROOT",
         {{Store::Ca, Der(Ca::Root)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::UnderRoot), ZORBELU_OK, WalkEnd::RootReached, {}, {Der(Ca::Root)}},
        {"a look-alike before the genuine intermediate: the one whose key verifies is taken",
         {{Store::Ca, Der(Ca::LookAlikeIntermediate)}, {Store::Ca, Der(Ca::Intermediate)},
          {Store::Root, Der(Ca::LookAlikeRoot)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::Good), ZORBELU_OK, WalkEnd::RootReached,
         {Der(Ca::Intermediate)}, {Der(Ca::Intermediate), Der(Ca::Root)}},
        {"a look-alike alone is taken by its name",
         {{Store::Ca, Der(Ca::LookAlikeIntermediate)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::Good), ZORBELU_OK, WalkEnd::RootReached,
         {Der(Ca::LookAlikeIntermediate)}, {Der(Ca::LookAlikeIntermediate), Der(Ca::Root)}},
        {"no root", {{Store::Ca, Der(Ca::Intermediate)}}, Der(Tsa::Good), ZORBELU_VS_CERT_UNTRUSTED,
         WalkEnd::NotFound, {Der(Ca::Intermediate)}, {Der(Ca::Intermediate)}},
        {"CA certificates naming each other", {{Store::Ca, certA}, {Store::Ca, certB}}, underA,
         ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NameRepeated, {certA, certB}, {certA, certB}},
        {"self-issued non-root in CA", {{Store::Ca, certX}}, underX, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NotFound,
         {}, {}},
        {"longer than the bound", {}, underLong, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::LengthLimit,
         {longChain.rbegin(), longChain.rbegin() + 10}, {longChain.rbegin(), longChain.rbegin() + 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served_.storeDir());
        int n = 0;
        for (const auto& [store, der] : c.stores)
            fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), store,
                                                        "c" + std::to_string(n++) + ".cer", der);
        if (std::string(c.what) == "longer than the bound") {
            fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Root, "ca0.cer", longChain[0]);
            for (size_t i = 1; i < longChain.size(); ++i)
                fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), Store::Ca,
                                                            "ca" + std::to_string(i) + ".cer", longChain[i]);
        }
        certs::CertList list;
        CoreStore core;
        WalkEnd why = WalkEnd::Undecodable;
        EXPECT_EQ(Walk(c.certificate, list, core, &why), c.result);
        EXPECT_EQ(why, c.end);
        std::vector<std::string> expectedList{c.certificate};
        expectedList.insert(expectedList.end(), c.list.begin(), c.list.end());
        EXPECT_EQ(ListDers(list), expectedList);
        EXPECT_EQ(Nodes(core.store->caCerts), c.core);
    }
}

TEST_F(gathering_Gathering, ChainEngineStepBringsMissingIssuers) {
    Install(Store::Root, Ca::Root);
    const struct {
        Tsa tsa;
        uint32_t result;
    } cases[] = {
        {Tsa::AiaOnly, ZORBELU_OK},
        {Tsa::Good, ZORBELU_OK},                          // intermediate fetched too
        {Tsa::Revoked, certs::kChainEngineFailed},        // the chain is complete but has an error bit
        {Tsa::SelfIssued, certs::kChainEngineFailed},     // no issuer in the chain
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(fixtures::FixturePki::Name(c.tsa));
        const X509Ptr certificate(Decode(Der(c.tsa)));
        EXPECT_EQ(certs::FetchIssuersWithWindowsChain(certificate.get(), platform::Deadline::After(5000)), c.result);
    }
    EXPECT_EQ(certs::FetchIssuersWithWindowsChain(nullptr, platform::Deadline::After(5000)), certs::kChainEngineFailed);
    // What the engine brought is found by the next walk.
    certs::CertList list;
    CoreStore core;
    WalkEnd end{};
    EXPECT_EQ(Walk(Der(Tsa::AiaOnly), list, core, &end), ZORBELU_OK);
    EXPECT_EQ(Nodes(core.store->caCerts), (std::vector<std::string>{Der(Ca::AiaIntermediate), Der(Ca::Root)}));
}

TEST_F(gathering_Gathering, GetCertificatesGivesTheChainAndOneCrlPerListElement) {
    InstallChain();
    Gathered got;
    Gather(got, served_.pki().Token("good-sha256"));
    ASSERT_EQ(got.result, ZORBELU_OK);
    EXPECT_EQ(Text(got.tsa.data, got.tsa.length), Der(Tsa::Good));
    EXPECT_EQ(got.tsa.data, frame::AccessScratchBuffer(frame::kTsaCertBuffer).data);
    EXPECT_EQ(Records(got.ca), (std::vector<std::string>{Der(Ca::Intermediate), Der(Ca::Root)}));
    EXPECT_EQ(got.ca[0].encoding, 2u);
    EXPECT_EQ(Records(got.crls), (std::vector<std::string>{served_.pki().CrlBytes(Crl::Intermediate),
                                                           served_.pki().CrlBytes(Crl::Root)}));
}

TEST_F(gathering_Gathering, GetCertificatesCompletesTheChainThroughCaIssuersOnce) {
    Install(Store::Root, Ca::Root);
    {
        Gathered first;
        Gather(first, served_.pki().Token("aia-only-sha256"));
        ASSERT_EQ(first.result, ZORBELU_OK);
        EXPECT_EQ(Records(first.ca), (std::vector<std::string>{Der(Ca::AiaIntermediate), Der(Ca::Root)}));
        EXPECT_EQ(Records(first.crls).size(), 2u);
    }
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);
    Gathered second;
    Gather(second, served_.pki().Token("aia-only-sha256"));
    ASSERT_EQ(second.result, ZORBELU_OK);
    EXPECT_EQ(Records(second.ca), (std::vector<std::string>{Der(Ca::AiaIntermediate), Der(Ca::Root)}));
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);  // found in "CA" now
}

TEST_F(gathering_Gathering, GetCertificatesFailures) {
    const struct {
        const char* token;
        bool installChain;
        const char* failingPath;  // answered with 404
        uint32_t result;
        bool caNull;  // *caOut set to NULL (2704); otherwise untouched
    } cases[] = {
        {"self-issued-sha256", true, nullptr, ZORBELU_ERR_SELF_ISSUED, true},
        {"good-sha256-nocert", true, nullptr, ZORBELU_ERR_TSA_CERT, false},
        {"good-sha256-truncated", true, nullptr, ZORBELU_ERR_EXCEPTION, false},
        {"good-sha256", false, nullptr, ZORBELU_ERR_NOT_FOUND, false},
        {"no-cdp-sha256", true, nullptr, ZORBELU_ERR_CDP, false},
        {"good-sha256", true, "/crl/intermediate.crl", ZORBELU_ERR_CRL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.token << " " << (c.failingPath ? c.failingPath : ""));
        fs::remove_all(served_.storeDir());
        if (c.installChain) InstallChain();
        served_.server().clearPath("/crl/intermediate.crl");
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(Crl::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        Gathered got;
        Gather(got, served_.pki().Token(c.token));
        EXPECT_EQ(got.result, c.result);
        if (c.caNull) {
            EXPECT_EQ(got.ca, nullptr);
        } else {
            EXPECT_TRUE(got.caUntouched());
        }
        EXPECT_TRUE(got.crlsUntouched());
    }
}

TEST_F(gathering_Gathering, GetCertificatesRefusals) {
    InstallChain();
    const std::string& token = served_.pki().Token("good-sha256");
    const ZORBELUBlob good{Bytes(token), static_cast<uint32_t>(token.size())};
    const ZORBELUBlob empty{Bytes(token), 0};
    const ZORBELUBlob noData{nullptr, 10};
    ZORBELUBlob tsa{};
    ZORBELUCertBlob* ca = nullptr;
    ZORBELUCertBlob* crls = nullptr;
    EXPECT_EQ(ZORBELUGetCertificates(nullptr, 0, nullptr, &tsa, &ca, &crls), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetCertificates(&empty, 0, nullptr, &tsa, &ca, &crls), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetCertificates(&noData, 0, nullptr, &tsa, &ca, &crls), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, nullptr, nullptr, &ca, &crls), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, nullptr, &tsa, nullptr, &crls), ZORBELU_ERR_PARAM);
    ZORBELUProxyInfo proxy{};
    proxy.proxyMode = 7;
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, &proxy, &tsa, &ca, &crls), ZORBELU_ERR_PARAM);
    std::memset(proxy.proxyServer, 'x', sizeof proxy.proxyServer);
    proxy.proxyMode = ZORBELU_PROXY_SERVER;
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, &proxy, &tsa, &ca, &crls), ZORBELU_ERR_TOO_LONG);
    EXPECT_EQ(ca, nullptr);
    // A NULL CRL output is refused only at the end, after all the work.
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, nullptr, &tsa, &ca, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(Text(tsa.data, tsa.length), Der(Tsa::Good));
    EXPECT_EQ(ca, nullptr);
}

TEST_F(gathering_Gathering, ALargeTsaCertificateGrowsTheScratchBuffer) {
    InstallChain();
    const frame::ScratchBuffer& scratch = frame::AccessScratchBuffer(frame::kTsaCertBuffer);
    const uint32_t before = scratch.capacity;
    Gathered got;
    Gather(got, served_.pki().Token("large-cert-sha256"));
    ASSERT_EQ(got.result, ZORBELU_OK);
    EXPECT_EQ(Text(got.tsa.data, got.tsa.length), Der(Tsa::LargeCertificate));
    // From its first 10000 bytes the entry grows twice by 10000: three calls.
    if (before == 10000) {
        EXPECT_EQ(scratch.capacity, 30000u);
    }
    EXPECT_GE(scratch.capacity, Der(Tsa::LargeCertificate).size());
}

TEST_F(gathering_Gathering, ArraysAndTheirRelease) {
    // Refusals free nothing (the sanitizer pass would see a double free).
    ZORBELUCertBlob* none = nullptr;
    EXPECT_EQ(ZORBELUFreeCertificates(nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&none), ZORBELU_ERR_PARAM);
    ZORBELUCertBlob* terminatorFirst = new ZORBELUCertBlob[1]();
    EXPECT_EQ(ZORBELUFreeCertificates(&terminatorFirst), ZORBELU_ERR_PARAM);
    uint8_t byte = 0x30;
    ZORBELUCertBlob* emptyFirst = new ZORBELUCertBlob[2]{{&byte, 0, 2}, {}};
    EXPECT_EQ(ZORBELUFreeCertificates(&emptyFirst), ZORBELU_ERR_PARAM);
    delete[] terminatorFirst;
    delete[] emptyFirst;

    CoreStore core;
    ZORBELUCertBlob* ca = reinterpret_cast<ZORBELUCertBlob*>(&byte);
    ZORBELUCertBlob* crls = ca;
    // An empty CA list: both outputs NULL.
    ASSERT_EQ(certs::CoreStoreToArrays(core.store, &ca, &crls), ZORBELU_OK);
    EXPECT_EQ(ca, nullptr);
    EXPECT_EQ(crls, nullptr);
    // A store that is none: outputs untouched.
    ca = crls = reinterpret_cast<ZORBELUCertBlob*>(&byte);
    core.store->size = 12;
    EXPECT_EQ(certs::CoreStoreToArrays(core.store, &ca, &crls), ZORBELU_ERR_CERT_STORE);
    core.store->size = ZORBEL_CERT_STORE_MARK;
    EXPECT_EQ(ca, reinterpret_cast<ZORBELUCertBlob*>(&byte));
    // CA certificates in list order with their encodings; no CRLs: no CRL array.
    std::string pem = test::ReadFileBytes(served_.pki().CertPemPath(Ca::Root));
    ZORBELUCertBlob first{const_cast<uint8_t*>(Bytes(Der(Ca::Intermediate))),
                          static_cast<uint32_t>(Der(Ca::Intermediate).size()), 2};
    ZORBELUCertBlob second{reinterpret_cast<uint8_t*>(pem.data()), static_cast<uint32_t>(pem.size()), 3};
    ASSERT_EQ(ZORBELAddCACert(core.store, &first), 1u);
    ASSERT_EQ(ZORBELAddCACert(core.store, &second), 1u);
    ASSERT_EQ(certs::CoreStoreToArrays(core.store, &ca, &crls), ZORBELU_OK);
    EXPECT_EQ(Records(ca), (std::vector<std::string>{Der(Ca::Intermediate), pem}));
    EXPECT_EQ(ca[1].encoding, 3u);
    EXPECT_NE(ca[0].data, core.store->caCerts->data);  // copies
    EXPECT_EQ(crls, nullptr);
    EXPECT_EQ(ZORBELUFreeCertificates(&ca), ZORBELU_OK);
}

}  // namespace
