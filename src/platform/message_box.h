// Message boxes, behind an interchangeable backend.
//
// The backend is a const table chosen once per process. The headless backend
// shows nothing: it records every message box and answers with a preset
// button, so that tests (and hosts without a display) can see what the
// library would have shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/windows.h"

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

struct MessageBoxBackend {
    const char* name;
    int (*show)(HWND owner, const char* text, const char* caption, uint32_t type);
};

// Shows a message box through the process's backend and returns the answer.
int MessageBoxA(HWND owner, const char* text, const char* caption, uint32_t type);

// The backend in use; chosen on first use.
const MessageBoxBackend& CurrentMessageBoxBackend();

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
// The answer the next message boxes give (IDOK unless set).
void SetMessageBoxAnswer(int answer);
}  // namespace headless

}  // namespace zorbelu::platform
