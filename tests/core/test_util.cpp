#include "core/test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace zorbelu::coretest {

Store MakeStore(const std::vector<std::string>& caCerts, const std::vector<std::string>& crls) {
    Store store(ZORBELCreateCertStore());
    if (!store) throw std::runtime_error("no store");
    for (const auto* list : {&caCerts, &crls})
        for (const std::string& bytes : *list) {
            const ZORBELUCertBlob item = CertBlobOf(bytes);
            EXPECT_EQ(list == &caCerts ? ZORBELAddCACert(store.get(), &item) : ZORBELAddCRL(store.get(), &item),
                      ZORBEL_OK);
        }
    return store;
}

Store FixtureStore(const std::vector<fixtures::Ca>& cas, const std::vector<fixtures::Crl>& crls) {
    const fixtures::FixturePki& pki = fixtures::FixturePki::Shared();
    std::vector<std::string> certs, lists;
    for (const fixtures::Ca ca : cas) certs.push_back(pki.CertDer(ca));
    for (const fixtures::Crl crl : crls) lists.push_back(pki.CrlBytes(crl));
    return MakeStore(certs, lists);
}

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string ToHex(const uint8_t* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; ++i) text += {kDigits[data[i] >> 4], kDigits[data[i] & 15]};
    return text;
}

ZORBELUDigestInfoEx DigestEx(const std::string& oid, const Bytes& value) {
    ZORBELUDigestInfoEx digest{};
    std::snprintf(digest.algorithmOid, sizeof digest.algorithmOid, "%s", oid.c_str());
    std::memcpy(digest.digest, value.data(), std::min(value.size(), sizeof digest.digest));
    digest.digestLength = static_cast<uint32_t>(value.size());
    return digest;
}

ZORBELUDigestInfoEx HashWithLibrary(uint32_t algorithm, const Bytes& data) {
    ZORBELHashHandle* handle = nullptr;
    ZORBELUDigestInfoEx digest{};
    if (ZORBELHashInitEx(&handle, algorithm) != ZORBEL_OK) throw std::runtime_error("hash init");
    if (ZORBELHashUpdateEx(handle, data.data(), static_cast<uint32_t>(data.size())) != ZORBEL_OK ||
        ZORBELHashFinalEx(handle, &digest) != ZORBEL_OK)
        throw std::runtime_error("hash");
    return digest;
}

ZORBELTimeStampInfo InfoOf(const Bytes& token, uint32_t* result) {
    ZORBELTimeStampInfo info{};
    info.size = ZORBEL_TIMESTAMP_INFO_SIZE;
    const ZORBELUBlob blob = Blob(token);
    const uint32_t rc = ZORBELGetTimeStampInfoEx(&blob, &info);
    if (result != nullptr) *result = rc;
    return info;
}

ZORBELUDigestInfoEx DigestLikeImprint(const Bytes& token, const char* dataFile, const char* hex) {
    uint32_t rc = 0;
    const ZORBELTimeStampInfo info = InfoOf(token, &rc);
    if (rc != ZORBEL_OK) throw std::runtime_error("token info");
    if (dataFile == nullptr) return DigestEx(info.hashAlgorithmOid, FromHex(hex));
    const char* oids[] = {"1.3.14.3.2.26", "1.2.840.113549.2.5", "2.16.840.1.101.3.4.2.1", "2.16.840.1.101.3.4.2.2",
                          "2.16.840.1.101.3.4.2.3"};
    uint32_t algorithm = 0;
    for (uint32_t i = 0; i < 5; ++i)
        if (std::strcmp(oids[i], info.hashAlgorithmOid) == 0) algorithm = i + 1;
    return HashWithLibrary(algorithm, RealWorldFile(dataFile));
}

uint32_t VerifyEx(const Bytes& token, const ZORBELUDigestInfoEx& digest, const ZORBELCertStore* store) {
    const ZORBELUBlob blob = Blob(token);
    return ZORBELVerifyTimeStampTokenEx(&blob, &digest, nullptr, store);
}

}  // namespace zorbelu::coretest
