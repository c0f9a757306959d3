// Certificate gathering on the served fixture PKI: the store walk, the chain engine, ZORBELUGetCertificates.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "certs/certificate_decoding.h"
#include "certs/chain_engine.h"
#include "certs/zorbelutil_lib.h"
#include "frame/app.h"
#include "support/fixture_x509.h"
#include "support/served_pki.h"
#include "verify/certificate_gathering.h"
#include "x509/ossl_ptr.h"
#include "zorbel.h"
#include "zorbelutil.h"

namespace {

namespace fs = std::filesystem;
using namespace zorbelu;
using namespace zorbelu::platform;
using certs::WalkEnd;
using fixtures::Ca;
using fixtures::Crl;
using fixtures::Store;
using fixtures::Tsa;
using fixtures::ossl::X509Ptr;
using test::Bytes;
using Ders = std::vector<std::string>;
namespace x509 = fixtures::x509;

// The odd certificates of these tests, each valid for a month, DER.
std::string Cert(const std::string& name, const std::string& key, X509* issuer, const std::string& signer,
                 X509Ptr* keep = nullptr, bool ca = true) {
    X509Ptr made = x509::MakeMonthCertificate(name, key, issuer, signer, ca);
    std::string der = x509::CertDer(made.get());
    if (keep != nullptr) *keep = std::move(made);
    return der;
}

std::string Text(const uint8_t* data, uint32_t length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

// The records of an array up to its terminator, which must be all zeros.
Ders Records(const ZORBELUCertBlob* array) {
    Ders records;
    size_t i = 0;
    for (; array != nullptr && array[i].data != nullptr; ++i) records.push_back(Text(array[i].data, array[i].length));
    EXPECT_TRUE(array == nullptr || array[i].length + array[i].encoding == 0u);
    return records;
}

struct CoreStore {
    ZORBELCertStore* store = ZORBELCreateCertStore();
    ~CoreStore() { ZORBELFreeCertStore(store); }
};

class gathering_Chains : public testing::Test {
protected:
    const std::string& Der(Ca ca) { return served_.pki().CertDer(ca); }
    const std::string& Der(Tsa tsa) { return served_.pki().CertDer(tsa); }
    void Install(Store store, Ca ca) { served_.pki().InstallInStore(served_.storeDir(), store, ca); }
    void Write(Store store, const std::string& name, const std::string& der) {
        fixtures::FixturePki::WriteStoreCertificate(served_.storeDir(), store, name, der);
    }
    UniqueCertChain Chain(const std::string& der, uint32_t flags = CERT_CHAIN_REVOCATION_CHECK_END_CERT) {
        const UniqueCertContext context(
            CertCreateCertificateContext(X509_ASN_ENCODING, Bytes(der), static_cast<uint32_t>(der.size())));
        CERT_CHAIN_PARA parameters;
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        EXPECT_TRUE(
            CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, &parameters, flags, nullptr, &chain));
        return UniqueCertChain(chain);
    }
    static Ders Elements(const CERT_CHAIN_CONTEXT& chain) {
        Ders ders;
        for (const CERT_CHAIN_ELEMENT& element : chain.rgpChain.at(0).rgpElement)
            ders.push_back(Text(element.pCertContext->pbCertEncoded, element.pCertContext->cbCertEncoded));
        return ders;
    }

    struct Gathered {
        static inline int sentinel = 0;
        uint32_t result = 0;
        ZORBELUBlob tsa{};
        ZORBELUCertBlob* ca = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        ZORBELUCertBlob* crls = reinterpret_cast<ZORBELUCertBlob*>(&sentinel);
        bool untouched(ZORBELUCertBlob* out) const { return out == reinterpret_cast<ZORBELUCertBlob*>(&sentinel); }
        ~Gathered() {
            if (result != ZORBELU_OK) return;
            for (ZORBELUCertBlob** out : {&ca, &crls})
                EXPECT_TRUE(*out == nullptr || ZORBELUFreeCertificates(out) == ZORBELU_OK);
        }
    };
    void Gather(Gathered& out, const std::string& token) {
        const ZORBELUBlob blob{Bytes(token), static_cast<uint32_t>(token.size())};
        out.result = ZORBELUGetCertificates(&blob, 5000, nullptr, &out.tsa, &out.ca, &out.crls);
    }

    test::ServedPki served_;
};

// The gathering's walk and the chain engine on the same stores: which issuer is taken, and where each ends.
TEST_F(gathering_Chains, WalkAndChainEngineEndWhereTheyMust) {
    // A and B name and sign each other; X names itself but another key signed it.
    X509Ptr stubB, stubX, a, x;
    Cert("B", "b", nullptr, "b", &stubB);
    Cert("X", "x", nullptr, "x", &stubX);
    const std::string certA = Cert("A", "a", stubB.get(), "b", &a), certB = Cert("B", "b", a.get(), "a");
    const std::string certX = Cert("X", "x", stubX.get(), "other", &x);
    const std::string underA = Cert("end", "end", a.get(), "a", nullptr, false);
    const std::string underX = Cert("end", "end", x.get(), "x", nullptr, false);
    // root <- ca1 <- ... <- ca11 <- end: the root is 13th, beyond the bound.
    std::vector<X509Ptr> cas(12);
    Ders longChain{Cert("ca0", "ca0", nullptr, "ca0", &cas[0])};
    for (int i = 1; i <= 11; ++i)
        longChain.push_back(Cert("ca" + std::to_string(i), "ca" + std::to_string(i), cas[i - 1].get(),
                                 "ca" + std::to_string(i - 1), &cas[i]));
    const std::string underLong = Cert("end", "end", cas[11].get(), "ca11", nullptr, false);
    std::vector<std::pair<Store, std::string>> longStores{{Store::Root, longChain[0]}};
    for (size_t i = 1; i < longChain.size(); ++i) longStores.emplace_back(Store::Ca, longChain[i]);
    const Ders longWalk(longChain.rbegin(), longChain.rbegin() + 10);

    const struct {
        const char* what;
        std::vector<std::pair<Store, std::string>> stores;
        std::string certificate;
        uint32_t result;
        WalkEnd end;
        Ders list;  // after the certificate itself
        Ders core;
        std::optional<uint32_t> chainErrors;  // the chain engine without revocation
        size_t chainLength;
    } cases[] = {
        {"intermediate in CA, root in ROOT", {{Store::Ca, Der(Ca::Intermediate)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::Good), ZORBELU_OK, WalkEnd::RootReached, {Der(Ca::Intermediate)},
         {Der(Ca::Intermediate), Der(Ca::Root)}, CERT_TRUST_NO_ERROR, 3},
        {"a root kept in CA is passed over for ROOT", {{Store::Ca, Der(Ca::Root)}, {Store::Root, Der(Ca::Root)}},
         Der(Tsa::UnderRoot), ZORBELU_OK, WalkEnd::RootReached, {}, {Der(Ca::Root)}, CERT_TRUST_NO_ERROR, 2},
        {"no root", {{Store::Ca, Der(Ca::Intermediate)}}, Der(Tsa::Good), ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NotFound,
         {Der(Ca::Intermediate)}, {Der(Ca::Intermediate)}, CERT_TRUST_IS_UNTRUSTED_ROOT, 3},
        {"CA certificates naming each other", {{Store::Ca, certA}, {Store::Ca, certB}}, underA,
         ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NameRepeated, {certA, certB}, {certA, certB},
         CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC, 3},
        {"self-issued non-root in CA", {{Store::Ca, certX}}, underX, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::NotFound, {},
         {}, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_SIGNATURE_VALID, 2},
        {"longer than the bound", longStores, underLong, ZORBELU_VS_CERT_UNTRUSTED, WalkEnd::LengthLimit, longWalk,
         longWalk, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_EXCEEDS_LENGTH_LIMIT, kMaxChainLength},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served_.storeDir());
        int n = 0;
        for (const auto& [store, der] : c.stores) Write(store, "c" + std::to_string(n++) + ".cer", der);
        certs::CertList list;
        CoreStore core;
        WalkEnd why = WalkEnd::Undecodable;
        const std::string& der = c.certificate;
        X509* certificate = certs::DecodeCertificate(Bytes(der), static_cast<int32_t>(der.size()), 2);
        list.Append(certificate);
        EXPECT_EQ(certs::BuildChainFromSystemStores(core.store, list, certificate, &why), c.result);
        EXPECT_EQ(why, c.end);
        Ders expectedList{c.certificate}, listed, nodes;
        expectedList.insert(expectedList.end(), c.list.begin(), c.list.end());
        for (const ZORBELUPRVCertInfo& item : list) listed.push_back(x509::CertDer(item.cert));
        EXPECT_EQ(listed, expectedList);
        for (const ZORBELCertNode* node = core.store->caCerts; node != nullptr; node = node->next)
            nodes.push_back(Text(node->data, node->length));
        EXPECT_EQ(nodes, c.core);
        if (!c.chainErrors) continue;
        const UniqueCertChain chain = Chain(c.certificate, 0);
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, *c.chainErrors);
        EXPECT_EQ(chain->rgpChain.at(0).rgpElement.size(), c.chainLength);
    }
}

