// The desktop dialogs, loaded from their module only when a display is named.
#pragma once

#include "platform/linux/ui/user_interface.h"

#include <memory>

namespace pellatrix::linuxos {

// The desktop dialogs, or nullptr when neither DISPLAY nor WAYLAND_DISPLAY is set, or when a
// display is named but the dialogs cannot be had (GTK or the module missing, the display not
// answering): then one line on standard error says why. The module pellatrix-gtk.so is looked
// for beside the program, then in ../lib/pellatrix/ from it (the installed layout).
std::unique_ptr<UserInterface> makeGtkUserInterface(const DriveMapping& drives);

} // namespace pellatrix::linuxos
