// A resource module for the runtime tests: templates 900, 901 (not our version) and 129 (wins over the library's).
#include "ui/dialog_template.h"
#include "platform/resource_table.h"
#include "dialogs/test_dialog_ids.h"

namespace {

using namespace zorbelu::dialogtest;

const ZorbeluStringResource kStrings[] = {{5038, "Unknown (test module)"}};

const ZorbeluDialogControl kControls900[] = {
    {ZORBELU_CTL_EDIT, kName, "", 0, {52, 14, 100, 12}, 0},
    {ZORBELU_CTL_CHECKBOX, kFlag, "&Flag", 0, {10, 30, 60, 10}, 0},
    {ZORBELU_CTL_BUTTON, kThrow, "Throw", 0, {94, 44, 40, 14}, 0},
    {ZORBELU_CTL_BUTTON, kSave, "Save", 0, {136, 60, 40, 14}, 0},
    {ZORBELU_CTL_BUTTON, 1, "OK", ZORBELU_CS_DEFAULT, {100, 152, 44, 14}, 0},
    {ZORBELU_CTL_BUTTON, 2, "Cancel", 0, {148, 152, 44, 14}, 0},
    {ZORBELU_CTL_BUTTON, kHidden, "Hidden", ZORBELU_CS_HIDDEN, {52, 60, 40, 14}, 0},
    {ZORBELU_CTL_BUTTON, kDisabled, "Disabled", ZORBELU_CS_DISABLED, {94, 60, 40, 14}, 0},
};
const ZorbeluDialogTemplate kDialog900 = {ZORBELU_DIALOG_TEMPLATE_VERSION,
                                          900,
                                          "Sample",
                                          ZORBELU_DS_MODALFRAME,
                                          {0, 0, 200, 170},
                                          "Arial",
                                          9,
                                          kControls900,
                                          sizeof kControls900 / sizeof kControls900[0]};
const ZorbeluDialogTemplate kDialog901 = {99, 901, "Future", 0, {0, 0, 10, 10}, "Arial", 9, kControls900, 1};
const ZorbeluDialogControl kControls129[] = {{ZORBELU_CTL_BUTTON, 1, "OK", 0, {4, 4, 40, 14}, 0}};
const ZorbeluDialogTemplate kDialog129 = {
    ZORBELU_DIALOG_TEMPLATE_VERSION, 129, "Test 129", ZORBELU_DS_MODALFRAME, {0, 0, 50, 24}, "Arial", 9, kControls129,
    1};

const ZorbeluBinaryResource kResources[] = {
    {"DIALOG", 900, &kDialog900, sizeof kDialog900},
    {"DIALOG", 901, &kDialog901, sizeof kDialog901},
    {"DIALOG", 129, &kDialog129, sizeof kDialog129},
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ZorbeluResourceTable zorbelu_resource_table = {
    zorbelu::platform::kResourceTableVersion, "TST", kStrings, 1, kResources,
    sizeof kResources / sizeof kResources[0]};