TEST_F(gathering_Chains, ChainEngineKeepsNoForgedIssuerFetchedThroughCaIssuers) {
    Install(Store::Root, Ca::Root);
    // A forged intermediate's chain ends at a root of the right name and another key: it is not kept.
    const UniqueCertChain forged = Chain(Der(Tsa::LookAlike));
    EXPECT_EQ(forged->TrustStatus.dwErrorStatus, CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN);
    EXPECT_EQ(Elements(*forged), (Ders{Der(Tsa::LookAlike), Der(Ca::LookAlikeIntermediate), Der(Ca::LookAlikeRoot)}));
    EXPECT_FALSE(fs::exists(served_.storeDir() / "CA"));
}

TEST_F(gathering_Chains, ChainEngineSetsTheErrorBitOfEachFailure) {
    const uint32_t revocation = CERT_CHAIN_REVOCATION_CHECK_END_CERT, offline =
        CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    const struct {
        const char* what;
        Tsa tsa;
        bool intermediateInCa;
        uint32_t flags;
        const char* failingPath;  // answered with 404
        uint32_t errors;
        size_t length;
    } cases[] = {
        {"trusted", Tsa::Good, true, revocation, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"intermediate fetched", Tsa::Good, false, revocation, nullptr, CERT_TRUST_NO_ERROR, 3},
        {"revoked", Tsa::Revoked, true, revocation, nullptr, CERT_TRUST_IS_REVOKED, 3},
        {"expired", Tsa::Expired, true, revocation, nullptr, CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"not yet valid", Tsa::NotYetValid, true, 0, nullptr, CERT_TRUST_IS_NOT_TIME_VALID, 3},
        {"expired CRL", Tsa::ExpiredCrl, true, revocation, nullptr, offline, 3},
        {"CRL unavailable", Tsa::Good, true, revocation, "/crl/intermediate.crl", offline, 3},
        {"no distribution point", Tsa::NoCdp, true, revocation, nullptr, CERT_TRUST_REVOCATION_STATUS_UNKNOWN, 3},
        {"issuer unavailable", Tsa::Good, false, 0, "/aia/intermediate.cer", CERT_TRUST_IS_PARTIAL_CHAIN, 1},
        {"self-signed, not in ROOT", Tsa::SelfIssued, false, revocation, nullptr, CERT_TRUST_IS_UNTRUSTED_ROOT, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served_.storeDir());
        for (const char* path : {"/crl/intermediate.crl", "/aia/intermediate.cer"}) served_.server().clearPath(path);
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(Crl::Intermediate));
        served_.server().serveFile("/aia/intermediate.cer", Der(Ca::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        if (c.intermediateInCa) Install(Store::Ca, Ca::Intermediate);
        Install(Store::Root, Ca::Root);
        const UniqueCertChain chain = Chain(Der(c.tsa), c.flags);
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).TrustStatus.dwErrorStatus, c.errors);
        EXPECT_EQ(chain->rgpChain.at(0).rgpElement.size(), c.length);
    }
}

