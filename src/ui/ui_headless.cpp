#include "ui/ui_headless.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

#include "ui/message_box.h"

namespace zorbelu::platform {
namespace headless {
namespace {

// A window of this backend. `context` is the runtime's context for the
// window, which is the dialog's window handle.
struct Window {
    WindowState state;
    const ZorbeluUiEvents* events = nullptr;
    bool ended = false;
    Window* parent = nullptr;         // pages: the window they live in
    std::vector<Window*> pages;       // in the order made
    // Top-level windows: where the keyboard focus is (this window or one of
    // its pages) and on which control.
    Window* focusWindow = nullptr;
    int focusIndex = -1;

    Window* Root() {
        Window* w = this;
        while (w->parent != nullptr) w = w->parent;
        return w;
    }
};

// The window's state with its pages and focus, as a test looks at it.
WindowState Snapshot(Window& window) {
    WindowState state = window.state;
    Window* root = window.Root();
    state.focusId = 0;
    if (root->focusWindow == &window && root->focusIndex >= 0 &&
        static_cast<size_t>(root->focusIndex) < window.state.controls.size())
        state.focusId = window.state.controls[static_cast<size_t>(root->focusIndex)].id;
    state.pages.clear();
    for (Window* page : window.pages) state.pages.push_back(Snapshot(*page));
    return state;
}

struct World {
    std::deque<std::vector<Action>> scripts;
    std::vector<ModalRun> runs;
    std::vector<FileRequest> fileRequests;
    std::deque<std::optional<std::string>> fileAnswers;
    std::deque<int> messageBoxAnswers;
    std::vector<RecordedMessageBox> messageBoxes;
    int presetAnswer = IDOK;
    int windowsToRefuse = 0;
};

World& TheWorld() {
    static World world;
    return world;
}

// Width and height of a PNG image, from its header chunk.
void PngSize(const uint8_t* png, uint32_t size, uint32_t* width, uint32_t* height) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    *width = *height = 0;
    if (png == nullptr || size < 24 || std::memcmp(png, kSignature, 8) != 0 || std::memcmp(png + 12, "IHDR", 4) != 0)
        return;
    auto be32 = [](const uint8_t* p) {
        return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    };
    *width = be32(png + 16);
    *height = be32(png + 20);
}

void Apply(ControlState& state, const ZorbeluUiControl& c) {
    state.kind = c.kind;
    state.id = c.id;
    state.style = c.style;
    state.text = c.text != nullptr ? c.text : "";
    state.rect = {c.x, c.y, c.width, c.height};
    state.visible = c.visible != 0;
    state.enabled = c.enabled != 0;
    state.checked = c.checked != 0;
    state.items.clear();
    for (uint32_t i = 0; i < c.itemCount && c.items != nullptr; ++i)
        state.items.emplace_back(c.items[i] != nullptr ? c.items[i] : "");
    state.selected = c.selected;
    PngSize(c.image, c.imageSize, &state.imageWidth, &state.imageHeight);
}

void* CreateWindow(const ZorbeluUiWindowSpec* layout, void* owner, const ZorbeluUiEvents* events) {
    if (layout == nullptr || events == nullptr) return nullptr;
    if (World& world = TheWorld(); world.windowsToRefuse > 0) {
        --world.windowsToRefuse;
        return nullptr;  // as a window system out of resources would
    }
    auto* window = new Window;
    window->events = events;
    window->state.templateId = layout->templateId;
    window->state.caption = layout->caption != nullptr ? layout->caption : "";
    window->state.width = layout->width;
    window->state.height = layout->height;
    window->state.owner = owner != nullptr ? static_cast<HWND>(static_cast<Window*>(owner)->events->context) : nullptr;
    if ((layout->style & ZORBELU_DS_CHILD) != 0 && owner != nullptr) {
        window->parent = static_cast<Window*>(owner);
        window->parent->pages.push_back(window);
        window->state.isPage = true;
        window->state.visible = false;
        window->state.placement = {0, 0, layout->width, layout->height};
    }
    window->state.controls.resize(layout->controlCount);
    for (uint32_t i = 0; i < layout->controlCount; ++i) Apply(window->state.controls[i], layout->controls[i]);
    return window;
}

void DestroyWindow(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return;
    for (Window* page : window->pages) page->parent = nullptr;  // the runtime destroys pages first
    if (window->parent != nullptr) {
        auto& siblings = window->parent->pages;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
        Window* root = window->Root();
        if (root->focusWindow == window) {
            root->focusWindow = nullptr;
            root->focusIndex = -1;
        }
    }
    delete window;
}

void UpdateControl(void* handle, uint32_t index, const ZorbeluUiControl* control) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || control == nullptr || index >= window->state.controls.size()) return;
    Apply(window->state.controls[index], *control);
}

void SetCaption(void* handle, const char* caption) {
    if (handle != nullptr) static_cast<Window*>(handle)->state.caption = caption != nullptr ? caption : "";
}

// Where a control of a script lives.
struct Target {
    Window* window = nullptr;
    uint32_t index = 0;
};

