// The copy's progress window: the file being copied, a bar of bytes done, the count of files
// done, and Cancel. It also asks what to do about a file that cannot be copied.
#pragma once

#include "gtk_support.h"
#include "platform/posix/copy_observer.h"
#include "progress_display.h"

namespace pellatrix::posix::gtk {

inline constexpr const char* kProgressTitle = "Copying";

class GtkCopyProgress : public CopyObserver {
  public:
    // The window is shown at once, owned by owner (the hidden main window).
    explicit GtkCopyProgress(GtkWindow* owner);
    ~GtkCopyProgress() override = default;

    void progress(const CopyProgress& progress) override;
    bool cancelRequested() override;
    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override;
    void finished(const CopyProgress& progress) override;

  private:
    void show(const CopyProgress& progress);
    void requestCancel();
    static void onCancelClicked(GtkButton*, gpointer self);
    static gboolean onDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean onKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);

    OwnedWindow window_;
    GtkLabel* fileName_ = nullptr;
    GtkLabel* folder_ = nullptr;
    GtkProgressBar* bar_ = nullptr;
    GtkLabel* fileCount_ = nullptr;
    GtkWidget* cancel_ = nullptr;
    ProgressThrottle throttle_;
    bool cancelRequested_ = false;
};

} // namespace pellatrix::posix::gtk
