// The desktop dialogs: GTK 3 dialogs owned by a hidden main window.
#include "platform/linux/ui/gtk/gtk_user_interface.h"

#include "platform/linux/ui/gtk/gtk_message_box.h"

namespace pellatrix::linuxos::gtk {

std::unique_ptr<GtkUserInterface> GtkUserInterface::open(DriveMapping drives) {
    // Names the windows' class after the program, as its desktop entry expects.
    g_set_prgname("pellatrix");
    if (!gtk_init_check(nullptr, nullptr))
        return nullptr;
    gtk_window_set_default_icon_name("pellatrix");
    return std::unique_ptr<GtkUserInterface>(new GtkUserInterface(std::move(drives)));
}

GtkUserInterface::GtkUserInterface(DriveMapping drives) : drives_(std::move(drives)) {
    // The main window is never shown: it only owns the dialogs and the progress window.
    owner_.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(owner_.window(), "Pellatrix");
}

int GtkUserInterface::messageBox(const Text& text, const Text& title, int style) {
    return runMessageBox(owner_.window(), text, title, style);
}

std::unique_ptr<GtkCopyProgress> GtkUserInterface::beginCopy() {
    return std::make_unique<GtkCopyProgress>(owner_.window(), drives_);
}

void GtkUserInterface::processMessages() {
    pumpPendingEvents();
}

void GtkUserInterface::close() {
    owner_.reset();
    pumpPendingEvents();
}

} // namespace pellatrix::linuxos::gtk
