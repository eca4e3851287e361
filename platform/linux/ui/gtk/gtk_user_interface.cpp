// The desktop form of the Linux user interface: GTK 3 dialogs owned by a hidden main window.
#include "platform/linux/ui/gtk/gtk_user_interface.h"

#include "platform/linux/ui/gtk/gtk_copy_progress.h"
#include "platform/linux/ui/gtk/gtk_message_box.h"
#include "platform/linux/ui/gtk/gtk_support.h"

#include <cstdlib>

namespace pellatrix::linuxos {
namespace {

class GtkUserInterface : public UserInterface {
  public:
    explicit GtkUserInterface(DriveMapping drives) : drives_(std::move(drives)) {
        // The main window is never shown: it only owns the dialogs and the progress window.
        owner_.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
        gtk_window_set_title(owner_.window(), "Pellatrix");
    }

    int messageBox(const Text& text, const Text& title, int style) override {
        return gtk::runMessageBox(owner_.window(), text, title, style);
    }

    std::unique_ptr<CopyObserver> beginCopy() override {
        return std::make_unique<gtk::GtkCopyProgress>(owner_.window(), drives_);
    }

    void processMessages() override { gtk::pumpPendingEvents(); }

    void close() override {
        owner_.reset();
        gtk::pumpPendingEvents();
    }

  private:
    DriveMapping drives_;
    gtk::OwnedWindow owner_;
};

bool displayNamed() {
    const auto isSet = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

} // namespace

std::unique_ptr<UserInterface> makeGtkUserInterface(const DriveMapping& drives) {
    if (!displayNamed())
        return nullptr;
    // Names the windows' class after the program, as its desktop entry expects.
    g_set_prgname("pellatrix");
    if (!gtk_init_check(nullptr, nullptr))
        return nullptr;
    gtk_window_set_default_icon_name("pellatrix");
    return std::make_unique<GtkUserInterface>(drives);
}

} // namespace pellatrix::linuxos
