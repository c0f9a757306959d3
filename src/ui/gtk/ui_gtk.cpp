// The GTK 3 backend of the dialog runtime, built as a module of its own
// (libzorbelutilnd-gtk.so) that the library loads with dlopen when the first
// dialog is shown. It exports one symbol, the backend's table
// (ui/ui_abi.h), and uses nothing of the library: everything comes in
// through the table's arguments.
//
// Every control is a native widget placed at its pixel rectangle in a
// GtkFixed. Widgets use the template's point size in a sans-serif face and
// a compact padding. The runtime's pixels are those of the reference base
// unit of dialog_units.h; each dialog measures its font as GTK draws it now
// (Xft.dpi and GDK_DPI_SCALE included) and maps every rectangle, its own
// size and its pages' places onto that font's base unit, so that larger
// text gets larger controls and a larger window.
//
// A page (ZORBELU_DS_CHILD) is a GtkFixed of its own inside its owner's
// GtkFixed, put there after the owner's controls so that it is drawn above
// them (a tab strip lies under its pages) and its widgets' input windows,
// realized later, lie above theirs too. Its controls report to the page's
// events. Enter and Escape are offered to the runtime before GTK's own
// handling (OnKeyPress).
#include <gtk/gtk.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "ui/ui_abi.h"

namespace {

using zorbelu::platform::BaseUnits;
using zorbelu::platform::PixelRect;

// The icon bits of a message box type.
constexpr uint32_t kMbIconMask = 0xF0;

struct Item {
    uint32_t kind = 0;
    uint32_t style = 0;
    GtkWidget* outer = nullptr;  // what sits in the GtkFixed
    GtkWidget* inner = nullptr;  // the entry, text view, label, ... itself
    std::string text;
    std::vector<std::string> items;
    int selected = -1;
    uint32_t imageSize = 0;
    const uint8_t* image = nullptr;
    int x = 0, y = 0, width = 0, height = 0;
};

// A client area: a GtkFixed whose size is its size request alone, whatever
// its children need, and which draws nothing outside it. A plain GtkFixed
// asks for room for every child, so a window could not be made smaller than
// its controls reach (a dialog that folds part of itself away), and a page
// would show controls beyond its edge.
struct ZorbeluClientArea {
    GtkFixed parent;
};
struct ZorbeluClientAreaClass {
    GtkFixedClass parent;
};
G_DEFINE_TYPE(ZorbeluClientArea, zorbelu_client_area, GTK_TYPE_FIXED)

void ClientAreaNoRequest(GtkWidget*, gint* minimum, gint* natural) { *minimum = *natural = 0; }

GtkSizeRequestMode ClientAreaRequestMode(GtkWidget*) { return GTK_SIZE_REQUEST_CONSTANT_SIZE; }

gboolean ClientAreaDraw(GtkWidget* widget, cairo_t* cr) {
    cairo_save(cr);
    cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(widget), gtk_widget_get_allocated_height(widget));
    cairo_clip(cr);
    const gboolean result = GTK_WIDGET_CLASS(zorbelu_client_area_parent_class)->draw(widget, cr);
    cairo_restore(cr);
    return result;
}

void zorbelu_client_area_class_init(ZorbeluClientAreaClass* cls) {
    GtkWidgetClass* widget = GTK_WIDGET_CLASS(cls);
    widget->get_preferred_width = ClientAreaNoRequest;
    widget->get_preferred_height = ClientAreaNoRequest;
    widget->get_request_mode = ClientAreaRequestMode;
    widget->draw = ClientAreaDraw;
}

void zorbelu_client_area_init(ZorbeluClientArea*) {}

GtkWidget* NewClientArea(int width, int height) {
    GtkWidget* area = GTK_WIDGET(g_object_new(zorbelu_client_area_get_type(), nullptr));
    gtk_widget_set_size_request(area, width > 0 ? width : 0, height > 0 ? height : 0);
    return area;
}

struct Window {
    // The toplevel GtkWindow. A page does not own it: it is its owner's.
    GtkWidget* window = nullptr;
    GtkWidget* fixed = nullptr;  // the client area; a page's is in its owner's
    Window* owner = nullptr;     // pages only
    BaseUnits font;              // the dialog font's base unit; a page has its owner's
    const ZorbeluUiEvents* events = nullptr;
    std::vector<Item> items;
    GMainLoop* loop = nullptr;
    guint startedSource = 0;
    bool* destroyedWhileModal = nullptr;  // RunModal's, while its loop runs
    bool ended = false;
    int updating = 0;  // changes made by the runtime report no events

    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() {
        ++updating;  // widgets going away report nothing
        // The runtime may destroy a window from inside one of its events
        // while the modal loop runs: the loop ends and RunModal leaves
        // without touching the window.
        if (startedSource != 0) g_source_remove(startedSource);
        if (destroyedWhileModal != nullptr) *destroyedWhileModal = true;
        if (loop != nullptr) {
            g_main_loop_quit(loop);
            g_main_loop_unref(loop);
        }
        // Both were referenced when made, so this is safe even when an
        // owner was (wrongly) destroyed before its page.
        GtkWidget* own = IsPage() ? fixed : window;
        if (own != nullptr) {
            gtk_widget_destroy(own);
            g_object_unref(own);
        }
    }
    bool IsPage() const { return owner != nullptr; }
};

