// The copy's progress window.
#include "platform/linux/ui/gtk/gtk_copy_progress.h"

#include "platform/linux/ui/display_text.h"
#include "platform/linux/ui/gtk/copy_error_dialog.h"

#include <glib-unix.h>

#include <csignal>
#include <cstdio>

namespace pellatrix::linuxos::gtk {
namespace {

// Often enough to look alive, seldom enough that drawing costs the copy nothing measurable.
constexpr auto kRedrawInterval = std::chrono::milliseconds(150);

GtkLabel* addLabel(GtkBox* box, PangoEllipsizeMode ellipsize) {
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    gtk_label_set_ellipsize(GTK_LABEL(label), ellipsize);
    gtk_label_set_width_chars(GTK_LABEL(label), 50);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 50);
    gtk_box_pack_start(box, label, FALSE, FALSE, 0);
    return GTK_LABEL(label);
}

} // namespace

GtkCopyProgress::GtkCopyProgress(GtkWindow* owner, const DriveMapping& drives)
    : drives_(drives), throttle_(kRedrawInterval) {
    window_.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWindow* window = window_.window();
    gtk_window_set_title(window, kProgressTitle);
    gtk_window_set_transient_for(window, owner);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    g_signal_connect(window, "delete-event", G_CALLBACK(onDeleteEvent), this);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKeyPress), this);

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 16);
    gtk_container_add(GTK_CONTAINER(window), box);

    fileName_ = addLabel(GTK_BOX(box), PANGO_ELLIPSIZE_MIDDLE);
    folder_ = addLabel(GTK_BOX(box), PANGO_ELLIPSIZE_START);
    gtk_style_context_add_class(gtk_widget_get_style_context(GTK_WIDGET(folder_)), "dim-label");

    bar_ = GTK_PROGRESS_BAR(gtk_progress_bar_new());
    gtk_progress_bar_set_show_text(bar_, TRUE);
    gtk_box_pack_start(GTK_BOX(box), GTK_WIDGET(bar_), FALSE, FALSE, 4);

    GtkWidget* bottom = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_box_pack_start(GTK_BOX(box), bottom, FALSE, FALSE, 0);
    fileCount_ = addLabel(GTK_BOX(bottom), PANGO_ELLIPSIZE_NONE);
    gtk_label_set_width_chars(fileCount_, -1);
    cancel_ = gtk_button_new_with_mnemonic("_Cancel");
    g_signal_connect(cancel_, "clicked", G_CALLBACK(onCancelClicked), this);
    gtk_box_pack_end(GTK_BOX(bottom), cancel_, FALSE, FALSE, 0);

    interruptSource_ = g_unix_signal_add(SIGINT, onInterrupt, this);

    gtk_label_set_text(fileName_, "Preparing to copy");
    gtk_widget_show_all(GTK_WIDGET(window));
    // Cancel holds the focus, so that Enter or Space cancels as the button says.
    gtk_widget_grab_focus(cancel_);
    pumpPendingEvents();
}

GtkCopyProgress::~GtkCopyProgress() {
    stopCatchingInterrupts();
}

void GtkCopyProgress::progress(const CopyProgress& progress) {
    if (!throttle_.due(ProgressThrottle::Clock::now()))
        return;
    show(progress);
    pumpPendingEvents();
}

bool GtkCopyProgress::cancelRequested() {
    return cancelRequested_;
}

ErrorDecision GtkCopyProgress::copyFailed(const Text& path, const std::string& reason) {
    const ErrorDecision decision =
        askAfterCopyFailure(window_.window(), displayPath(drives_, path), reason, openQuestion_);
    if (decision == ErrorDecision::Cancel)
        requestCancel();
    return decision;
}

void GtkCopyProgress::finished(const CopyProgress& progress) {
    stopCatchingInterrupts();
    if (window_)
        show(progress);
    window_.reset();
    pumpPendingEvents();
}

void GtkCopyProgress::show(const CopyProgress& progress) {
    if (!progress.currentFile.empty() && !cancelRequested_) {
        const std::string shown = displayPath(drives_, progress.currentFile);
        gtk_label_set_text(fileName_, fileNameOf(shown).c_str());
        gtk_label_set_text(folder_, ("from " + folderOf(shown)).c_str());
    }
    const double fraction = doneFraction(progress);
    gtk_progress_bar_set_fraction(bar_, fraction);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%d%%", static_cast<int>(fraction * 100));
    gtk_progress_bar_set_text(bar_, percent);
    gtk_label_set_text(fileCount_, fileCountText(progress).c_str());
}

void GtkCopyProgress::requestCancel() {
    cancelRequested_ = true;
    if (window_) {
        gtk_widget_set_sensitive(cancel_, FALSE);
        gtk_label_set_text(fileName_, "Cancelling");
    }
}

void GtkCopyProgress::stopCatchingInterrupts() {
    // Past the copy, Ctrl-C ends the program again.
    if (interruptSource_ != 0)
        g_source_remove(interruptSource_);
    interruptSource_ = 0;
}

void GtkCopyProgress::onCancelClicked(GtkButton*, gpointer self) {
    static_cast<GtkCopyProgress*>(self)->requestCancel();
}

gboolean GtkCopyProgress::onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    // Closing the window cancels the copy; the window stays until the copy has stopped.
    static_cast<GtkCopyProgress*>(self)->requestCancel();
    return TRUE;
}

gboolean GtkCopyProgress::onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Escape)
        return FALSE;
    static_cast<GtkCopyProgress*>(self)->requestCancel();
    return TRUE;
}

gboolean GtkCopyProgress::onInterrupt(gpointer self) {
    auto* progress = static_cast<GtkCopyProgress*>(self);
    // An interrupt while a file's error is on screen answers it with Cancel.
    if (progress->openQuestion_)
        gtk_dialog_response(progress->openQuestion_, GTK_RESPONSE_CANCEL);
    progress->requestCancel();
    return G_SOURCE_CONTINUE;
}

} // namespace pellatrix::linuxos::gtk
