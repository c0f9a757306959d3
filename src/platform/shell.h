// The shell's "open this folder": the stand-in for ShellExecute with the
// verb "open" on a folder.
#pragma once

#include <string>

namespace zorbelu::platform {

// The program that opens folders: $ZORBELU_FOLDER_OPENER when set, else
// xdg-open, the desktop's own choice.
std::string FolderOpener();

// Starts the folder opener on `folder` and returns without waiting for it
// (the opener is left to the system, never to the host, to reap). True
// when the start was handed to the system; whether the folder opened is not
// known, as with the shell.
bool OpenFolder(const std::string& folder);

}  // namespace zorbelu::platform
