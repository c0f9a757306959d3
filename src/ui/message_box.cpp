#include "ui/message_box.h"

#include "platform/module.h"
#include "ui/dialog.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {
namespace {

constexpr uint32_t kTypeMask = 0x0F;
constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;

struct ButtonText {
    uint32_t textId;
    int32_t id;
};

// The buttons of a message box type, in the order shown; the last one is
// the answer of a box closed without a button.
std::vector<ButtonText> ButtonsOf(uint32_t type) {
    switch (type & kTypeMask) {
        case 1: return {{kTextOk, IDOK}, {kTextCancel, IDCANCEL}};
        case 2: return {{kTextAbort, kIdAbort}, {kTextRetry, kIdRetry}, {kTextIgnore, kIdIgnore}};
        case 3: return {{kTextYes, IDYES}, {kTextNo, IDNO}, {kTextCancel, IDCANCEL}};
        case 4: return {{kTextYes, IDYES}, {kTextNo, IDNO}};
        case 5: return {{kTextRetry, kIdRetry}, {kTextCancel, IDCANCEL}};
        default: return {{kTextOk, IDOK}};
    }
}

}  // namespace

std::string WindowSystemText(uint32_t id) {
    const char* text = FindStringResource(CurrentResourceModule(), id);
    if (text == nullptr || *text == '\0') text = FindStringResource(OwnModuleHandle(), id);
    return text != nullptr ? text : "";
}

std::string FillTextFields(std::string format, std::initializer_list<std::string> values) {
    size_t at = 0;
    for (const std::string& value : values) {
        at = format.find("%s", at);
        if (at == std::string::npos) break;
        format.replace(at, 2, value);
        at += value.size();
    }
    return format;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type) {
    const ZorbeluUiBackend& backend = UiBackend();
    if (UiStatus() != 1) return 0;
    const std::vector<ButtonText> texts = ButtonsOf(type);
    std::vector<std::string> labels;
    for (const ButtonText& b : texts) labels.push_back(WindowSystemText(b.textId));
    std::vector<ZorbeluUiButton> buttons;
    for (size_t i = 0; i < texts.size(); ++i) buttons.push_back({labels[i].c_str(), texts[i].id});
    return backend.messageBox(BackendWindowOf(owner), text != nullptr ? text : "", caption != nullptr ? caption : "",
                              type, buttons.data(), static_cast<uint32_t>(buttons.size()));
}

}  // namespace zorbelu::platform
