// Arbitrary bytes as a certificate file of the directory store "CA" (in a
// temporary store folder), read through the store as every look-up reads
// it. Whatever the store shows must be one whole DER certificate.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdint>
#include <fstream>

#include "fuzz_common.h"
#include "platform/stores/system_store.h"
#include "x509/ossl_ptr.h"

namespace {

bool IsWholeDerCertificate(const zorbelu::stores::DerCertificate& der) {
    const unsigned char* p = der.data();
    const zorbelu::X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    return certificate && p == der.data() + der.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = zorbelu::fuzz::UseEmptyStores() / "CA" / "fuzz.pem";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto store = zorbelu::stores::SystemStore::Open("CA");
    if (!store) __builtin_trap();
    for (const zorbelu::stores::DerCertificate& der : store->Certificates()) {
        if (!IsWholeDerCertificate(der)) __builtin_trap();
        if (!store->Contains(der.data(), der.size())) __builtin_trap();
    }
    std::filesystem::remove(file);
    ERR_clear_error();
    return 0;
}
