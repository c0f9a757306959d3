// The controls of a live dialog and the data exchange between them and a
// dialog's members: each change is kept in the dialog's copy of the control
// and shown through the backend at once.
#include <string>
#include <string_view>
#include <vector>

#include "ui/dialog.h"
#include "ui/dialog_window.h"

namespace zorbelu::platform {
namespace {

std::vector<const char*> ItemPointers(const std::vector<std::string>& items) {
    std::vector<const char*> pointers;
    pointers.reserve(items.size());
    for (const std::string& item : items) pointers.push_back(item.c_str());
    return pointers;
}

}  // namespace

// ---- Data exchange -------------------------------------------------------------

void DataExchange::Text(int id, std::string& value) {
    if (saving_) {
        if (dialog_.HasItem(id)) value = dialog_.GetItemText(id);
    } else {
        dialog_.SetItemText(id, value);
    }
}

void DataExchange::Check(int id, bool& value) {
    if (saving_) {
        if (dialog_.HasItem(id)) value = dialog_.GetCheck(id);
    } else {
        dialog_.SetCheck(id, value);
    }
}

void DataExchange::ComboIndex(int id, int& value) {
    if (saving_) {
        if (dialog_.HasItem(id)) value = dialog_.GetCurSel(id);
    } else {
        dialog_.SetCurSel(id, value);
    }
}

bool Dialog::UpdateData(bool saveAndValidate) {
    if (window_ == nullptr) return false;
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return true;
}

Dialog::Control* Dialog::Find(int id) {
    if (window_ == nullptr || id == ZORBELU_ID_NONE) return nullptr;
    for (Control& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}

const Dialog::Control* Dialog::Find(int id) const { return const_cast<Dialog*>(this)->Find(id); }

void Dialog::Sync(const Control& control) {
    if (window_ == nullptr) return;
    const std::vector<const char*> items = ItemPointers(control.items);
    const ZorbeluUiControl described = Describe(control, items);
    const auto index = static_cast<uint32_t>(&control - controls_.data());
    window_->backend().updateControl(window_->handle(), index, &described);
}

bool Dialog::HasItem(int id) const { return Find(id) != nullptr; }

bool Dialog::SetItemText(int id, std::string_view text) {
    return ChangeItem(id, [&](Control& c) { c.text.assign(text.data(), text.size()); });
}

std::string Dialog::GetItemText(int id) const {
    const Control* c = Find(id);
    return c != nullptr ? c->text : std::string();
}

bool Dialog::ShowItem(int id, bool show) {
    return ChangeItem(id, [&](Control& c) { c.visible = show; });
}

bool Dialog::EnableItem(int id, bool enable) {
    return ChangeItem(id, [&](Control& c) { c.enabled = enable; });
}

bool Dialog::IsItemVisible(int id) const {
    const Control* c = Find(id);
    return c != nullptr && c->visible;
}

bool Dialog::IsItemEnabled(int id) const {
    const Control* c = Find(id);
    return c != nullptr && c->enabled;
}

bool Dialog::MoveItem(int id, const PixelRect& rect) {
    if (rect.width < 0 || rect.height < 0) return false;
    return ChangeItem(id, [&](Control& c) { c.rect = rect; });
}

std::optional<PixelRect> Dialog::GetItemRect(int id) const {
    const Control* c = Find(id);
    if (c == nullptr) return std::nullopt;
    return c->rect;
}

bool Dialog::SetCheck(int id, bool checked) {
    return ChangeItem(id, [&](Control& c) { c.checked = checked; });
}

bool Dialog::GetCheck(int id) const {
    const Control* c = Find(id);
    return c != nullptr && c->checked;
}

int Dialog::AddItem(int id, std::string_view text) {
    Control* c = Find(id);
    if (c == nullptr) return -1;
    return InsertItem(id, static_cast<int>(c->items.size()), text);
}

int Dialog::InsertItem(int id, int index, std::string_view text) {
    Control* c = Find(id);
    if (c == nullptr || index < -1 || index > static_cast<int>(c->items.size())) return -1;
    if (index == -1) index = static_cast<int>(c->items.size());
    c->items.insert(c->items.begin() + index, std::string(text));
    if (c->selected >= index) ++c->selected;
    Sync(*c);
    return index;
}

bool Dialog::ResetItems(int id) {
    return ChangeItem(id, [](Control& c) {
        c.items.clear();
        c.selected = -1;
    });
}

int Dialog::ItemCount(int id) const {
    const Control* c = Find(id);
    return c != nullptr ? static_cast<int>(c->items.size()) : -1;
}

int Dialog::GetCurSel(int id) const {
    const Control* c = Find(id);
    return c != nullptr ? c->selected : -1;
}

bool Dialog::SetCurSel(int id, int index) {
    Control* c = Find(id);
    if (c == nullptr || index < -1 || index >= static_cast<int>(c->items.size())) return false;
    c->selected = index;
    Sync(*c);
    return true;
}

void Dialog::SetCaption(std::string_view caption) {
    caption_.assign(caption.data(), caption.size());
    if (window_ != nullptr) window_->backend().setCaption(window_->handle(), caption_.c_str());
}

std::vector<ControlView> Dialog::Controls() const {
    std::vector<ControlView> views;
    if (window_ == nullptr) return views;
    views.reserve(controls_.size());
    for (const Control& c : controls_) views.push_back({c.kind, c.id, c.style, c.text, c.rect, c.visible, c.enabled});
    return views;
}

bool Dialog::NaturalSize(size_t index, int* width, int* height) const {
    if (window_ == nullptr || index >= controls_.size() || window_->backend().naturalSize == nullptr) return false;
    int32_t w = 0, h = 0;
    if (window_->backend().naturalSize(window_->handle(), static_cast<uint32_t>(index), &w, &h) != 1) return false;
    *width = w;
    *height = h;
    return true;
}

bool Dialog::Snapshot(const std::string& pngPath) const {
    if (window_ == nullptr || window_->backend().snapshot == nullptr) return false;
    return window_->backend().snapshot(window_->handle(), pngPath.c_str()) == 1;
}

}  // namespace zorbelu::platform
