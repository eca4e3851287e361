// The copy's progress window: the file being copied, a bar of bytes done, the count of files
// done, and Cancel. Ctrl-C on the terminal that started the program cancels too, as it does
// without a display. It also asks what to do about a file that cannot be copied.
#pragma once

#include "platform/linux/copy/copy_observer.h"
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/ui/gtk/gtk_support.h"
#include "platform/linux/ui/gtk/progress_display.h"
#include "platform/linux/ui/progress_throttle.h"

namespace pellatrix::linuxos::gtk {

inline constexpr const char* kProgressTitle = "Copying";

class GtkCopyProgress {
  public:
    // The window is shown at once, owned by owner (the hidden main window). Paths are shown
    // as displayPath shows them with drives.
    GtkCopyProgress(GtkWindow* owner, const DriveMapping& drives);
    ~GtkCopyProgress();
    GtkCopyProgress(const GtkCopyProgress&) = delete;
    GtkCopyProgress& operator=(const GtkCopyProgress&) = delete;

    // What a CopyObserver is told and asked (copy_observer.h); a failure comes with the
    // reason as text.
    void progress(const CopyProgress& progress);
    bool cancelRequested();
    ErrorDecision copyFailed(const Text& path, const std::string& reason);
    void finished(const CopyProgress& progress);

  private:
    void show(const CopyProgress& progress);
    void requestCancel();
    void stopCatchingInterrupts();
    static void onCancelClicked(GtkButton*, gpointer self);
    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean onInterrupt(gpointer self);

    const DriveMapping& drives_;
    OwnedWindow window_;
    GtkLabel* fileName_ = nullptr;
    GtkLabel* folder_ = nullptr;
    GtkProgressBar* bar_ = nullptr;
    GtkLabel* fileCount_ = nullptr;
    GtkWidget* cancel_ = nullptr;
    ProgressThrottle throttle_;
    bool cancelRequested_ = false;
    guint interruptSource_ = 0;         // the SIGINT watch while the copy runs
    GtkDialog* openQuestion_ = nullptr; // the error dialog while it waits for an answer
};

} // namespace pellatrix::linuxos::gtk
