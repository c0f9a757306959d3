#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

extern char** environ;

namespace zorbelu::platform {

std::string FolderOpener() {
    const char* configured = std::getenv("ZORBELU_FOLDER_OPENER");
    return configured != nullptr && *configured != '\0' ? configured : "xdg-open";
}

bool OpenFolder(const std::string& folder) {
    // A shell starts the opener in the background and ends at once: waiting
    // for the shell is short, and the opener, orphaned, is reaped by init.
    const std::string opener = FolderOpener();
    std::vector<char*> argv{const_cast<char*>("/bin/sh"), const_cast<char*>("-c"),
                            const_cast<char*>("\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &"),
                            const_cast<char*>(opener.c_str()), const_cast<char*>(folder.c_str()), nullptr};
    pid_t shell = 0;
    if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    pid_t waited;
    do {
        waited = waitpid(shell, &status, 0);
    } while (waited < 0 && errno == EINTR);
    // ECHILD: a host that reaps its children itself took the shell.
    return waited == shell ? WIFEXITED(status) && WEXITSTATUS(status) == 0 : errno == ECHILD;
}

}  // namespace zorbelu::platform