// Runs `body` for the C side: an exception (memory) becomes `failure`.
template <typename Result, typename Body>
Result NoThrow(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// Changes the runtime makes report no events back to it.
class Quiet {
public:
    explicit Quiet(Window* window) : window_(window) { ++window_->updating; }
    ~Quiet() { --window_->updating; }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;

private:
    Window* window_;
};

// "&File" -> "_File", "&&" -> "&", "_" -> "__".
std::string Mnemonic(const char* text) {
    std::string out;
    for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        if (*p == '&') {
            if (p[1] == '&') {
                out += '&';
                ++p;
            } else if (p[1] != '\0') {
                out += '_';
            }
        } else if (*p == '_') {
            out += "__";
        } else {
            out += *p;
        }
    }
    return out;
}

// Multi-line edits hold Windows line breaks; GTK shows "\n".
std::string ToGtkLines(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

std::string ToWindowsLines(const char* text) {
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\n') out += '\r';
        out += *p;
    }
    return out;
}

// One style sheet for every dialog: the template's point size in a
// sans-serif face and a compact padding.
void InstallStyle(uint32_t points) {
    static std::set<uint32_t> installed;
    if (points == 0) points = 9;
    if (!installed.insert(points).second) return;
    const std::string cls = ".zorbelu-pt" + std::to_string(points);
    const std::string css =
        cls + ", " + cls + " * { font-family: Sans; font-size: " + std::to_string(points) + "pt; }\n" + cls +
        " entry { min-height: 0; padding: 1px 4px; }\n" + cls +
        " button { min-height: 0; min-width: 0; padding: 1px 6px; }\n" + cls +
        " combobox button { padding: 1px 4px; }\n" + cls + " notebook tab { min-height: 0; padding: 2px 8px; }\n" +
        cls + " frame > border { border-radius: 0; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

// A control's widgets carry their window and index + 1 (so that a widget
// that is no control reads NULL); a toplevel GtkWindow carries its window.
uint32_t IndexOf(GtkWidget* widget) {
    return static_cast<uint32_t>(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(widget), "zorbelu-index"))) - 1;
}

Window* WindowOf(GtkWidget* widget) {
    return static_cast<Window*>(g_object_get_data(G_OBJECT(widget), "zorbelu-window"));
}

void Tag(GtkWidget* widget, Window* window, uint32_t index) {
    g_object_set_data(G_OBJECT(widget), "zorbelu-window", window);
    g_object_set_data(G_OBJECT(widget), "zorbelu-index", GUINT_TO_POINTER(index + 1));
}

// The control `widget` is part of (the nearest tagged ancestor: a combo
// box's own button belongs to the combo box): its window and index.
bool ControlOf(GtkWidget* widget, Window** window, int32_t* index) {
    for (GtkWidget* w = widget; w != nullptr; w = gtk_widget_get_parent(w)) {
        if (g_object_get_data(G_OBJECT(w), "zorbelu-index") == nullptr) continue;
        *window = WindowOf(w);
        *index = static_cast<int32_t>(IndexOf(w));
        return *window != nullptr;
    }
    return false;
}

void OnClicked(GtkButton* button, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(button));
    if (w != nullptr && w->updating == 0) w->events->clicked(w->events->context, IndexOf(GTK_WIDGET(button)));
}

void OnToggled(GtkToggleButton* button, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(button));
    if (w != nullptr && w->updating == 0)
        w->events->toggled(w->events->context, IndexOf(GTK_WIDGET(button)),
                           gtk_toggle_button_get_active(button) ? 1 : 0);
}

void OnComboChanged(GtkComboBox* combo, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(combo));
    if (w == nullptr || w->updating != 0) return;
    const uint32_t index = IndexOf(GTK_WIDGET(combo));
    w->items[index].selected = gtk_combo_box_get_active(combo);
    w->events->selected(w->events->context, index, w->items[index].selected);
}

void OnSwitchPage(GtkNotebook* notebook, GtkWidget*, guint page, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(notebook));
    if (w == nullptr || w->updating != 0) return;
    const uint32_t index = IndexOf(GTK_WIDGET(notebook));
    w->items[index].selected = static_cast<int>(page);
    w->events->selected(w->events->context, index, static_cast<int32_t>(page));
}

