#include "ui/dialog_file.h"

#include <vector>

#include "ui/dialog.h"
#include "ui/message_box.h"
#include "ui/ui_backend.h"

namespace zorbelu::platform {

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
    ZorbeluUiFileRequest request{};
    request.save = open_ ? 0 : 1;
    request.title = title_.empty() ? nullptr : title_.c_str();
    request.initialName = fileName_.c_str();
    request.defaultExtension = defaultExtension_.empty() ? nullptr : defaultExtension_.c_str();
    request.filters = filters.data();
    request.filterCount = static_cast<uint32_t>(filters.size());

    std::vector<char> chosen(4096, '\0');
    const int32_t answer = backend.fileDialog(BackendWindowOf(parent_ != nullptr ? parent_ : GetActiveWindow()),
                                              &request, chosen.data(), static_cast<uint32_t>(chosen.size()));
    if (answer < 0) return -1;
    if (answer == 0) return IDCANCEL;
    path_ = chosen.data();
    if (!open_ && !defaultExtension_.empty()) {
        const size_t slash = path_.rfind('/');
        const size_t dot = path_.rfind('.');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) path_ += "." + defaultExtension_;
    }
    return IDOK;
}

}  // namespace zorbelu::platform
