#include "ui/dialog_file.h"

#include <sys/stat.h>

#include <vector>

#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {
namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Asked once the default extension has made the final name, so that the
// question is about the file that would be replaced.
bool ConfirmReplace(HWND owner, const std::string& path) {
    const std::string question = FillTextFields(WindowSystemText(kTextReplaceFile), {path});
    const std::string caption = WindowSystemText(kTextSaveTitle);
    return MessageBoxA(owner, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

}  // namespace

FileDialog::FileDialog(bool openFileDialog, std::string defaultExtension, std::string fileName, std::string filter,
                       HWND parent)
    : open_(openFileDialog),
      defaultExtension_(std::move(defaultExtension)),
      fileName_(std::move(fileName)),
      filter_(std::move(filter)),
      parent_(parent) {}

std::vector<std::pair<std::string, std::string>> FileDialog::ParseFilter(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < filter.size()) {
        const size_t bar = filter.find('|', start);
        const size_t end = bar == std::string::npos ? filter.size() : bar;
        if (end == start) break;  // "||" ends the list
        parts.push_back(filter.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) pairs.emplace_back(parts[i], parts[i + 1]);
    return pairs;
}

int FileDialog::DoModal() {
    path_.clear();
    const ZorbeluUiBackend& backend = UiBackend();
    if (UiStatus() != 1 || backend.fileDialog == nullptr) return -1;
    const auto pairs = ParseFilter(filter_);
    std::vector<ZorbeluUiFileFilter> filters;
    filters.reserve(pairs.size());
    for (const auto& [description, patterns] : pairs) filters.push_back({description.c_str(), patterns.c_str()});
    const std::string title = !title_.empty() ? title_ : WindowSystemText(open_ ? kTextOpenTitle : kTextSaveTitle);
    const std::string accept = WindowSystemText(open_ ? kTextOpenButton : kTextSaveButton);
    const std::string cancel = WindowSystemText(kTextCancel);
    ZorbeluUiFileRequest request{};
    request.save = open_ ? 0 : 1;
    request.title = title.c_str();
    request.initialName = fileName_.c_str();
    request.defaultExtension = defaultExtension_.empty() ? nullptr : defaultExtension_.c_str();
    request.filters = filters.data();
    request.filterCount = static_cast<uint32_t>(filters.size());
    request.acceptLabel = accept.c_str();
    request.cancelLabel = cancel.c_str();

    const HWND owner = parent_ != nullptr ? parent_ : GetActiveWindow();
    for (;;) {
        std::vector<char> chosen(4096, '\0');
        const int32_t answer =
            backend.fileDialog(BackendWindowOf(owner), &request, chosen.data(), static_cast<uint32_t>(chosen.size()));
        if (answer < 0) return -1;
        if (answer == 0) return IDCANCEL;
        const std::string path = WithDefaultExtension(chosen.data());
        if (open_ || !Exists(path) || ConfirmReplace(owner, path)) {
            path_ = path;
            return IDOK;
        }
        // Not to be replaced: the user chooses again, as in the chooser itself.
    }
}

std::string FileDialog::WithDefaultExtension(std::string path) const {
    if (open_ || defaultExtension_.empty()) return path;
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) path += "." + defaultExtension_;
    return path;
}

}  // namespace zorbelu::platform
