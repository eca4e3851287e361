// Small helpers shared by the GTK dialogs: widget ownership, event pumping, display text.
#pragma once

#include "platform/platform_services.h"

#include <gtk/gtk.h>

#include <string>

namespace pellatrix::linuxos::gtk {

// Owns a top-level widget (window or dialog) and destroys it when it goes out of scope. A
// weak pointer forgets a window that was destroyed elsewhere, so it is never destroyed twice.
class OwnedWindow {
  public:
    OwnedWindow() = default;
    explicit OwnedWindow(GtkWidget* window) { reset(window); }
    OwnedWindow(const OwnedWindow&) = delete;
    OwnedWindow& operator=(const OwnedWindow&) = delete;
    ~OwnedWindow() { reset(); }

    GtkWidget* get() const { return window_; }
    GtkWindow* window() const { return GTK_WINDOW(window_); }
    explicit operator bool() const { return window_ != nullptr; }

    void reset(GtkWidget* window = nullptr) {
        if (window_) {
            g_object_remove_weak_pointer(G_OBJECT(window_), weakSlot());
            gtk_widget_destroy(window_);
        }
        window_ = window;
        if (window_)
            g_object_add_weak_pointer(G_OBJECT(window_), weakSlot());
    }

  private:
    gpointer* weakSlot() { return reinterpret_cast<gpointer*>(&window_); }

    GtkWidget* window_ = nullptr;
};

// Handles the events already pending, then returns. Bounded, so that a stream of redraws
// cannot hold the caller.
void pumpPendingEvents();

// Puts the named theme icon beside a message dialog's text. GTK 3 message dialogs draw no icon
// for their type unless given an image.
void setDialogIcon(GtkWidget* messageDialog, const char* iconName);

// Text for a label: UTF-8, with any byte that is not valid UTF-8 shown as U+FFFD.
std::string displayText(const Text& text);

} // namespace pellatrix::linuxos::gtk