void OnRowSelected(GtkListBox* list, GtkListBoxRow* row, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(list));
    if (w == nullptr || w->updating != 0) return;
    const uint32_t index = IndexOf(GTK_WIDGET(list));
    w->items[index].selected = row != nullptr ? gtk_list_box_row_get_index(row) : -1;
    w->events->selected(w->events->context, index, w->items[index].selected);
}

void OnEntryChanged(GtkEditable* editable, gpointer) {
    Window* w = WindowOf(GTK_WIDGET(editable));
    if (w == nullptr || w->updating != 0) return;
    w->events->edited(w->events->context, IndexOf(GTK_WIDGET(editable)), gtk_entry_get_text(GTK_ENTRY(editable)));
}

void OnBufferChanged(GtkTextBuffer* buffer, gpointer data) {
    auto* view = static_cast<GtkWidget*>(data);
    Window* w = WindowOf(view);
    if (w == nullptr || w->updating != 0) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    NoThrow(0, [&] {
        const std::string windows = ToWindowsLines(text);
        w->events->edited(w->events->context, IndexOf(view), windows.c_str());
        return 0;
    });
    g_free(text);
}

gboolean OnDelete(GtkWidget* widget, GdkEvent*, gpointer) {
    Window* w = WindowOf(widget);
    if (w != nullptr) w->events->closeRequested(w->events->context);
    return TRUE;  // the runtime decides; the window stays until destroyed
}

// Enter and Escape go to the window whose control has the focus (a page's
// or the dialog's), or to the dialog with -1, before GTK sees them, as a
// dialog manager sees them before the control does. The runtime may end or
// destroy the dialog in the call; GTK holds the toplevel for the length of
// the event, and nothing of ours is touched afterwards.
gboolean OnKeyPress(GtkWidget* toplevel, GdkEventKey* event, gpointer) {
    uint32_t key = 0;
    switch (event->keyval) {
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
        case GDK_KEY_ISO_Enter:
            key = ZORBELU_KEY_RETURN;
            break;
        case GDK_KEY_Escape:
            key = ZORBELU_KEY_ESCAPE;
            break;
        default:
            return FALSE;
    }
    Window* target = WindowOf(toplevel);
    if (target == nullptr || target->ended) return FALSE;
    int32_t index = -1;
    Window* owner = nullptr;
    int32_t found = -1;
    if (ControlOf(gtk_window_get_focus(GTK_WINDOW(toplevel)), &owner, &found)) {
        target = owner;
        index = found;
    }
    const ZorbeluUiEvents* events = target->events;
    if (events == nullptr || events->key == nullptr) return FALSE;
    return events->key(events->context, key, index) == 1 ? TRUE : FALSE;
}

GdkPixbuf* PixbufFromPng(const uint8_t* data, uint32_t size) {
    if (data == nullptr || size == 0) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
    if (loader == nullptr) return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, data, size, nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf != nullptr) g_object_ref(pixbuf);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return pixbuf;
}

