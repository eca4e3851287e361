// Small helpers shared by the GTK dialogs.
#include "platform/linux/ui/gtk/gtk_support.h"

#include "platform/text_encoding.h"

namespace pellatrix::linuxos::gtk {

void pumpPendingEvents() {
    constexpr int kMostEventsAtOnce = 200;
    for (int handled = 0; handled < kMostEventsAtOnce && gtk_events_pending(); ++handled)
        gtk_main_iteration_do(FALSE);
}

void setDialogIcon(GtkWidget* messageDialog, const char* iconName) {
    GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(messageDialog), image);
    G_GNUC_END_IGNORE_DEPRECATIONS
    gtk_widget_show(image);
}

std::string displayText(const Text& text) {
    // Names that are not valid UTF-8 arrive as lone surrogates and leave as the raw bytes;
    // GTK labels accept valid UTF-8 only.
    const std::string bytes = toUtf8(text);
    gchar* valid = g_utf8_make_valid(bytes.data(), static_cast<gssize>(bytes.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

} // namespace pellatrix::linuxos::gtk
