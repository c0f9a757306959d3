// The external viewer a certificate or CRL is shown in: its command, the
// temporary file it reads, and its start.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/windows.h"

namespace zorbelu::dialogs {

// What is shown: selects the viewer command, the file extension and the
// error message. The values are the selection dialog's kind word.
enum class ViewKind : uint32_t { Crl = 0, Certificate = 1 };

// The environment variables that replace the viewer command of a kind.
inline constexpr const char* kCertViewerVariable = "ZORBELU_CERT_VIEWER";
inline constexpr const char* kCrlViewerVariable = "ZORBELU_CRL_VIEWER";
// Our own viewer (src/dialogs/token/cert_viewer), the default of both kinds.
inline constexpr const char* kOwnViewerName = "zorbelu-cert-viewer";
// The viewer is handed the number of a descriptor in this variable; a byte
// written to it (or its closing) tells that the window is up.
inline constexpr const char* kViewerReadyVariable = "ZORBELU_VIEWER_READY_FD";
// How long a launch waits for that at most.
inline constexpr int kViewerReadyWaitMs = 5000;
// Where the owner window stands ("x,y,width,height"), for the viewer to
// centre its window over it.
inline constexpr const char* kViewerCenterVariable = "ZORBELU_VIEWER_CENTER";

// The command prefix of a kind, ending in one space: the variable's value
// when set and not blank; else our viewer beside the library
// (<library dir>/../bin), else on the PATH, else xdg-open.
std::string ViewerCommandPrefix(ViewKind kind);

// The fixed temporary file of a kind: $TMPDIR (when absolute) else /tmp,
// then "zorbelutil-<uid>" and ".cer" or ".crl". Every launch of the kind
// overwrites it.
std::string ViewerTemporaryFile(ViewKind kind);

// The command line as the viewer gets it: the prefix and directly the file
// name, no quotes.
std::string ViewerCommandLine(std::string_view prefix, std::string_view fileName);

// Writes the bytes to the kind's temporary file and starts the viewer on it,
// waiting (at most kViewerReadyWaitMs) until it shows its window. The words
// are the prefix's (platform::SplitCommandWords) and the file name as one
// more word of its own, so that a temporary folder with spaces reaches the
// viewer in one piece. 1 when the process was started, else 0 (nothing to
// write, file not writable, no such program). The viewer runs on by itself;
// the file stays.
uint32_t LaunchCertViewer(const uint8_t* data, uint32_t length, ViewKind kind, platform::HWND owner);

}  // namespace zorbelu::dialogs
