// Small helpers the core tests share: files, hex, blobs and digests.
#ifndef ZORBELU_TESTS_CORE_TEST_UTIL_H
#define ZORBELU_TESTS_CORE_TEST_UTIL_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/fixture_pki.h"
#include "zorbel.h"

namespace zorbelu::coretest {

using Bytes = std::vector<uint8_t>;

std::string RealWorld(const std::string& relative);  // path inside the real-world test data
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
Bytes FromHex(const std::string& hex);
std::string ToHex(const uint8_t* data, size_t size);
inline std::string ToHex(const Bytes& bytes) { return ToHex(bytes.data(), bytes.size()); }
inline ZORBELUBlob Blob(const Bytes& bytes) { return {bytes.data(), static_cast<uint32_t>(bytes.size())}; }
inline ZORBELUBlob Blob(const std::string& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size())};
}
inline ZORBELUCertBlob CertBlobOf(const std::string& bytes) {
    return {reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())), static_cast<uint32_t>(bytes.size()),
            ZORBELU_ENCODING_DETECT};
}

// Digest record for an algorithm OID and value.
ZORBELUDigestInfoEx DigestEx(const std::string& oid, const Bytes& value);
// Hash of `data` with the library's hashing calls (algorithm code 1..5).
ZORBELUDigestInfoEx HashWithLibrary(uint32_t algorithm, const Bytes& data);
// The imprint the token carries (algorithm and value), read with the library.
ZORBELUDigestInfoEx TokenImprint(const Bytes& token);

// A core store holding the given CA certificates and CRLs (DER or PEM);
// fails the test when the store refuses one.
struct StoreFree {
    void operator()(ZORBELCertStore* s) const { ZORBELFreeCertStore(s); }
};
using Store = std::unique_ptr<ZORBELCertStore, StoreFree>;
Store MakeStore(const std::vector<std::string>& caCerts, const std::vector<std::string>& crls = {});
// The same with CA certificates and CRLs of the shared fixture PKI.
Store FixtureStore(const std::vector<fixtures::Ca>& cas, const std::vector<fixtures::Crl>& crls = {});

// A fresh empty folder under $TMPDIR, removed by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs a shell command; its exit status and standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace zorbelu::coretest

#endif
