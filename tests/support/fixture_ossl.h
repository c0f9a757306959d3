// fixture_ossl.h - owning handles for the fixture's OpenSSL objects, and how it reports a failure.
#pragma once

#include <openssl/ess.h>

#include <cstdint>
#include <string>

#include "x509/ossl_ptr.h"

namespace zorbelu::fixtures::ossl {

// The project's one family of owning handles (header-only), and the template for a few more.
using namespace ::zorbelu::x509::owned;
template <typename T, void (*Free)(T*)>
using Ptr = OsslPtr<T, Free>;

// Throws std::runtime_error with `what` and the drained OpenSSL error queue.
[[noreturn]] void Fail(const std::string& what);

// p, or Fail(what) when it is null; for an int, Fail(what) unless it is positive (OpenSSL's success).
template <typename T>
T* Check(T* p, const char* what) {
    if (p == nullptr) Fail(what);
    return p;
}
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

Asn1IntPtr Integer(uint64_t value);
std::string Sign(EVP_PKEY* key, const EVP_MD* md, const std::string& data);

}  // namespace zorbelu::fixtures::ossl
