// The interface between the dialog runtime and a UI backend.
//
// A backend is a const table of functions (ZorbeluUiBackend), chosen once
// per process (ui_backend.h). The headless backend is compiled into the
// library; the GTK backend lives in a module of its own
// (libzorbelutilnd-gtk.so) that exports the table under the symbol
// ZORBELU_UI_BACKEND_SYMBOL, so that the library itself links no toolkit.
//
// The runtime keeps the truth about every control; it hands the backend a
// full description of a control whenever anything of it changes, and the
// backend reports what the user did through ZorbeluUiEvents. A backend's
// window is an opaque pointer to the runtime. Plain C types only: the two
// sides may be built apart.
#pragma once

#include <cstdint>

extern "C" {

// One control as the backend shows it: pixels, never dialog units.
struct ZorbeluUiControl {
    uint32_t kind;  // ZORBELU_CTL_* (dialog_template.h)
    int32_t id;
    uint32_t style;  // ZORBELU_CS_*
    const char* text;
    int32_t x, y, width, height;
    int32_t visible;
    int32_t enabled;
    int32_t checked;  // check boxes
    const uint8_t* image;  // pictures: PNG bytes, or NULL
    uint32_t imageSize;
    const char* const* items;  // combo boxes, lists, tabs
    uint32_t itemCount;
    int32_t selected;  // -1 for none
};

struct ZorbeluUiWindowSpec {
    uint32_t templateId;
    const char* caption;
    uint32_t style;  // ZORBELU_DS_*
    int32_t width, height;  // client area, pixels
    const char* fontName;
    uint32_t fontPoints;
    const ZorbeluUiControl* controls;  // in template order, which is the tab order
    uint32_t controlCount;
};

// What the user did, reported to the runtime. `index` is the control's
// position in the window's layout.
struct ZorbeluUiEvents {
    void* context;
    void (*clicked)(void* context, uint32_t index);
    void (*selected)(void* context, uint32_t index, int32_t item);
    void (*edited)(void* context, uint32_t index, const char* text);
    void (*toggled)(void* context, uint32_t index, int32_t checked);
    void (*closeRequested)(void* context);  // the window's close box: Cancel
    void (*modalStarted)(void* context);     // the window is on screen, the loop runs
    // Enter or Escape (ZORBELU_KEY_*) pressed while control `focusIndex` of
    // this window (-1: none of its controls) has the focus. 1 when the
    // runtime handled it; 0 lets the backend's normal handling go on.
    int32_t (*key)(void* context, uint32_t key, int32_t focusIndex);
};

struct ZorbeluUiFileFilter {
    const char* description;  // "Time-Stamp Token Files (*.tst)"
    const char* patterns;     // "*.tst", several joined by ';'
};

// The runtime gives every text the window system shows, in the library's
// current language; labels mark their mnemonic with '&' ("&&" is one '&').
struct ZorbeluUiFileRequest {
    int32_t save;  // 0 open, 1 save
    const char* title;
    const char* initialName;
    const char* defaultExtension;  // without the dot; may be NULL. The runtime adds it and asks before
                                   // replacing a file, so a backend asks nothing itself.
    const ZorbeluUiFileFilter* filters;
    uint32_t filterCount;
    const char* acceptLabel;  // "&Open", "&Save"
    const char* cancelLabel;
};

struct ZorbeluUiButton {
    const char* label;
    int32_t id;  // IDOK, IDCANCEL, IDYES, ... as the message box answers
};

// Windows made with the ZORBELU_DS_CHILD style are pages: modeless, shown
// inside their owner's client area, hidden until showWindow shows them, and
// destroyed before their owner. Their controls report to their own events.
struct ZorbeluUiBackend {
    uint32_t version;  // ZORBELU_UI_BACKEND_VERSION
    const char* name;
    // Once per process before anything else: 1 when windows can be shown,
    // else the code every dialog then fails with. Optional (NULL: ready).
    uint32_t (*start)(void);
    // Creates a hidden window with its controls; NULL on failure.
    void* (*createWindow)(const ZorbeluUiWindowSpec* layout, void* owner, const ZorbeluUiEvents* events);
    void (*destroyWindow)(void* window);
    void (*updateControl)(void* window, uint32_t index, const ZorbeluUiControl* control);
    void (*setCaption)(void* window, const char* caption);
    // Shows the window modally, calls events->modalStarted once, and returns
    // when endModal is called.
    void (*runModal)(void* window);
    void (*endModal)(void* window);
    // A message box with the buttons given, in order: the id of the button
    // pressed; closed without one, that of the last button; 0 on failure.
    // `type` gives the icon (and the button set the labels stand for).
    int32_t (*messageBox)(void* owner, const char* text, const char* caption, uint32_t type,
                          const ZorbeluUiButton* buttons, uint32_t buttonCount);
    // Optional. 1 and the chosen path; 0 cancelled; -1 failure.
    int32_t (*fileDialog)(void* owner, const ZorbeluUiFileRequest* request, char* path, uint32_t size);
    // Optional, for layout tests: the smallest size that shows the whole text
    // of a control at its current width. 1, or 0 when unknown.
    int32_t (*naturalSize)(void* window, uint32_t index, int32_t* width, int32_t* height);
    // Optional: writes what the window shows as a PNG file. 1 on success.
    int32_t (*snapshot)(void* window, const char* pngPath);
    // Optional: where the window is on the screen, in pixels. 1, or 0 when
    // the window system does not tell.
    int32_t (*screenRect)(void* window, int32_t* x, int32_t* y, int32_t* width, int32_t* height);
    // A page: its place and size in the owner's client area. A top-level
    // window: the size of its client area (x and y are not used; the window
    // system places windows).
    void (*placeWindow)(void* window, int32_t x, int32_t y, int32_t width, int32_t height);
    // Shows or hides a page.
    void (*showWindow)(void* window, int32_t visible);
    // The index of this window's control that has the keyboard focus, or -1.
    int32_t (*getFocus)(void* window);
    // Gives control `index` of this window the keyboard focus.
    void (*setFocus)(void* window, uint32_t index);
};

}  // extern "C"

#define ZORBELU_UI_BACKEND_VERSION 3u

// Keys reported through ZorbeluUiEvents::key (the Windows virtual-key codes).
#define ZORBELU_KEY_RETURN 0x0Du
#define ZORBELU_KEY_ESCAPE 0x1Bu
#define ZORBELU_UI_BACKEND_SYMBOL "zorbelu_ui_backend"
