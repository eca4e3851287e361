// The program's message boxes as modal GTK 3 dialogs.
#pragma once

#include "platform/platform_services.h"

#include <gtk/gtk.h>

namespace pellatrix::linuxos::gtk {

// Shows a modal dialog over owner and waits for the answer. style is a Windows message box
// style: MessageBoxStyle::YesNo (Yes the default, closing the dialog answers No) or Ok, plus
// IconQuestion or IconError (no icon bit: no icon). Returns Reply::Yes, Reply::No or Reply::Ok.
int runMessageBox(GtkWindow* owner, const Text& text, const Text& title, int style);

} // namespace pellatrix::linuxos::gtk