void Build(Window* window, uint32_t index, const ZorbeluUiControl& c) {
    Item& item = window->items[index];
    item.kind = c.kind;
    item.style = c.style;
    GtkWidget* outer = nullptr;
    GtkWidget* inner = nullptr;
    switch (c.kind) {
        case ZORBELU_CTL_STATIC:
            inner = outer = gtk_label_new(nullptr);
            gtk_label_set_xalign(GTK_LABEL(inner), (c.style & ZORBELU_CS_RIGHT) != 0 ? 1.0f : 0.0f);
            gtk_label_set_yalign(GTK_LABEL(inner), 0.0f);
            if ((c.style & ZORBELU_CS_MULTILINE) != 0) {
                gtk_label_set_line_wrap(GTK_LABEL(inner), TRUE);
                gtk_label_set_max_width_chars(GTK_LABEL(inner), 1);
            }
            break;
        case ZORBELU_CTL_EDIT:
            if ((c.style & ZORBELU_CS_MULTILINE) != 0) {
                inner = gtk_text_view_new();
                gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(inner), GTK_WRAP_WORD_CHAR);
                gtk_text_view_set_left_margin(GTK_TEXT_VIEW(inner), 3);
                gtk_text_view_set_right_margin(GTK_TEXT_VIEW(inner), 3);
                gtk_text_view_set_editable(GTK_TEXT_VIEW(inner), (c.style & ZORBELU_CS_READONLY) == 0);
                gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(inner), (c.style & ZORBELU_CS_READONLY) == 0);
                outer = gtk_scrolled_window_new(nullptr, nullptr);
                gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(outer), GTK_POLICY_NEVER,
                                               (c.style & ZORBELU_CS_VSCROLL) != 0 ? GTK_POLICY_AUTOMATIC
                                                                                   : GTK_POLICY_EXTERNAL);
                gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer), GTK_SHADOW_IN);
                gtk_container_add(GTK_CONTAINER(outer), inner);
                g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(inner)), "changed",
                                 G_CALLBACK(OnBufferChanged), inner);
            } else {
                inner = outer = gtk_entry_new();
                gtk_entry_set_width_chars(GTK_ENTRY(inner), 1);
                gtk_editable_set_editable(GTK_EDITABLE(inner), (c.style & ZORBELU_CS_READONLY) == 0);
                g_signal_connect(inner, "changed", G_CALLBACK(OnEntryChanged), nullptr);
            }
            break;
        case ZORBELU_CTL_BUTTON:
            inner = outer = gtk_button_new_with_mnemonic("");
            g_signal_connect(inner, "clicked", G_CALLBACK(OnClicked), nullptr);
            // The toplevel has one default button, the dialog's; a page's
            // would take it from the dialog.
            if ((c.style & ZORBELU_CS_DEFAULT) != 0 && !window->IsPage()) {
                gtk_widget_set_can_default(inner, TRUE);
                gtk_window_set_default(GTK_WINDOW(window->window), inner);
            }
            break;
        case ZORBELU_CTL_CHECKBOX:
            inner = outer = gtk_check_button_new_with_mnemonic("");
            g_signal_connect(inner, "toggled", G_CALLBACK(OnToggled), nullptr);
            break;
        case ZORBELU_CTL_GROUPBOX:
            inner = outer = gtk_frame_new(nullptr);
            gtk_frame_set_label_align(GTK_FRAME(inner), 0.02f, 0.5f);
            break;
        case ZORBELU_CTL_FRAME:
            inner = outer = c.height <= 2 ? gtk_separator_new(GTK_ORIENTATION_HORIZONTAL) : gtk_frame_new(nullptr);
            break;
        case ZORBELU_CTL_COMBOBOX:
            inner = outer = gtk_combo_box_text_new();
            g_signal_connect(inner, "changed", G_CALLBACK(OnComboChanged), nullptr);
            break;
        case ZORBELU_CTL_PICTURE:
            inner = outer = gtk_image_new();
            gtk_widget_set_halign(inner, GTK_ALIGN_START);
            gtk_widget_set_valign(inner, GTK_ALIGN_START);
            break;
        case ZORBELU_CTL_TAB:
            inner = outer = gtk_notebook_new();
            // Tabs share the strip's width and shorten their labels (the
            // whole text in a tooltip) rather than scroll some of them out
            // of sight.
            gtk_notebook_set_scrollable(GTK_NOTEBOOK(inner), FALSE);
            g_signal_connect(inner, "switch-page", G_CALLBACK(OnSwitchPage), nullptr);
            break;
        case ZORBELU_CTL_LIST:
        default:
            inner = gtk_list_box_new();
            outer = gtk_scrolled_window_new(nullptr, nullptr);
            gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(outer), GTK_SHADOW_IN);
            gtk_container_add(GTK_CONTAINER(outer), inner);
            g_signal_connect(inner, "row-selected", G_CALLBACK(OnRowSelected), nullptr);
            break;
    }
    Tag(inner, window, index);
    if (outer != inner) Tag(outer, window, index);
    item.outer = outer;
    item.inner = inner;
    const PixelRect r = zorbelu::platform::ToFontPixels({c.x, c.y, c.width, c.height}, window->font);
    item.x = r.x;
    item.y = r.y;
    gtk_fixed_put(GTK_FIXED(window->fixed), outer, r.x, r.y);
}

