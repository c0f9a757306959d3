// The headless UI backend (ZORBELU_UI=headless): windows that nobody sees,
// driven and read by tests.
//
// Every window keeps what the runtime last told it about each control. When
// a modal loop starts, the backend takes the next queued script and plays
// its actions (press a button, pick an item, type, toggle, look); a script
// that ends without the dialog ending closes it as the close box would
// (Cancel). Each modal run is recorded with the window's state when the loop
// started and when it ended. Message boxes are recorded (message_box.h) and
// answered from a queue, file dialogs likewise.
//
// Not thread-safe, like the library: one thread drives the dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog_units.h"
#include "ui/ui_abi.h"
#include "ui/windows.h"

namespace zorbelu::platform::headless {

const ZorbeluUiBackend& Backend();

struct ControlState {
    uint32_t kind = 0;
    int id = 0;
    uint32_t style = 0;
    std::string text;
    PixelRect rect;
    bool visible = false;
    bool enabled = false;
    bool checked = false;
    std::vector<std::string> items;
    int selected = -1;
    // Pictures: the size of the PNG image, 0 x 0 without one.
    uint32_t imageWidth = 0;
    uint32_t imageHeight = 0;
};

// Where every headless window stands on its imagined screen.
inline constexpr int kHeadlessWindowLeft = 100;
inline constexpr int kHeadlessWindowTop = 80;

struct WindowState {
    uint32_t templateId = 0;
    std::string caption;
    int width = 0;
    int height = 0;
    HWND owner = nullptr;  // the window that owns this one, if any
    std::vector<ControlState> controls;
    int focusId = 0;  // the control of this window with the focus; 0 for none
    // Pages (child windows) in the order made, each with its place in this
    // window's client area and whether it shows.
    bool isPage = false;
    bool visible = true;
    PixelRect placement;
    std::vector<WindowState> pages;

    // The control with `id`, or NULL.
    const ControlState* Find(int id) const;
    // The page made from template `templateId`, or NULL.
    const WindowState* Page(uint32_t templateId) const;
};

// One action of a script.
struct Action {
    enum class Kind { Press, Pick, Type, Toggle, Look, Focus, Key };
    Kind kind;
    int id = 0;
    int item = -1;
    std::string text;
    std::function<void(const WindowState&)> look;
};

// Actions find their control among the window's own controls first, then
// among those of its visible pages.
//
// Press a button (as a click: nothing happens to a hidden or disabled one).
// The button gets the focus, as a click gives it.
Action Press(int id);
// Move the keyboard focus to a control, as the Tab key would.
Action Focus(int id);
// Press a key (kKeyReturn, kKeyEscape) with the focus where it is.
Action Key(uint32_t key);
// Pick item `item` of a combo box, list or tab control.
Action Pick(int id, int item);
// Replace the text of an edit, as typing would.
Action Type(int id, std::string text);
Action Toggle(int id, bool checked);
// Look at the window as it is at this point of the script.
Action Look(std::function<void(const WindowState&)> look);

// The next modal run that starts plays the first queued script.
void QueueScript(std::vector<Action> script);

struct ModalRun {
    WindowState atStart;  // after OnInitDialog, when the loop started
    WindowState atEnd;    // when the dialog ended
    // Actions that found no such control, or a hidden or disabled one.
    std::vector<std::string> refusedActions;
    bool closedByBackend = false;  // the script ran out before the dialog ended
};

const std::vector<ModalRun>& Runs();

// File dialogs asked for, and the answers they get.
struct FileRequest {
    bool save = false;
    std::string title;
    std::string initialName;
    std::string defaultExtension;
    std::vector<std::pair<std::string, std::string>> filters;  // description, patterns
    std::string acceptLabel;
    std::string cancelLabel;
};
const std::vector<FileRequest>& FileRequests();
// The next file dialog chooses `path`; std::nullopt cancels it. Without a
// queued answer a file dialog is cancelled.
void QueueFileAnswer(std::optional<std::string> path);

// The next message box answers `answer` (then the preset answer again).
void QueueMessageBoxAnswer(int answer);

// The next `count` windows cannot be made, so that tests see how a dialog
// that cannot be shown is reported.
void RefuseNextWindows(int count);

// Forgets runs, file requests, queued scripts and answers, and message boxes.
void Reset();

}  // namespace zorbelu::platform::headless
