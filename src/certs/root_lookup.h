// Finding a certificate in a system store by its subject name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zorbelu::certs {

// The DER bytes of the first certificate of system store `storeName` ("ROOT"
// or "CA") whose subject name equals `name`, in store order; nothing when
// none does or the store cannot be opened.
std::optional<std::vector<uint8_t>> FindCertificateBySubject(const char* storeName, const uint8_t* name,
                                                             size_t nameLength);

}  // namespace zorbelu::certs
