// The question asked when a file or folder cannot be copied: Retry, Skip or Cancel.
#pragma once

#include "platform/linux/copy/copy_observer.h"

#include <gtk/gtk.h>

#include <string>

namespace pellatrix::linuxos::gtk {

inline constexpr const char* kCopyErrorTitle = "Cannot Copy File";

// Modal over owner; shownPath as displayPath gives it, reason the error's message. Closing the
// dialog (Escape, the close button) cancels the copy. While it waits, openDialog points at the
// dialog, so that an interrupt can answer Cancel.
ErrorDecision askAfterCopyFailure(GtkWindow* owner, const std::string& shownPath,
                                  const std::string& reason, GtkDialog*& openDialog);

} // namespace pellatrix::linuxos::gtk
