#include "platform/ui_headless.h"

#include <cstring>
#include <deque>
#include <utility>

#include "platform/message_box.h"

namespace zorbelu::platform {
namespace headless {
namespace {

// A window of this backend. `context` is the runtime's context for the
// window, which is the dialog's window handle.
struct Window {
    WindowState state;
    const ZorbeluUiEvents* events = nullptr;
    bool ended = false;
};

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
    window->state.controls.resize(layout->controlCount);
    for (uint32_t i = 0; i < layout->controlCount; ++i) Apply(window->state.controls[i], layout->controls[i]);
    return window;
}

void DestroyWindow(void* window) { delete static_cast<Window*>(window); }

void UpdateControl(void* handle, uint32_t index, const ZorbeluUiControl* control) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || control == nullptr || index >= window->state.controls.size()) return;
    Apply(window->state.controls[index], *control);
}

void SetCaption(void* handle, const char* caption) {
    if (handle != nullptr) static_cast<Window*>(handle)->state.caption = caption != nullptr ? caption : "";
}

// The control with `id` that a user could reach, or its refusal.
int Reachable(const Window& window, int id, std::string* refusal) {
    for (size_t i = 0; i < window.state.controls.size(); ++i) {
        const ControlState& c = window.state.controls[i];
        if (c.id != id) continue;
        if (!c.visible || !c.enabled) {
            *refusal = "control " + std::to_string(id) + (c.visible ? " is disabled" : " is hidden");
            return -1;
        }
        return static_cast<int>(i);
    }
    *refusal = "no control " + std::to_string(id);
    return -1;
}

void Play(Window& window, const Action& action, ModalRun& run) {
    if (action.kind == Action::Kind::Look) {
        if (action.look) action.look(window.state);
        return;
    }
    std::string refusal;
    const int index = Reachable(window, action.id, &refusal);
    if (index < 0) {
        run.refusedActions.push_back(refusal);
        return;
    }
    const ZorbeluUiEvents& ev = *window.events;
    const auto at = static_cast<uint32_t>(index);
    ControlState& control = window.state.controls[at];
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
        case Action::Kind::Look:
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
    run.atStart = window->state;
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
    run.atEnd = window->state;
    world.runs.push_back(std::move(run));
}

void EndModal(void* handle) {
    if (handle != nullptr) static_cast<Window*>(handle)->ended = true;
}

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t type) {
    World& world = TheWorld();
    HWND ownerHandle = owner != nullptr ? static_cast<HWND>(static_cast<Window*>(owner)->events->context) : nullptr;
    world.messageBoxes.push_back({ownerHandle, text != nullptr ? text : "", caption != nullptr ? caption : "", type});
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
                                     ScreenRect};

}  // namespace

const ZorbeluUiBackend& Backend() { return kHeadless; }

const ControlState* WindowState::Find(int id) const {
    for (const ControlState& c : controls)
        if (c.id == id) return &c;
    return nullptr;
}

Action Press(int id) { return {Action::Kind::Press, id, -1, {}, {}}; }
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
