// Picks how the program talks to the person: desktop dialogs when a display is there, the
// terminal otherwise.
#include "platform/linux/ui/gtk/desktop_loader.h"
#include "platform/linux/ui/terminal_user_interface.h"

namespace pellatrix::linuxos {

std::unique_ptr<UserInterface> makeUserInterface(const DriveMapping& drives) {
    if (auto desktop = makeGtkUserInterface(drives))
        return desktop;
    return std::make_unique<TerminalUserInterface>(drives);
}

} // namespace pellatrix::linuxos
