// The program's message boxes as modal GTK 3 dialogs.
#include "platform/linux/ui/gtk/gtk_message_box.h"

#include "platform/linux/ui/gtk/gtk_support.h"

namespace pellatrix::linuxos::gtk {
namespace {

constexpr int kButtonBits = 0x0F;
constexpr int kIconBits = 0xF0;

GtkMessageType messageTypeOf(int style) {
    switch (style & kIconBits) {
    case MessageBoxStyle::IconQuestion:
        return GTK_MESSAGE_QUESTION;
    case MessageBoxStyle::IconError:
        return GTK_MESSAGE_ERROR;
    default:
        return GTK_MESSAGE_OTHER;
    }
}

const char* iconNameOf(GtkMessageType type) {
    switch (type) {
    case GTK_MESSAGE_QUESTION:
        return "dialog-question";
    case GTK_MESSAGE_ERROR:
        return "dialog-error";
    default:
        return nullptr;
    }
}

} // namespace

int runMessageBox(GtkWindow* owner, const Text& text, const Text& title, int style) {
    const GtkMessageType type = messageTypeOf(style);
    const bool yesNo = (style & kButtonBits) == MessageBoxStyle::YesNo;

    OwnedWindow dialog(gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s",
                                              displayText(text).c_str()));
    gtk_window_set_title(dialog.window(), displayText(title).c_str());
    gtk_window_set_position(dialog.window(), GTK_WIN_POS_CENTER);
    gtk_window_set_keep_above(dialog.window(), TRUE);
    if (const char* iconName = iconNameOf(type))
        setDialogIcon(dialog.get(), iconName);

    GtkWidget* firstButton = nullptr;
    if (yesNo) {
        firstButton = gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "_Yes", GTK_RESPONSE_YES);
        gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "_No", GTK_RESPONSE_NO);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_YES);
    } else {
        firstButton = gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "_OK", GTK_RESPONSE_OK);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog.get()), GTK_RESPONSE_OK);
    }
    // The first button, the default, holds the focus, so that Enter gives it.
    gtk_widget_grab_focus(firstButton);

    const int response = gtk_dialog_run(GTK_DIALOG(dialog.get()));
    dialog.reset();
    pumpPendingEvents();

    if (!yesNo)
        return Reply::Ok;
    // Escape or the window's close button choose No: the question is only ever answered Yes
    // on purpose.
    return response == GTK_RESPONSE_YES ? Reply::Yes : Reply::No;
}

} // namespace pellatrix::linuxos::gtk