TEST_F(gathering_Chains, ChainEngineTriesFewOfManyIssuerUrls) {
    EXPECT_EQ(Chain(Der(Tsa::ManyIssuerUrls), 0)->TrustStatus.dwErrorStatus, CERT_TRUST_IS_PARTIAL_CHAIN);
    size_t tried = 0;  // every URL answers 404 at once
    for (const std::string& path : fixtures::FixturePki::ManyIssuerUrlPaths())
        tried += served_.server().requestCount(path);
    EXPECT_EQ(tried, kMaxIssuerUrls);
}

TEST_F(gathering_Chains, GetCertificatesGivesTheChainAndOneCrlPerListElement) {
    Install(Store::Root, Ca::Root);
    for (int run = 0; run < 2; ++run) {  // fetched through caIssuers once, then found in "CA"
        Gathered got;
        Gather(got, served_.pki().Token("aia-only-sha256"));
        ASSERT_EQ(got.result, ZORBELU_OK);
        EXPECT_EQ(Records(got.ca), (Ders{Der(Ca::AiaIntermediate), Der(Ca::Root)}));
        EXPECT_EQ(Records(got.crls).size(), 2u);
    }
    EXPECT_EQ(served_.server().requestCount("/aia/aia-intermediate.cer"), 1u);

    Install(Store::Ca, Ca::Intermediate);
    Gathered got;
    Gather(got, served_.pki().Token("good-sha256"));
    ASSERT_EQ(got.result, ZORBELU_OK);
    EXPECT_EQ(Text(got.tsa.data, got.tsa.length), Der(Tsa::Good));
    EXPECT_EQ(got.tsa.data, frame::AccessScratchBuffer(frame::kTsaCertBuffer).data);
    EXPECT_EQ(Records(got.ca), (Ders{Der(Ca::Intermediate), Der(Ca::Root)}));
    EXPECT_EQ(got.ca[0].encoding, 2u);
    EXPECT_EQ(Records(got.crls), (Ders{served_.pki().CrlBytes(Crl::Intermediate), served_.pki().CrlBytes(Crl::Root)}));
}

