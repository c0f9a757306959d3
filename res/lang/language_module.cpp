// A language module: the resources of one language, in a shared object of
// their own. The build compiles this file once per language with
// ZORBELU_LANGUAGE_CODE (e.g. "DEU") and ZORBELU_STRINGS_FILE (the table to
// include) defined.
#include "platform/resource_table.h"

#ifndef ZORBELU_LANGUAGE_CODE
#error "ZORBELU_LANGUAGE_CODE must name the module's language"
#endif

namespace {

const ZorbeluStringResource kStrings[] = {
#define ZORBELU_STRING(id, text) {id, text},
#include ZORBELU_STRINGS_FILE
#undef ZORBELU_STRING
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ZorbeluResourceTable zorbelu_resource_table = {
    zorbelu::platform::kResourceTableVersion,
    ZORBELU_LANGUAGE_CODE,
    kStrings,
    sizeof(kStrings) / sizeof(kStrings[0]),
    nullptr,
    0,
};
