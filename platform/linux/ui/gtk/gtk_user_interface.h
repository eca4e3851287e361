// The desktop form of the Linux user interface: GTK 3 dialogs owned by a hidden main window.
#pragma once

#include "platform/linux/ui/user_interface.h"

#include <memory>

namespace pellatrix::linuxos {

// Opens the display and returns the GTK user interface, or nullptr when no display can be
// opened (neither DISPLAY nor WAYLAND_DISPLAY is set, or GTK cannot connect to it). Paths are
// shown as displayPath shows them with these drives.
std::unique_ptr<UserInterface> makeGtkUserInterface(const DriveMapping& drives);

} // namespace pellatrix::linuxos