void Apply(Window* window, uint32_t index, const ZorbeluUiControl& c) {
    Item& item = window->items[index];
    const Quiet quiet(window);
    const std::string text = c.text != nullptr ? c.text : "";
    const bool textChanged = text != item.text;
    item.text = text;
    switch (item.kind) {
        case ZORBELU_CTL_STATIC:
            gtk_label_set_text_with_mnemonic(GTK_LABEL(item.inner), Mnemonic(text.c_str()).c_str());
            break;
        case ZORBELU_CTL_EDIT:
            if (!textChanged) break;
            if (GTK_IS_TEXT_VIEW(item.inner)) {
                const std::string lines = ToGtkLines(text);
                gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(item.inner)), lines.c_str(), -1);
            } else {
                gtk_entry_set_text(GTK_ENTRY(item.inner), text.c_str());
            }
            break;
        case ZORBELU_CTL_BUTTON:
            gtk_button_set_label(GTK_BUTTON(item.inner), Mnemonic(text.c_str()).c_str());
            gtk_button_set_use_underline(GTK_BUTTON(item.inner), TRUE);
            break;
        case ZORBELU_CTL_CHECKBOX:
            gtk_button_set_label(GTK_BUTTON(item.inner), Mnemonic(text.c_str()).c_str());
            gtk_button_set_use_underline(GTK_BUTTON(item.inner), TRUE);
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(item.inner), c.checked != 0);
            break;
        case ZORBELU_CTL_GROUPBOX:
            gtk_frame_set_label(GTK_FRAME(item.inner), text.empty() ? nullptr : Mnemonic(text.c_str()).c_str());
            if (GtkWidget* label = gtk_frame_get_label_widget(GTK_FRAME(item.inner)); label != nullptr)
                gtk_label_set_use_underline(GTK_LABEL(label), TRUE);
            break;
        case ZORBELU_CTL_PICTURE:
            if (c.image != item.image || c.imageSize != item.imageSize) {
                item.image = c.image;
                item.imageSize = c.imageSize;
                GdkPixbuf* pixbuf = PixbufFromPng(c.image, c.imageSize);
                gtk_image_set_from_pixbuf(GTK_IMAGE(item.inner), pixbuf);
                if (pixbuf != nullptr) g_object_unref(pixbuf);
            }
            break;
        default:
            break;
    }
    // Item lists: rebuilt when they differ.
    std::vector<std::string> items;
    for (uint32_t i = 0; i < c.itemCount && c.items != nullptr; ++i) items.emplace_back(c.items[i] ? c.items[i] : "");
    if (items != item.items) {
        item.items = items;
        if (item.kind == ZORBELU_CTL_COMBOBOX) {
            gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(item.inner));
            for (const std::string& s : items) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(item.inner), s.c_str());
        } else if (item.kind == ZORBELU_CTL_TAB) {
            while (gtk_notebook_get_n_pages(GTK_NOTEBOOK(item.inner)) > 0)
                gtk_notebook_remove_page(GTK_NOTEBOOK(item.inner), -1);
            for (const std::string& s : items) {
                GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
                gtk_widget_show(page);
                GtkWidget* label = gtk_label_new_with_mnemonic(Mnemonic(s.c_str()).c_str());
                gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_END);
                gtk_widget_set_tooltip_text(label, gtk_label_get_text(GTK_LABEL(label)));
                gtk_notebook_append_page(GTK_NOTEBOOK(item.inner), page, label);
                gtk_container_child_set(GTK_CONTAINER(item.inner), page, "tab-expand", TRUE, "tab-fill", TRUE,
                                        nullptr);
            }
        } else if (item.kind == ZORBELU_CTL_LIST) {
            GList* children = gtk_container_get_children(GTK_CONTAINER(item.inner));
            for (GList* l = children; l != nullptr; l = l->next) gtk_widget_destroy(GTK_WIDGET(l->data));
            g_list_free(children);
            for (const std::string& s : items) {
                GtkWidget* label = gtk_label_new(s.c_str());
                gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
                gtk_widget_show(label);
                gtk_list_box_insert(GTK_LIST_BOX(item.inner), label, -1);
            }
        }
    }
    if (item.kind == ZORBELU_CTL_COMBOBOX) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(item.inner), c.selected);
    } else if (item.kind == ZORBELU_CTL_TAB && c.selected >= 0) {
        gtk_notebook_set_current_page(GTK_NOTEBOOK(item.inner), c.selected);
    } else if (item.kind == ZORBELU_CTL_LIST) {
        GtkListBoxRow* row =
            c.selected >= 0 ? gtk_list_box_get_row_at_index(GTK_LIST_BOX(item.inner), c.selected) : nullptr;
        gtk_list_box_select_row(GTK_LIST_BOX(item.inner), row);
    }
    item.selected = c.selected;

    const PixelRect r = zorbelu::platform::ToFontPixels({c.x, c.y, c.width, c.height}, window->font);
    if (r.x != item.x || r.y != item.y) gtk_fixed_move(GTK_FIXED(window->fixed), item.outer, r.x, r.y);
    item.x = r.x;
    item.y = r.y;
    item.width = r.width;
    item.height = r.height;
    gtk_widget_set_size_request(item.outer, r.width, r.height);
    gtk_widget_set_sensitive(item.outer, c.enabled != 0);
    gtk_widget_set_visible(item.outer, c.visible != 0);
    if (item.outer != item.inner) gtk_widget_show(item.inner);
}

uint32_t Start() {
    if (!gtk_init_check(nullptr, nullptr)) return 1004;
    return 1;
}

std::string StyleClass(uint32_t points) { return "zorbelu-pt" + std::to_string(points != 0 ? points : 9); }

