// The simple text of arbitrary bytes taken as a DER name, and the name
// comparison built on it: whatever reads as a name equals itself, nothing
// else equals anything.
#include <openssl/err.h>

#include <cstdint>

#include "certs/names.h"
#include "x509/names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool readable = zorbelu::x509::CertNameToStrSimple(data, size).has_value();
    if (zorbelu::certs::NamesEqual(data, size, data, size) != readable) __builtin_trap();
    ERR_clear_error();
    return 0;
}
