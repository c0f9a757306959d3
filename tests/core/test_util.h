// Small helpers the core tests share: files, hex, blobs, digests and stores.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/fixture_pki.h"
#include "support/served_pki.h"
#include "support/real_world_data.h"
#include "zorbel.h"

namespace zorbelu::coretest {

using test::TempDir;
using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes ReadFile(const std::string& path) { return ToBytes(test::ReadFileBytes(path)); }
inline Bytes RealWorldFile(const std::string& relative) { return ReadFile(testdata::RealWorldPath(relative)); }
Bytes FromHex(const std::string& hex);
std::string ToHex(const uint8_t* data, size_t size);
inline std::string RealWorld(const std::string& relative) { return testdata::RealWorldPath(relative); }
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
// The token's information record; `result` gets the call's answer.
ZORBELTimeStampInfo InfoOf(const Bytes& token, uint32_t* result = nullptr);
// A digest in the token's imprint algorithm: of the real-world `dataFile`, else the value `hex`.
ZORBELUDigestInfoEx DigestLikeImprint(const Bytes& token, const char* dataFile, const char* hex);
// The core's verdict on `token` against `digest` and `store`.
uint32_t VerifyEx(const Bytes& token, const ZORBELUDigestInfoEx& digest, const ZORBELCertStore* store = nullptr);

// A core store holding the given CA certificates and CRLs (DER or PEM); fails the test when the store refuses one.
struct StoreFree {
    void operator()(ZORBELCertStore* s) const { ZORBELFreeCertStore(s); }
};
using Store = std::unique_ptr<ZORBELCertStore, StoreFree>;
Store MakeStore(const std::vector<std::string>& caCerts, const std::vector<std::string>& crls = {});
// The same with CA certificates and CRLs of the shared fixture PKI.
Store FixtureStore(const std::vector<fixtures::Ca>& cas, const std::vector<fixtures::Crl>& crls = {});

}  // namespace zorbelu::coretest