// The base unit of the font `styled` draws its text in, measured with Pango
// at the screen's resolution as it is now.
BaseUnits MeasureFont(GtkWidget* styled) {
    PangoLayout* layout = gtk_widget_create_pango_layout(styled, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return zorbelu::platform::BaseUnitsOfFont(width, height);
}

// A client area's size request for a size in the runtime's pixels.
void RequestClientSize(const Window* window, int width, int height) {
    gtk_widget_set_size_request(window->fixed, width > 0 ? zorbelu::platform::ToFontPixelsX(width, window->font) : 0,
                                height > 0 ? zorbelu::platform::ToFontPixelsY(height, window->font) : 0);
}

void BuildControls(Window* window, const ZorbeluUiWindowSpec* layout) {
    window->items.resize(layout->controlCount);
    for (uint32_t i = 0; i < layout->controlCount; ++i) {
        Build(window, i, layout->controls[i]);
        Apply(window, i, layout->controls[i]);
    }
}

// A page: a client area at (0,0) of the owner's, hidden until showWindow.
// Put after the owner's controls, it is drawn above them.
std::unique_ptr<Window> CreatePage(const ZorbeluUiWindowSpec* layout, Window* owner, const ZorbeluUiEvents* events) {
    auto page = std::make_unique<Window>();
    page->events = events;
    page->owner = owner;
    page->window = owner->window;
    page->font = owner->font;
    InstallStyle(layout->fontPoints);
    page->fixed = NewClientArea(0, 0);
    RequestClientSize(page.get(), layout->width, layout->height);
    g_object_ref_sink(page->fixed);
    gtk_style_context_add_class(gtk_widget_get_style_context(page->fixed), StyleClass(layout->fontPoints).c_str());
    gtk_fixed_put(GTK_FIXED(owner->fixed), page->fixed, 0, 0);
    BuildControls(page.get(), layout);
    return page;
}

std::unique_ptr<Window> CreateTopLevel(const ZorbeluUiWindowSpec* layout, Window* owner,
                                       const ZorbeluUiEvents* events) {
    auto window = std::make_unique<Window>();
    window->events = events;
    window->window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(window->window);
    InstallStyle(layout->fontPoints);
    gtk_style_context_add_class(gtk_widget_get_style_context(window->window), StyleClass(layout->fontPoints).c_str());
    gtk_window_set_title(GTK_WINDOW(window->window), layout->caption != nullptr ? layout->caption : "");
    gtk_window_set_resizable(GTK_WINDOW(window->window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window->window), GDK_WINDOW_TYPE_HINT_DIALOG);
    if (owner != nullptr) {
        gtk_window_set_transient_for(GTK_WINDOW(window->window), GTK_WINDOW(owner->window));
        gtk_window_set_position(GTK_WINDOW(window->window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(window->window), GTK_WIN_POS_CENTER);
    }
    window->font = MeasureFont(window->window);
    window->fixed = NewClientArea(0, 0);
    RequestClientSize(window.get(), layout->width, layout->height);
    gtk_container_add(GTK_CONTAINER(window->window), window->fixed);
    gtk_widget_show(window->fixed);
    g_object_set_data(G_OBJECT(window->window), "zorbelu-window", window.get());
    g_signal_connect(window->window, "delete-event", G_CALLBACK(OnDelete), nullptr);
    g_signal_connect(window->window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    BuildControls(window.get(), layout);
    return window;
}

void* CreateWindow(const ZorbeluUiWindowSpec* layout, void* owner, const ZorbeluUiEvents* events) {
    if (layout == nullptr || events == nullptr) return nullptr;
    auto* ownerWindow = static_cast<Window*>(owner);
    return NoThrow<void*>(nullptr, [&]() -> void* {
        if ((layout->style & ZORBELU_DS_CHILD) != 0 && ownerWindow != nullptr)
            return CreatePage(layout, ownerWindow, events).release();
        return CreateTopLevel(layout, ownerWindow, events).release();
    });
}

void DestroyWindow(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return;
    const bool page = window->IsPage();
    delete window;
    // A page goes while the runtime tears its owner down: nothing may run
    // in between.
    if (!page)
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void UpdateControl(void* handle, uint32_t index, const ZorbeluUiControl* control) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || control == nullptr || index >= window->items.size()) return;
    NoThrow(0, [&] {
        Apply(window, index, *control);
        return 0;
    });
}

void SetCaption(void* handle, const char* caption) {
    auto* window = static_cast<Window*>(handle);
    if (window != nullptr && !window->IsPage())
        gtk_window_set_title(GTK_WINDOW(window->window), caption != nullptr ? caption : "");
}

gboolean Started(gpointer data) {
    auto* window = static_cast<Window*>(data);
    window->startedSource = 0;
    if (!window->ended) window->events->modalStarted(window->events->context);
    return G_SOURCE_REMOVE;
}

void RunModal(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || window->IsPage() || window->ended) return;
    // A control the runtime gave the focus before the window was shown keeps
    // it; otherwise the default button has it, as in a Windows dialog (the
    // first read-only field would otherwise show a cursor).
    const bool focusChosen = gtk_window_get_focus(GTK_WINDOW(window->window)) != nullptr;
    gtk_window_set_modal(GTK_WINDOW(window->window), TRUE);
    gtk_widget_show(window->window);
    if (GtkWidget* button = gtk_window_get_default_widget(GTK_WINDOW(window->window));
        button != nullptr && !focusChosen)
        gtk_widget_grab_focus(button);
    gtk_window_present(GTK_WINDOW(window->window));
    // Lay the window out before the runtime looks at it: the idle source
    // runs after GTK's resize and redraw sources.
    window->loop = g_main_loop_new(nullptr, FALSE);
    window->startedSource = g_idle_add_full(G_PRIORITY_LOW, Started, window, nullptr);
    if (!window->ended) {
        bool destroyed = false;
        window->destroyedWhileModal = &destroyed;
        GMainLoop* loop = g_main_loop_ref(window->loop);
        g_main_loop_run(loop);
        g_main_loop_unref(loop);
        if (destroyed) return;
        window->destroyedWhileModal = nullptr;
    }
    gtk_widget_hide(window->window);
}

void EndModal(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || window->IsPage()) return;
    window->ended = true;
    if (window->loop != nullptr && g_main_loop_is_running(window->loop)) g_main_loop_quit(window->loop);
}