// The control with `id` that a user could reach, in the window or one of
// its visible pages; else the refusal.
Target Reachable(Window& window, int id, std::string* refusal) {
    std::vector<Window*> order{&window};
    for (Window* page : window.pages)
        if (page->state.visible) order.push_back(page);
    for (Window* w : order) {
        for (size_t i = 0; i < w->state.controls.size(); ++i) {
            const ControlState& c = w->state.controls[i];
            if (c.id != id) continue;
            if (!c.visible || !c.enabled) {
                *refusal = "control " + std::to_string(id) + (c.visible ? " is disabled" : " is hidden");
                return {};
            }
            return {w, static_cast<uint32_t>(i)};
        }
    }
    *refusal = "no control " + std::to_string(id);
    return {};
}

void GiveFocus(Window& window, int index) {
    Window* root = window.Root();
    root->focusWindow = &window;
    root->focusIndex = index;
}

// Enter or Escape goes to the window that has the focus.
void PressKey(Window& top, uint32_t key) {
    Window* target = top.focusWindow != nullptr ? top.focusWindow : &top;
    const ZorbeluUiEvents& ev = *target->events;
    const int32_t index = target == top.focusWindow ? top.focusIndex : -1;
    if (ev.key != nullptr) ev.key(ev.context, key, index);
}

void Play(Window& window, const Action& action, ModalRun& run) {
    if (action.kind == Action::Kind::Look) {
        if (action.look) action.look(Snapshot(window));
        return;
    }
    if (action.kind == Action::Kind::Key) {
        PressKey(window, static_cast<uint32_t>(action.item));
        return;
    }
    std::string refusal;
    const Target target = Reachable(window, action.id, &refusal);
    if (target.window == nullptr) {
        run.refusedActions.push_back(refusal);
        return;
    }
    const ZorbeluUiEvents& ev = *target.window->events;
    const uint32_t at = target.index;
    ControlState& control = target.window->state.controls[at];
    if (action.kind != Action::Kind::Toggle) GiveFocus(*target.window, static_cast<int>(at));
    switch (action.kind) {
        case Action::Kind::Press:
            ev.clicked(ev.context, at);
            break;
        case Action::Kind::Pick:
            if (action.item < 0 || action.item >= static_cast<int>(control.items.size())) {
                run.refusedActions.push_back("control " + std::to_string(action.id) + " has no item " +
                                             std::to_string(action.item));
                return;
            }
            control.selected = action.item;
            ev.selected(ev.context, at, action.item);
            break;
        case Action::Kind::Type:
            control.text = action.text;
            ev.edited(ev.context, at, action.text.c_str());
            break;
        case Action::Kind::Toggle:
            control.checked = action.item != 0;
            ev.toggled(ev.context, at, action.item);
            break;
        default:
            break;
    }
}

void RunModal(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return;
    World& world = TheWorld();
    std::vector<Action> script;
    if (!world.scripts.empty()) {
        script = std::move(world.scripts.front());
        world.scripts.pop_front();
    }
    // Runs nest (a handler may run another dialog), so the record is made
    // here and stored when this run ends.
    ModalRun run;
    // The default button has the focus when a dialog opens.
    for (size_t i = 0; i < window->state.controls.size(); ++i)
        if ((window->state.controls[i].style & ZORBELU_CS_DEFAULT) != 0) GiveFocus(*window, static_cast<int>(i));
    run.atStart = Snapshot(*window);
    const ZorbeluUiEvents& ev = *window->events;
    ev.modalStarted(ev.context);
    for (const Action& action : script) {
        if (window->ended) break;
        Play(*window, action, run);
    }
    if (!window->ended) {
        run.closedByBackend = true;
        ev.closeRequested(ev.context);
    }
    run.atEnd = Snapshot(*window);
    world.runs.push_back(std::move(run));
}

void EndModal(void* handle) {
    if (handle != nullptr) static_cast<Window*>(handle)->ended = true;
}

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t type,
                       const ZorbeluUiButton* buttons, uint32_t buttonCount) {
    World& world = TheWorld();
    HWND ownerHandle = owner != nullptr ? static_cast<HWND>(static_cast<Window*>(owner)->events->context) : nullptr;
    std::vector<std::string> labels;
    for (uint32_t i = 0; buttons != nullptr && i < buttonCount; ++i)
        labels.emplace_back(buttons[i].label != nullptr ? buttons[i].label : "");
    world.messageBoxes.push_back(
        {ownerHandle, text != nullptr ? text : "", caption != nullptr ? caption : "", type, std::move(labels)});
    if (!world.messageBoxAnswers.empty()) {
        const int answer = world.messageBoxAnswers.front();
        world.messageBoxAnswers.pop_front();
        return answer;
    }
    return world.presetAnswer;
}

