// The integrity check against the cost of the signature it checks, side by
// side in one process, for two TSAs of the fixture PKI:
//
//   BM_Integrity/<tsa>   ZORBELVerifyTimeStampToken with no store: read the
//                        token, find the signer, check the signed attributes,
//                        the signature, the ESS binding, the imprint and the
//                        usage
//   BM_BareVerify/<tsa>  one EVP_DigestVerify (SHA-256) of 200 bytes signed
//                        with the same TSA key, the public key decoded once:
//                        the least any verifier of the token must spend
//
// <tsa> is tsa-good-rsa (RSA 2048) or tsa-good (ECDSA P-256). Every timed call
// checks its answer. docs/performance.md ("Integrity") gives the command and
// the figures; the aim is Integrity <= 1.6x BareVerify for the RSA TSA.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fixture_pki.h"
#include "zorbel.h"

namespace {

using zorbelu::fixtures::Digest;
using zorbelu::fixtures::FixturePki;
using zorbelu::fixtures::TokenSpec;
using zorbelu::fixtures::Tsa;

EVP_PKEY* PublicKeyOf(const std::string& certificateDer) {
    const auto* p = reinterpret_cast<const unsigned char*>(certificateDer.data());
    X509* certificate = d2i_X509(nullptr, &p, static_cast<long>(certificateDer.size()));
    if (certificate == nullptr) throw std::runtime_error("cannot decode a fixture certificate");
    EVP_PKEY* key = X509_get_pubkey(certificate);
    X509_free(certificate);
    if (key == nullptr) throw std::runtime_error("no public key");
    return key;
}

std::string Sign(const std::string& keyPem, const std::string& message) {
    BIO* bio = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::string signature(1024, '\0');
    size_t length = signature.size();
    const bool ok = key != nullptr && EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
                    EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(signature.data()), &length,
                                   reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    if (!ok) throw std::runtime_error("cannot sign with a fixture key");
    signature.resize(length);
    return signature;
}

// One TSA: a token of it and the data for the bare verify.
struct Case {
    std::string token;
    ZORBELUBlob blob{};
    ZORBELUDigestInfo digest{};
    EVP_PKEY* key = nullptr;
    std::string message = std::string(200, 'm');
    std::string signature;

    Case(const FixturePki& pki, Tsa tsa) {
        token = pki.MakeToken(TokenSpec(tsa, Digest::Sha256));
        blob.data = reinterpret_cast<const uint8_t*>(token.data());
        blob.length = static_cast<uint32_t>(token.size());
        std::strcpy(digest.algorithmOid, FixturePki::DigestOid(Digest::Sha256));
        const std::string imprint = pki.DataDigest(Digest::Sha256);
        std::memcpy(digest.digest, imprint.data(), imprint.size());
        digest.digestLength = static_cast<uint32_t>(imprint.size());
        key = PublicKeyOf(pki.CertDer(tsa));
        signature = Sign(pki.KeyPem(tsa), message);
    }
    ~Case() { EVP_PKEY_free(key); }
    Case(const Case&) = delete;
    Case& operator=(const Case&) = delete;

    bool Integrity() const { return ZORBELVerifyTimeStampToken(&blob, &digest, nullptr, nullptr) == ZORBEL_OK; }

    bool BareVerify() const {
        EVP_MD_CTX* ctx = EVP_MD_CTX_new();
        const bool ok =
            ctx != nullptr && EVP_DigestVerifyInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, key, nullptr) == 1 &&
            EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                             reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
        EVP_MD_CTX_free(ctx);
        return ok;
    }
};

const Case& CaseOf(Tsa tsa) {
    static const Case rsa(FixturePki::Shared(), Tsa::GoodRsa);
    static const Case ecdsa(FixturePki::Shared(), Tsa::Good);
    return tsa == Tsa::GoodRsa ? rsa : ecdsa;
}

void BM_Integrity(benchmark::State& state, Tsa tsa) {
    const Case& c = CaseOf(tsa);
    for (auto _ : state)
        if (!c.Integrity()) return state.SkipWithError("the integrity check failed");
}

void BM_BareVerify(benchmark::State& state, Tsa tsa) {
    const Case& c = CaseOf(tsa);
    for (auto _ : state)
        if (!c.BareVerify()) return state.SkipWithError("the bare verify failed");
}

BENCHMARK_CAPTURE(BM_Integrity, tsa-good-rsa, Tsa::GoodRsa);
BENCHMARK_CAPTURE(BM_BareVerify, tsa-good-rsa, Tsa::GoodRsa);
BENCHMARK_CAPTURE(BM_Integrity, tsa-good, Tsa::Good);
BENCHMARK_CAPTURE(BM_BareVerify, tsa-good, Tsa::Good);

}  // namespace

BENCHMARK_MAIN();
