// The question asked when a file or folder cannot be copied: Retry, Skip or Cancel.
#pragma once

#include "platform/linux/copy/copy_observer.h"

#include <gtk/gtk.h>

#include <string>
#include <system_error>

namespace pellatrix::linuxos::gtk {

inline constexpr const char* kCopyErrorTitle = "Cannot Copy File";

// Modal over owner; shownPath as displayPath gives it. Closing the dialog (Escape, the close
// button) cancels the copy. While it waits, openDialog points at the dialog, so that an
// interrupt can answer Cancel.
ErrorDecision askAfterCopyFailure(GtkWindow* owner, const std::string& shownPath,
                                  const std::error_code& error, GtkDialog*& openDialog);

} // namespace pellatrix::linuxos::gtk
