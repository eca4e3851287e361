// Picks how the program talks to the person: desktop dialogs when a display is there, the
// terminal otherwise.
#include "terminal_user_interface.h"

namespace pellatrix::posix {

std::unique_ptr<UserInterface> makeUserInterface() {
    return std::make_unique<TerminalUserInterface>();
}

} // namespace pellatrix::posix
