// zorbelu-cert-viewer: shows a certificate or a CRL (DER or PEM) as text in
// a window. The library starts it on the temporary file of the token
// properties dialog's buttons: `zorbelu-cert-viewer --certificate FILE` or
// `--crl FILE`; `--text` prints the text instead of showing it.
//
// When ZORBELU_VIEWER_READY_FD names a descriptor, one byte is written to it
// once the window is mapped (and it is closed), so that the library stops
// waiting for the window.
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "x509/decoding.h"

namespace {

using zorbelu::BioPtr;
using zorbelu::X509CrlPtr;
using zorbelu::X509Ptr;
namespace x509 = zorbelu::x509;

enum class Kind { Any, Certificate, Crl };

std::string CommonName(const X509_NAME* name) {
    char buffer[256] = {};
    if (name == nullptr ||
        X509_NAME_get_text_by_NID(const_cast<X509_NAME*>(name), NID_commonName, buffer, sizeof buffer) < 0)
        return std::string();
    return buffer;
}

// The printed form and a title; false when the bytes are neither.
bool Describe(const std::string& bytes, Kind kind, std::string* text, std::string* title) {
    const auto* input = reinterpret_cast<const uint8_t*>(bytes.data());
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out) return false;
    const unsigned long flags = XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB;
    bool done = false;
    if (kind != Kind::Crl) {
        const uint8_t* p = input;
        X509Ptr cert = x509::DecodeDerCertificateAt(&p, bytes.size());
        if (!cert) cert = x509::DecodePemCertificate(input, bytes.size());
        if (cert) {
            done = X509_print_ex(out.get(), cert.get(), flags, 0) == 1;
            *title = "Certificate: " + CommonName(X509_get_subject_name(cert.get()));
        }
    }
    if (!done && kind != Kind::Certificate) {
        const uint8_t* p = input;
        X509CrlPtr crl = x509::DecodeDerCrlAt(&p, bytes.size());
        if (!crl) crl = x509::DecodePemCrl(input, bytes.size());
        if (crl) {
            done = X509_CRL_print_ex(out.get(), crl.get(), flags) == 1;
            *title = "Certificate Revocation List: " + CommonName(X509_CRL_get_issuer(crl.get()));
        }
    }
    if (!done) return false;
    char* data = nullptr;
    const long length = BIO_get_mem_data(out.get(), &data);
    text->assign(data, static_cast<size_t>(length));
    return true;
}

int readyFd = -1;

void SignalReady() {
    if (readyFd < 0) return;
    const char byte = 1;
    (void)!write(readyFd, &byte, 1);
    close(readyFd);
    readyFd = -1;
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer) {
    SignalReady();
    return FALSE;
}

constexpr int kViewerWidth = 680;
constexpr int kViewerHeight = 560;

// The rectangle "x,y,width,height" of the window that opened the viewer, as
// the library passes it; the viewer is centred over it where the window
// system lets a program place its windows, else on the screen.
void PlaceWindow(GtkWindow* window) {
    int x = 0, y = 0, width = 0, height = 0;
    const char* owner = std::getenv("ZORBELU_VIEWER_CENTER");
    if (owner != nullptr && std::sscanf(owner, "%d,%d,%d,%d", &x, &y, &width, &height) == 4 && width > 0 &&
        height > 0) {
        gtk_window_move(window, x + (width - kViewerWidth) / 2, y + (height - kViewerHeight) / 2);
        return;
    }
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
}

void Show(const std::string& title, const std::string& text) {
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(window), kViewerWidth, kViewerHeight);
    PlaceWindow(GTK_WINDOW(window));
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 4);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(),
                             static_cast<gint>(text.size()));
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    gtk_box_pack_start(GTK_BOX(box), scrolled, TRUE, TRUE, 0);
    GtkWidget* close = gtk_button_new_with_mnemonic("_Close");
    g_signal_connect_swapped(close, "clicked", G_CALLBACK(gtk_widget_destroy), window);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_box_pack_end(GTK_BOX(row), close, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(close);
    gtk_main();
}

int Usage() {
    std::fputs("usage: zorbelu-cert-viewer [--certificate | --crl] [--text] FILE\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (const char* fd = std::getenv("ZORBELU_VIEWER_READY_FD"); fd != nullptr && *fd != '\0') {
        char* end = nullptr;
        const long value = std::strtol(fd, &end, 10);
        if (end != nullptr && *end == '\0' && value >= 0 && value < 65536) readyFd = static_cast<int>(value);
        unsetenv("ZORBELU_VIEWER_READY_FD");
    }
    Kind kind = Kind::Any;
    bool textOnly = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--certificate") == 0) {
            kind = Kind::Certificate;
        } else if (std::strcmp(argv[i], "--crl") == 0) {
            kind = Kind::Crl;
        } else if (std::strcmp(argv[i], "--text") == 0) {
            textOnly = true;
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            SignalReady();
            return Usage();
        }
    }
    if (path == nullptr) {
        SignalReady();
        return Usage();
    }
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text, title;
    if (!in.good() && !in.eof()) {
        std::fprintf(stderr, "zorbelu-cert-viewer: cannot read %s\n", path);
        SignalReady();
        return 1;
    }
    if (!Describe(bytes, kind, &text, &title)) {
        std::fprintf(stderr, "zorbelu-cert-viewer: %s is no certificate or CRL\n", path);
        SignalReady();
        return 1;
    }
    if (textOnly) {
        SignalReady();
        std::printf("%s\n%s", title.c_str(), text.c_str());
        return 0;
    }
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "zorbelu-cert-viewer: no display\n");
        SignalReady();
        return 1;
    }
    Show(title, text);
    SignalReady();
    return 0;
}