TEST_F(gathering_Chains, GetCertificatesFailures) {
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
        if (c.installChain) Install(Store::Ca, Ca::Intermediate), Install(Store::Root, Ca::Root);
        served_.server().clearPath("/crl/intermediate.crl");
        served_.server().serveFile("/crl/intermediate.crl", served_.pki().CrlBytes(Crl::Intermediate));
        if (c.failingPath != nullptr) served_.server().setStatus(c.failingPath, 404);
        Gathered got;
        Gather(got, served_.pki().Token(c.token));
        EXPECT_EQ(got.result, c.result);
        EXPECT_TRUE(c.caNull ? got.ca == nullptr : got.untouched(got.ca));
        EXPECT_TRUE(got.untouched(got.crls));
    }
}

TEST_F(gathering_Chains, GetCertificatesAndFreeCertificatesRefusals) {
    Install(Store::Ca, Ca::Intermediate);
    Install(Store::Root, Ca::Root);
    const std::string& token = served_.pki().Token("good-sha256");
    const ZORBELUBlob good{Bytes(token), static_cast<uint32_t>(token.size())}, empty{Bytes(token), 0},
        noData{nullptr, 10};
    ZORBELUBlob tsa{};
    ZORBELUCertBlob *ca = nullptr, *crls = nullptr;
    ZORBELUProxyInfo proxy{};
    proxy.proxyMode = 7;
    const struct {
        const ZORBELUBlob* token;
        ZORBELUProxyInfo* proxy;
        ZORBELUBlob* tsa;
        ZORBELUCertBlob** ca;
    } refused[] = {{nullptr, nullptr, &tsa, &ca}, {&empty, nullptr, &tsa, &ca}, {&noData, nullptr, &tsa, &ca},
                   {&good, nullptr, nullptr, &ca}, {&good, nullptr, &tsa, nullptr}, {&good, &proxy, &tsa, &ca}};
    for (const auto& c : refused)
        EXPECT_EQ(ZORBELUGetCertificates(c.token, 0, c.proxy, c.tsa, c.ca, &crls), ZORBELU_ERR_PARAM);
    // A NULL CRL output is refused only at the end, after all the work.
    EXPECT_EQ(ZORBELUGetCertificates(&good, 0, nullptr, &tsa, &ca, nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(Text(tsa.data, tsa.length), Der(Tsa::Good));
    EXPECT_EQ(ca, nullptr);

    // Refusals free nothing (the sanitizer pass would see a double free).
    uint8_t byte = 0x30;
    ZORBELUCertBlob* none = nullptr;
    ZORBELUCertBlob* terminatorFirst = new ZORBELUCertBlob[1]();
    ZORBELUCertBlob* emptyFirst = new ZORBELUCertBlob[2]{{&byte, 0, 2}, {}};
    EXPECT_EQ(ZORBELUFreeCertificates(nullptr), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&none), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&terminatorFirst), ZORBELU_ERR_PARAM);
    EXPECT_EQ(ZORBELUFreeCertificates(&emptyFirst), ZORBELU_ERR_PARAM);
    delete[] terminatorFirst;
    delete[] emptyFirst;
}

}  // namespace
