#include "platform/message_box.h"

namespace zorbelu::platform {
namespace headless {
namespace {

std::vector<RecordedMessageBox>& Records() {
    static std::vector<RecordedMessageBox> records;
    return records;
}

int answer = IDOK;

int Show(HWND owner, const char* text, const char* caption, uint32_t type) {
    Records().push_back({owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type});
    return answer;
}

}  // namespace

const std::vector<RecordedMessageBox>& RecordedMessageBoxes() { return Records(); }
void ClearRecordedMessageBoxes() { Records().clear(); }
void SetMessageBoxAnswer(int value) { answer = value; }

}  // namespace headless

namespace {
constexpr MessageBoxBackend kHeadlessBackend{"headless", headless::Show};
}  // namespace

const MessageBoxBackend& CurrentMessageBoxBackend() { return kHeadlessBackend; }

int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type) {
    return CurrentMessageBoxBackend().show(owner, text, caption, type);
}

}  // namespace zorbelu::platform
