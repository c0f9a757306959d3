// Files of this user only: written whole, never through a link.
#pragma once

#include <cstdint>
#include <string>

namespace zorbelu::platform {

// Writes the whole block, as fopen("wb+") and one fwrite would, but never
// through a link nor into a file of another user (created with mode 0600).
// False for no data or when anything fails.
[[nodiscard]] bool WriteOwnFile(const std::string& path, const uint8_t* data, uint32_t length);

}  // namespace zorbelu::platform