int32_t ShowFileDialog(void*, const ZorbeluUiFileRequest* request, char* path, uint32_t size) {
    if (request == nullptr || path == nullptr || size == 0) return -1;
    World& world = TheWorld();
    FileRequest recorded;
    recorded.save = request->save != 0;
    recorded.title = request->title != nullptr ? request->title : "";
    recorded.initialName = request->initialName != nullptr ? request->initialName : "";
    recorded.defaultExtension = request->defaultExtension != nullptr ? request->defaultExtension : "";
    recorded.acceptLabel = request->acceptLabel != nullptr ? request->acceptLabel : "";
    recorded.cancelLabel = request->cancelLabel != nullptr ? request->cancelLabel : "";
    for (uint32_t i = 0; i < request->filterCount; ++i)
        recorded.filters.emplace_back(request->filters[i].description, request->filters[i].patterns);
    world.fileRequests.push_back(std::move(recorded));
    if (world.fileAnswers.empty()) return 0;
    const std::optional<std::string> answer = std::move(world.fileAnswers.front());
    world.fileAnswers.pop_front();
    if (!answer) return 0;
    if (answer->size() + 1 > size) return -1;
    std::memcpy(path, answer->c_str(), answer->size() + 1);
    return 1;
}

// A headless window stands at a fixed place of an imagined screen, so that
// what depends on its position can be tested.
int32_t ScreenRect(void* handle, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    const auto* window = static_cast<const Window*>(handle);
    if (window == nullptr) return 0;
    *x = kHeadlessWindowLeft;
    *y = kHeadlessWindowTop;
    *width = window->state.width;
    *height = window->state.height;
    return 1;
}

void PlaceWindow(void* handle, int32_t x, int32_t y, int32_t width, int32_t height) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return;
    if (window->state.isPage) {
        window->state.placement = {x, y, width, height};
    } else {
        window->state.width = width;
        window->state.height = height;
    }
}

void ShowPage(void* handle, int32_t visible) {
    auto* window = static_cast<Window*>(handle);
    if (window != nullptr && window->state.isPage) window->state.visible = visible != 0;
}

int32_t GetFocus(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return -1;
    const Window* root = window->Root();
    return root->focusWindow == window ? root->focusIndex : -1;
}

void SetFocus(void* handle, uint32_t index) {
    auto* window = static_cast<Window*>(handle);
    if (window != nullptr && index < window->state.controls.size()) GiveFocus(*window, static_cast<int>(index));
}

constexpr ZorbeluUiBackend kHeadless{ZORBELU_UI_BACKEND_VERSION,
                                     "headless",
                                     nullptr,
                                     CreateWindow,
                                     DestroyWindow,
                                     UpdateControl,
                                     SetCaption,
                                     RunModal,
                                     EndModal,
                                     ShowMessageBox,
                                     ShowFileDialog,
                                     nullptr,
                                     nullptr,
                                     ScreenRect,
                                     PlaceWindow,
                                     ShowPage,
                                     GetFocus,
                                     SetFocus};

}  // namespace

const ZorbeluUiBackend& Backend() { return kHeadless; }

const ControlState* WindowState::Find(int id) const {
    for (const ControlState& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

const WindowState* WindowState::Page(uint32_t id) const {
    for (const WindowState& page : pages)
        if (page.templateId == id) return &page;
    return nullptr;
}

Action Press(int id) { return {Action::Kind::Press, id, -1, {}, {}}; }
Action Focus(int id) { return {Action::Kind::Focus, id, -1, {}, {}}; }
Action Key(uint32_t key) { return {Action::Kind::Key, 0, static_cast<int>(key), {}, {}}; }
Action Pick(int id, int item) { return {Action::Kind::Pick, id, item, {}, {}}; }
Action Type(int id, std::string text) { return {Action::Kind::Type, id, -1, std::move(text), {}}; }
Action Toggle(int id, bool checked) { return {Action::Kind::Toggle, id, checked ? 1 : 0, {}, {}}; }
Action Look(std::function<void(const WindowState&)> look) {
    return {Action::Kind::Look, 0, -1, {}, std::move(look)};
}

void QueueScript(std::vector<Action> script) { TheWorld().scripts.push_back(std::move(script)); }
const std::vector<ModalRun>& Runs() { return TheWorld().runs; }
const std::vector<FileRequest>& FileRequests() { return TheWorld().fileRequests; }
void QueueFileAnswer(std::optional<std::string> path) { TheWorld().fileAnswers.push_back(std::move(path)); }
void QueueMessageBoxAnswer(int answer) { TheWorld().messageBoxAnswers.push_back(answer); }

void RefuseNextWindows(int count) { TheWorld().windowsToRefuse = count; }

void Reset() {
    World& world = TheWorld();
    const int preset = world.presetAnswer;
    world = World{};
    world.presetAnswer = preset;
}

// The recording API of message_box.h.
const std::vector<RecordedMessageBox>& RecordedMessageBoxes() { return TheWorld().messageBoxes; }
void ClearRecordedMessageBoxes() { TheWorld().messageBoxes.clear(); }
void SetMessageBoxAnswer(int answer) { TheWorld().presetAnswer = answer; }

}  // namespace headless
}  // namespace zorbelu::platform
