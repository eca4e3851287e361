// The question asked when a file or folder cannot be copied.
#include "platform/linux/ui/gtk/copy_error_dialog.h"

#include "platform/linux/ui/gtk/gtk_support.h"

namespace pellatrix::linuxos::gtk {
namespace {

enum Response { kRetry = 1, kSkip = 2, kCancel = 3 };

} // namespace

ErrorDecision askAfterCopyFailure(GtkWindow* owner, const std::string& shownPath,
                                  const std::string& reason, GtkDialog*& openDialog) {
    OwnedWindow dialog(gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                              GTK_BUTTONS_NONE, "Cannot copy \"%s\"",
                                              shownPath.c_str()));
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog.get()), "%s",
                                             reason.c_str());
    gtk_window_set_title(dialog.window(), kCopyErrorTitle);
    gtk_window_set_position(dialog.window(), GTK_WIN_POS_CENTER_ON_PARENT);
    gtk_window_set_keep_above(dialog.window(), TRUE);

    setDialogIcon(dialog.get(), "dialog-error");

    GtkDialog* buttons = GTK_DIALOG(dialog.get());
    GtkWidget* retry = gtk_dialog_add_button(buttons, "_Retry", kRetry);
    gtk_dialog_add_button(buttons, "_Skip", kSkip);
    gtk_dialog_add_button(buttons, "_Cancel", kCancel);
    gtk_dialog_set_default_response(buttons, kRetry);
    gtk_widget_grab_focus(retry);

    openDialog = buttons;
    const int response = gtk_dialog_run(buttons);
    openDialog = nullptr;
    dialog.reset();
    pumpPendingEvents();

    switch (response) {
    case kRetry:
        return ErrorDecision::Retry;
    case kSkip:
        return ErrorDecision::Skip;
    default:
        return ErrorDecision::Cancel;
    }
}

} // namespace pellatrix::linuxos::gtk