void PlaceWindow(void* handle, int32_t x, int32_t y, int32_t width, int32_t height) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return;
    // The client area asks for exactly this size, and a window that is not
    // resizable is always as large as its content asks: it shrinks too.
    RequestClientSize(window, width, height);
    if (window->IsPage())
        gtk_fixed_move(GTK_FIXED(window->owner->fixed), window->fixed,
                       zorbelu::platform::ToFontPixelsX(x, window->font),
                       zorbelu::platform::ToFontPixelsY(y, window->font));
}

void ShowWindow(void* handle, int32_t visible) {
    auto* window = static_cast<Window*>(handle);
    if (window != nullptr && window->IsPage()) gtk_widget_set_visible(window->fixed, visible != 0);
}

int32_t GetFocus(void* handle) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr) return -1;
    Window* owner = nullptr;
    int32_t index = -1;
    if (!ControlOf(gtk_window_get_focus(GTK_WINDOW(window->window)), &owner, &index) || owner != window) return -1;
    return index;
}

void SetFocus(void* handle, uint32_t index) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || index >= window->items.size()) return;
    gtk_widget_grab_focus(window->items[index].inner);
}

// The toplevel GtkWindow of an owner, which may be a page.
GtkWindow* ParentOf(void* owner) {
    return owner != nullptr ? GTK_WINDOW(static_cast<Window*>(owner)->window) : nullptr;
}

int32_t ShowMessageBox(void* owner, const char* text, const char* caption, uint32_t type,
                       const ZorbeluUiButton* buttons, uint32_t buttonCount) {
    if (buttons == nullptr || buttonCount == 0) return 0;
    GtkMessageType icon = GTK_MESSAGE_OTHER;
    switch (type & kMbIconMask) {
        case 0x10: icon = GTK_MESSAGE_ERROR; break;
        case 0x20: icon = GTK_MESSAGE_QUESTION; break;
        case 0x30: icon = GTK_MESSAGE_WARNING; break;
        case 0x40: icon = GTK_MESSAGE_INFO; break;
        default: break;
    }
    GtkWidget* box = gtk_message_dialog_new(ParentOf(owner), GTK_DIALOG_MODAL, icon, GTK_BUTTONS_NONE, "%s",
                                            ToGtkLines(text != nullptr ? text : "").c_str());
    gtk_window_set_title(GTK_WINDOW(box), caption != nullptr ? caption : "");
    for (uint32_t i = 0; i < buttonCount; ++i)
        gtk_dialog_add_button(GTK_DIALOG(box), Mnemonic(buttons[i].label).c_str(), buttons[i].id);
    const gint response = gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    // Closed without a button: the last one (Cancel or No where there is one).
    return response > 0 ? response : buttons[buttonCount - 1].id;
}

int32_t MessageBox(void* owner, const char* text, const char* caption, uint32_t type, const ZorbeluUiButton* buttons,
                   uint32_t buttonCount) {
    return NoThrow(0, [&] { return ShowMessageBox(owner, text, caption, type, buttons, buttonCount); });
}

// "*.tst;*.tsr" -> GTK patterns; "*.*" means every file, as on Windows.
std::vector<std::string> SplitPatterns(const char* joined) {
    std::vector<std::string> out;
    const std::string patterns = joined != nullptr ? joined : "";
    size_t start = 0;
    while (start <= patterns.size()) {
        const size_t semi = patterns.find(';', start);
        const std::string one = patterns.substr(start, semi == std::string::npos ? std::string::npos : semi - start);
        if (!one.empty()) out.push_back(one == "*.*" ? "*" : one);
        if (semi == std::string::npos) break;
        start = semi + 1;
    }
    return out;
}

struct DestroyWidget {
    void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};

