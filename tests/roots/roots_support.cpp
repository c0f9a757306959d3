#include "roots/roots_support.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "support/fixture_x509.h"
#include "zorbel.h"

namespace zorbelu::test {

namespace fx = zorbelu::fixtures;

std::string CommittedCert(uint32_t id) {
    const std::string bytes = ReadFileBytes(std::filesystem::path(CERTS_DIR) / ("cert_" + std::to_string(id) + ".der"));
    if (bytes.empty()) throw std::runtime_error("no committed certificate " + std::to_string(id));
    return bytes;
}

std::vector<std::string> StoreFiles(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".cer") names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint32_t> StoreIds(const std::filesystem::path& folder) {
    std::vector<uint32_t> ids;
    for (const std::string& name : StoreFiles(folder)) {
        const std::string bytes = ReadFileBytes(folder / name);
        uint32_t found = 0;
        for (uint32_t id : kCertIds)
            if (CommittedCert(id) == bytes) found = id;
        ids.push_back(found);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::string TokenIssuedUnder(uint32_t issuerId, const std::string& policy) {
    const std::string issuerDer = CommittedCert(issuerId);
    const auto* p = reinterpret_cast<const unsigned char*>(issuerDer.data());
    fx::ossl::X509Ptr issuer(d2i_X509(nullptr, &p, static_cast<long>(issuerDer.size())));
    const std::string keyPath = std::string(ROOT_KEYS_DIR) + "/key_" + std::to_string(issuerId) + ".pem";
    fx::ossl::BioPtr keyFile(BIO_new_file(keyPath.c_str(), "r"));
    fx::ossl::PkeyPtr issuerKey(keyFile ? PEM_read_bio_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!issuer || !issuerKey) throw std::runtime_error("cannot read the certificate or key of " + keyPath);

    fx::ossl::PkeyPtr tsaKey = fx::x509::CachedKey("roots-tsa", fx::x509::KeyType::EcP256);
    fx::x509::CertRequest request;
    request.commonName = "Stand-in TSA under " + std::to_string(issuerId);
    request.serial = 7000 + issuerId;
    request.key = tsaKey.get();
    request.issuer = issuer.get();
    request.issuerKey = issuerKey.get();
    request.notBefore = std::time(nullptr) - 86400;
    request.notAfter = std::time(nullptr) + 365 * 86400;
    request.eku = fx::x509::Eku::TimeStampingCritical;
    const fx::ossl::X509Ptr tsa = fx::x509::MakeCertificate(request);
    const std::string tsaDer = fx::x509::CertDer(tsa.get());
    const std::string tsaKeyPem = fx::x509::KeyPem(tsaKey.get());

    ZORBELTSASigner signer;
    std::memset(&signer, 0, sizeof signer);
    signer.privateKey = reinterpret_cast<const uint8_t*>(tsaKeyPem.data());
    signer.privateKeyLength = static_cast<uint32_t>(tsaKeyPem.size());
    signer.certificate = reinterpret_cast<const uint8_t*>(tsaDer.data());
    signer.certificateLength = static_cast<uint32_t>(tsaDer.size());
    std::snprintf(signer.defaultPolicyOid, sizeof signer.defaultPolicyOid, "%s", policy.c_str());

    ZORBELTimeStampRequest ask;
    std::memset(&ask, 0, sizeof ask);
    std::snprintf(ask.digest.algorithmOid, sizeof ask.digest.algorithmOid, "2.16.840.1.101.3.4.2.1");
    ask.digest.digestLength = 32;
    std::memset(ask.digest.digest, 0x5A, 32);
    ask.certReq = 1;

    std::vector<uint8_t> out(16384);
    ZORBELUCertBlob token{out.data(), static_cast<uint32_t>(out.size()), 0};
    const uint32_t made = ZORBELCreateTimeStampTokenEx(reinterpret_cast<uintptr_t>(&signer), ZORBEL_CREATE_TOKEN,
                                                       &ask, reinterpret_cast<uintptr_t>(&token));
    if (made != 1) throw std::runtime_error("token creation answered " + std::to_string(made));
    return std::string(reinterpret_cast<const char*>(out.data()), token.length);
}

void RootStoreTest::SetUp() {
    setenv("ZORBELU_STORE_DIR", dir_.path().c_str(), 1);
    setenv("ZORBELU_SYSTEM_ROOTS", "0", 1);
    setenv("ZORBELU_ROOT_CONFIRM", "no", 1);
}

void RootStoreTest::TearDown() {
    unsetenv("ZORBELU_STORE_DIR");
    unsetenv("ZORBELU_ROOT_CONFIRM");
}

void RootStoreTest::Install(const std::filesystem::path& folder, uint32_t id, const std::string& bytes) const {
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / ("by-hand-" + std::to_string(id) + ".cer"), std::ios::binary);
    const std::string content = bytes.empty() ? CommittedCert(id) : bytes;
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace zorbelu::test
