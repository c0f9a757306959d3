// Turns a BER element into DER once, at the input, so that everything after
// it reads one canonical form: indefinite lengths become definite, lengths
// become minimal, and strings sent in pieces (constructed OCTET STRING and
// the like) become one primitive string. Nesting depth and input size are
// capped; anything malformed, truncated or too deep is refused.
#ifndef ZORBEL_CORE_BER_TO_DER_H
#define ZORBEL_CORE_BER_TO_DER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zorbel {

constexpr size_t kMaxBerDepth = 64;
constexpr size_t kMaxBerInput = 32u * 1024u * 1024u;

// Converts the first element of `data`; bytes after it are ignored (as the
// OpenSSL readers ignore them). False when the element is not well formed.
[[nodiscard]] bool BerToDer(const uint8_t* data, size_t size, std::vector<uint8_t>& der);

}  // namespace zorbel

#endif