int32_t ChooseFile(void* owner, const ZorbeluUiFileRequest* request, char* path, uint32_t size) {
    const bool save = request->save != 0;
    const std::string cancel = Mnemonic(request->cancelLabel), accept = Mnemonic(request->acceptLabel);
    const std::unique_ptr<GtkWidget, DestroyWidget> dialog(gtk_file_chooser_dialog_new(
        request->title != nullptr ? request->title : "", ParentOf(owner),
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, cancel.c_str(), GTK_RESPONSE_CANCEL,
        accept.c_str(), GTK_RESPONSE_ACCEPT, nullptr));
    GtkWidget* chooser = dialog.get();
    // The runtime asks before a file is replaced, once the default extension
    // has made the final name.
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), FALSE);
    if (request->initialName != nullptr && *request->initialName != '\0') {
        if (save) {
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), request->initialName);
        } else {
            gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(chooser), request->initialName);
        }
    }
    for (uint32_t i = 0; i < request->filterCount; ++i) {
        const std::vector<std::string> patterns = SplitPatterns(request->filters[i].patterns);
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, request->filters[i].description);
        for (const std::string& one : patterns) gtk_file_filter_add_pattern(filter, one.c_str());
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    }
    int32_t result = 0;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        if (chosen != nullptr && std::strlen(chosen) + 1 <= size) {
            std::memcpy(path, chosen, std::strlen(chosen) + 1);
            result = 1;
        } else {
            result = -1;
        }
        g_free(chosen);
    }
    return result;
}

int32_t FileDialog(void* owner, const ZorbeluUiFileRequest* request, char* path, uint32_t size) {
    if (request == nullptr || path == nullptr || size == 0) return -1;
    const int32_t result = NoThrow(-1, [&] { return ChooseFile(owner, request, path, size); });
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    return result;
}

int32_t NaturalSize(void* handle, uint32_t index, int32_t* width, int32_t* height) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || index >= window->items.size() || width == nullptr || height == nullptr) return 0;
    const Item& item = window->items[index];
    GtkWidget* widget = item.outer;
    gint minimum = 0, natural = 0;
    gtk_widget_get_preferred_width(widget, &minimum, &natural);
    // A wrapping label needs only its longest word; anything else its whole
    // text on one line.
    const bool wraps = item.kind == ZORBELU_CTL_STATIC && (item.style & ZORBELU_CS_MULTILINE) != 0;
    *width = wraps ? minimum : natural;
    gint minHeight = 0, natHeight = 0;
    gtk_widget_get_preferred_height_for_width(widget, item.width > *width ? item.width : *width, &minHeight,
                                              &natHeight);
    *height = natHeight;
    return 1;
}

// A page's picture is its client area alone, while it is shown.
int32_t Snapshot(void* handle, const char* pngPath) {
    auto* window = static_cast<Window*>(handle);
    if (window == nullptr || pngPath == nullptr) return 0;
    GtkWidget* widget = window->IsPage() ? window->fixed : window->window;
    if (!gtk_widget_get_realized(widget) || (window->IsPage() && !gtk_widget_is_drawable(widget))) return 0;
    // The runtime may have changed the window just before (shown another
    // page): lay it out now, as GTK would before its next frame; a widget
    // that waits for its allocation draws nothing. A window that waits for
    // the window system to give it a new size has no picture yet.
    gtk_container_check_resize(GTK_CONTAINER(window->window));
    gint width = 0, height = 0;
    gtk_widget_get_size_request(window->fixed, &width, &height);
    if (gtk_widget_get_allocated_width(window->fixed) != width ||
        gtk_widget_get_allocated_height(window->fixed) != height)
        return 0;
    const int w = gtk_widget_get_allocated_width(widget);
    const int h = gtk_widget_get_allocated_height(widget);
    if (w <= 0 || h <= 0) return 0;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    gtk_widget_draw(widget, cr);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(surface, pngPath) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    return ok ? 1 : 0;
}

int32_t ScreenRect(void* handle, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    auto* window = static_cast<Window*>(handle);
    // The runtime asks for top-level windows only.
    if (window == nullptr || window->IsPage() || !gtk_widget_get_realized(window->window)) return 0;
    gint left = 0, top = 0, w = 0, h = 0;
    gtk_window_get_position(GTK_WINDOW(window->window), &left, &top);
    gtk_window_get_size(GTK_WINDOW(window->window), &w, &h);
    // The size in the runtime's pixels (it shrinks a window by a number of
    // them), centred where the real window is centred (the certificate
    // viewer centres itself over its owner).
    *width = zorbelu::platform::FromFontPixelsX(w, window->font);
    *height = zorbelu::platform::FromFontPixelsY(h, window->font);
    *x = left + (w - *width) / 2;
    *y = top + (h - *height) / 2;
    return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const ZorbeluUiBackend zorbelu_ui_backend = {
    ZORBELU_UI_BACKEND_VERSION, "gtk", Start, CreateWindow, DestroyWindow, UpdateControl, SetCaption, RunModal,
    EndModal, MessageBox, FileDialog, NaturalSize, Snapshot, ScreenRect, PlaceWindow, ShowWindow, GetFocus, SetFocus};
