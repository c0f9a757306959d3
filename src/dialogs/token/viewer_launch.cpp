#include "dialogs/token/viewer_launch.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/module.h"
#include "platform/own_file.h"
#include "platform/process.h"
#include "ui/dialog.h"
#include "ui/ui_backend.h"
#include "zorbelutil.h"

namespace zorbelu::dialogs {
namespace {

std::string LibraryFolder() {
    char path[PATH_MAX] = {};
    if (platform::GetModuleFileNameA(platform::OwnModuleHandle(), path, sizeof path) == 0) return std::string();
    std::string folder = path;
    const size_t slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

// Tells the viewer where the owner window stands, so that it can centre
// its window over it ("x,y,width,height"); nothing when that is unknown.
std::vector<std::string> OwnerPlacement(platform::HWND owner) {
    const ZorbeluUiBackend& backend = platform::UiBackend();
    void* window = owner != nullptr ? platform::BackendWindowOf(owner) : nullptr;
    int32_t x = 0, y = 0, width = 0, height = 0;
    if (window == nullptr || backend.screenRect == nullptr || backend.screenRect(window, &x, &y, &width, &height) != 1)
        return {};
    return {std::string(kViewerCenterVariable) + "=" + std::to_string(x) + "," + std::to_string(y) + "," +
            std::to_string(width) + "," + std::to_string(height)};
}

}  // namespace

std::string ViewerCommandPrefix(ViewKind kind) {
    const char* configured = std::getenv(kind == ViewKind::Certificate ? kCertViewerVariable : kCrlViewerVariable);
    if (configured != nullptr && !platform::SplitCommandWords(configured).empty()) {
        std::string prefix = configured;
        if (prefix.back() != ' ') prefix += ' ';
        return prefix;
    }
    const char* option = kind == ViewKind::Certificate ? " --certificate " : " --crl ";
    if (const std::string folder = LibraryFolder(); !folder.empty()) {
        const std::string beside = folder + "/../bin/" + kOwnViewerName;
        if (platform::IsExecutableFile(beside)) return beside + option;
    }
    if (!platform::ResolveProgram(kOwnViewerName).empty()) return kOwnViewerName + std::string(option);
    return "xdg-open ";
}

std::string ViewerTemporaryFile(ViewKind kind) {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder == "/") folder.clear();
    return folder + "/zorbelutil-" + std::to_string(geteuid()) + (kind == ViewKind::Certificate ? ".cer" : ".crl");
}

std::string ViewerCommandLine(std::string_view prefix, std::string_view fileName) {
    std::string line(prefix);
    line += fileName;
    return line;
}

uint32_t LaunchCertViewer(const uint8_t* data, uint32_t length, ViewKind kind, platform::HWND owner) {
    const std::string prefix = ViewerCommandPrefix(kind);
    const std::string file = ViewerTemporaryFile(kind);
    if (!platform::WriteOwnFile(file, data, length)) return 0;
    std::vector<std::string> words = platform::SplitCommandWords(prefix);
    if (words.empty()) return 0;
    // ViewerCommandLine(prefix, file) as words: the file name stays one.
    words.push_back(file);
    const bool started = platform::StartDetached(words, OwnerPlacement(owner), kViewerReadyVariable, kViewerReadyWaitMs);
    return started ? ZORBELU_OK : 0;
}

}  // namespace zorbelu::dialogs
