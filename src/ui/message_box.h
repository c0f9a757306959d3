// Message boxes, through the process's UI backend (ui_backend.h).
//
// The headless backend shows nothing: it records every message box and
// answers with a queued or preset button, so that tests can see what the
// library would have shown. Without any backend a message box answers 0.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/windows.h"

namespace zorbelu::platform {

// Message box types and answers, with their Windows values.
inline constexpr uint32_t MB_OK = 0x00;
inline constexpr uint32_t MB_YESNO = 0x04;
inline constexpr uint32_t MB_ICONSTOP = 0x10;
inline constexpr uint32_t MB_ICONQUESTION = 0x20;
inline constexpr uint32_t MB_ICONEXCLAMATION = 0x30;
inline constexpr uint32_t MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a message box owned by `owner` (a live dialog, else none) and
// returns the button pressed; 0 when no message box can be shown. The
// buttons are labelled in the current resource module's language.
int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type);

// The texts of the window system's own parts, in the string tables.
inline constexpr uint32_t kTextOk = 7001, kTextCancel = 7002, kTextAbort = 7003, kTextRetry = 7004,
                          kTextIgnore = 7005, kTextYes = 7006, kTextNo = 7007;
inline constexpr uint32_t kTextOpenTitle = 7010, kTextSaveTitle = 7011, kTextOpenButton = 7012,
                          kTextSaveButton = 7013, kTextReplaceFile = 7014;
inline constexpr uint32_t kTextRootCaption = 7020, kTextRootQuestion = 7021;

// Text `id` of the current resource module, or the library's own when that
// module lacks it (a language module made before the text existed).
std::string WindowSystemText(uint32_t id);

// `format` with each "%s" replaced by the next of `values`, filled in by
// hand since the format comes from a resource module; a "%s" without a value
// stays.
std::string FillTextFields(std::string format, std::initializer_list<std::string> values);

// What the headless backend recorded.
struct RecordedMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    uint32_t type;
    std::vector<std::string> buttons;  // their labels, in order
};

namespace headless {
const std::vector<RecordedMessageBox>& RecordedMessageBoxes();
void ClearRecordedMessageBoxes();
// The answer message boxes give when none is queued (IDOK unless set);
// ui_headless.h queues single answers.
void SetMessageBoxAnswer(int answer);
}  // namespace headless

}  // namespace zorbelu::platform
