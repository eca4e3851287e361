// Picks how the program talks to the person: desktop dialogs when a display is there, the
// terminal otherwise.
#include "gtk/gtk_user_interface.h"
#include "terminal_user_interface.h"

namespace pellatrix::linux {

std::unique_ptr<UserInterface> makeUserInterface() {
    if (auto desktop = makeGtkUserInterface())
        return desktop;
    return std::make_unique<TerminalUserInterface>();
}

} // namespace pellatrix::linux
