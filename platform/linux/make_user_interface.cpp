// Picks how the program talks to the person: desktop dialogs when a display is there, the
// terminal otherwise.
#include "gtk/desktop_loader.h"
#include "terminal_user_interface.h"

namespace pellatrix::linux {

std::unique_ptr<UserInterface> makeUserInterface(const DriveMapping& drives) {
    if (auto desktop = makeGtkUserInterface(drives))
        return desktop;
    return std::make_unique<TerminalUserInterface>(drives);
}

} // namespace pellatrix::linux
