// Message boxes, through the process's UI backend (ui_backend.h).
//
// The headless backend shows nothing: it records every message box and
// answers with a queued or preset button, so that tests can see what the
// library would have shown. Without any backend a message box answers 0.
#pragma once

#include <cstdint>
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
// returns the button pressed; 0 when no message box can be shown.
int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type);

// What the headless backend recorded.
struct RecordedMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    uint32_t type;
};

namespace headless {
const std::vector<RecordedMessageBox>& RecordedMessageBoxes();
void ClearRecordedMessageBoxes();
// The answer message boxes give when none is queued (IDOK unless set);
// ui_headless.h queues single answers.
void SetMessageBoxAnswer(int answer);
}  // namespace headless

}  // namespace zorbelu::platform
