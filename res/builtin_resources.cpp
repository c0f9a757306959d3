// The library's own resources: the English texts, compiled in.
#include "platform/resource_table.h"

namespace {

const ZorbeluStringResource kStrings[] = {
#define ZORBELU_STRING(id, text) {id, text},
#include "strings/strings_en.inc"
#undef ZORBELU_STRING
};

}  // namespace

extern "C" const ZorbeluResourceTable zorbelu_builtin_resources = {
    zorbelu::platform::kResourceTableVersion,
    "ENU",
    kStrings,
    sizeof(kStrings) / sizeof(kStrings[0]),
    nullptr,
    0,
};
