// The form in which a resource module carries its resources.
//
// The library's own resources are compiled into it; a language module is a
// small shared object that exports one symbol, kResourceTableSymbol, holding a
// table of the same form. Both sides are built from this header, so the
// layout is checked by the compiler and by the table's version word.
#pragma once

#include <cstdint>

extern "C" {

struct ZorbeluStringResource {
    uint32_t id;
    const char* text;  // UTF-8, NUL-terminated
};

// A binary resource: an embedded certificate, an image, a dialog template.
struct ZorbeluBinaryResource {
    const char* type;  // "CERT", "BITMAP", "DIALOG", ...
    uint32_t id;
    const void* data;
    uint32_t size;
};

struct ZorbeluResourceTable {
    uint32_t version;        // kResourceTableVersion
    const char* language;    // three-letter code of the texts, e.g. "ENU", "DEU"
    const ZorbeluStringResource* strings;  // sorted by id
    uint32_t stringCount;
    const ZorbeluBinaryResource* resources;
    uint32_t resourceCount;
};

}  // extern "C"

namespace zorbelu::platform {

inline constexpr uint32_t kResourceTableVersion = 1;
inline constexpr const char kResourceTableSymbol[] = "zorbelu_resource_table";

}  // namespace zorbelu::platform
