// fixture_ossl.h - owning handles for the OpenSSL objects of the fixture
// generator, and the one way it reports an OpenSSL failure.
#ifndef ZORBELU_TESTS_SUPPORT_FIXTURE_OSSL_H
#define ZORBELU_TESTS_SUPPORT_FIXTURE_OSSL_H

#include <openssl/ess.h>

#include <cstdint>
#include <string>

#include "x509/ossl_ptr.h"

namespace zorbelu::fixtures::ossl {

// The libraries' own owning handles (x509/ossl_ptr.h), one family for the
// whole project; the fixture names a few more types with the same template.
using namespace ::zorbelu::x509::owned;
template <typename T, void (*Free)(T*)>
using Ptr = OsslPtr<T, Free>;

// Throws std::runtime_error with `what` and the drained OpenSSL error queue.
[[noreturn]] void Fail(const std::string& what);

// Returns p, or throws through Fail(what) when p is null.
template <typename T>
T* Check(T* p, const char* what) {
    if (p == nullptr) Fail(what);
    return p;
}
// Throws through Fail(what) unless rc is positive (OpenSSL's success).
inline void Check(int rc, const char* what) {
    if (rc <= 0) Fail(what);
}

// DER encoding through an i2d function (T may be const); throws on failure.
template <typename T>
std::string ToDer(int (*i2d)(T*, unsigned char**), T* obj, const char* what) {
    const int len = i2d(obj, nullptr);
    if (len <= 0) Fail(what);
    std::string out(static_cast<size_t>(len), '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    if (i2d(obj, &p) != len) Fail(what);
    return out;
}

// An INTEGER of this value.
Asn1IntPtr Integer(uint64_t value);
// The signature of `data` with `key` over the digest `md`.
std::string Sign(EVP_PKEY* key, const EVP_MD* md, const std::string& data);

}  // namespace zorbelu::fixtures::ossl

#endif
