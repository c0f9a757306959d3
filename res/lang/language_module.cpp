// A language module: the resources of one language, in a shared object of
// their own. The build compiles this file once per language with
// ZORBELU_LANGUAGE_CODE (e.g. "DEU") and ZORBELU_STRINGS_FILE (the table to
// include) defined, and, for a module that carries dialogs too,
// ZORBELU_DIALOGS_FILE (the language's res/dialogs/<code>/dialogs.inc) and
// ZORBELU_WITH_IMAGES (the pictures, which every full module carries so that
// it stands alone as the current resource module).
#include "ui/dialog_template.h"
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

#ifdef ZORBELU_DIALOGS_FILE
#include ZORBELU_DIALOGS_FILE
#else
#define ZORBELU_DIALOG_RESOURCES
#endif

#ifdef ZORBELU_WITH_IMAGES
#include "zorbelu_png_data.inc"
#endif

// ZORBELU_WITH_CERTS: the "CERT" resources too (zorbelu_cert_data.inc), in
// a full module only.
#ifdef ZORBELU_WITH_CERTS
#ifndef ZORBELU_WITH_IMAGES
#error "ZORBELU_WITH_CERTS belongs to a full module: define ZORBELU_WITH_IMAGES too"
#endif
#include "zorbelu_cert_data.inc"
#endif

#if defined(ZORBELU_DIALOGS_FILE) || defined(ZORBELU_WITH_IMAGES)
#define ZORBELU_HAS_RESOURCES 1
const ZorbeluBinaryResource kResources[] = {
    ZORBELU_DIALOG_RESOURCES
#ifdef ZORBELU_WITH_IMAGES
#define ZORBELU_IMAGE(id, stem) {"PNG", id, kPng_##stem, sizeof kPng_##stem},
#include "images/images.inc"
#undef ZORBELU_IMAGE
#endif
#ifdef ZORBELU_WITH_CERTS
#define ZORBELU_CERT(id) {"CERT", id, kCert_##id, sizeof kCert_##id},
#include "certs/certs.inc"
#undef ZORBELU_CERT
#endif
};
#endif

}  // namespace

extern "C" __attribute__((visibility("default"))) const ZorbeluResourceTable zorbelu_resource_table = {
    zorbelu::platform::kResourceTableVersion,
    ZORBELU_LANGUAGE_CODE,
    kStrings,
    sizeof(kStrings) / sizeof(kStrings[0]),
#ifdef ZORBELU_HAS_RESOURCES
    kResources,
    sizeof(kResources) / sizeof(kResources[0]),
#else
    nullptr,
    0,
#endif
};
