// The desktop dialogs: GTK 3 dialogs owned by a hidden main window.
#pragma once

#include "platform/linux/ui/gtk/gtk_copy_progress.h"
#include "platform/linux/ui/gtk/gtk_support.h"

#include <memory>

namespace pellatrix::linuxos::gtk {

class GtkUserInterface {
  public:
    // Opens the display that the environment names, or nullptr when GTK cannot connect to it.
    // Paths are shown as displayPath shows them with these drives.
    static std::unique_ptr<GtkUserInterface> open(DriveMapping drives);

    // Modal; style is a Windows message box style. Returns Reply::Yes, Reply::No or Reply::Ok.
    int messageBox(const Text& text, const Text& title, int style);
    // The progress window of one copy, shown at once.
    std::unique_ptr<GtkCopyProgress> beginCopy();
    // Handles the pending events, then returns.
    void processMessages();
    // Closes every window.
    void close();

  private:
    explicit GtkUserInterface(DriveMapping drives);

    DriveMapping drives_;
    OwnedWindow owner_;
};

} // namespace pellatrix::linuxos::gtk
