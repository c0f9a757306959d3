// The library's own resources: the English texts and dialog templates and
// the pictures, compiled in.
#include "ui/dialog_template.h"
#include "platform/resource_table.h"

namespace {

const ZorbeluStringResource kStrings[] = {
#define ZORBELU_STRING(id, text) {id, text},
#include "strings/strings_en.inc"
#undef ZORBELU_STRING
};

#include "dialogs/enu/dialogs.inc"
#include "zorbelu_png_data.inc"
#include "zorbelu_cert_data.inc"

const ZorbeluBinaryResource kResources[] = {
    ZORBELU_DIALOG_RESOURCES
#define ZORBELU_IMAGE(id, stem) {"PNG", id, kPng_##stem, sizeof kPng_##stem},
#include "images/images.inc"
#undef ZORBELU_IMAGE
#define ZORBELU_CERT(id) {"CERT", id, kCert_##id, sizeof kCert_##id},
#include "certs/certs.inc"
#undef ZORBELU_CERT
};

}  // namespace

extern "C" const ZorbeluResourceTable zorbelu_builtin_resources = {
    zorbelu::platform::kResourceTableVersion,
    "ENU",
    kStrings,
    sizeof(kStrings) / sizeof(kStrings[0]),
    kResources,
    sizeof(kResources) / sizeof(kResources[0]),
};
