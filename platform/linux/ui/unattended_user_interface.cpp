// The unattended install's copy reports: skipped files and the cancel on standard error, the
// progress there too when it is a terminal.
#include "platform/linux/ui/unattended_user_interface.h"

#include "platform/linux/sys/cancel_signals.h"
#include "platform/linux/ui/display_text.h"
#include "platform/linux/ui/progress_throttle.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

class UnattendedCopyObserver : public CopyObserver {
  public:
    explicit UnattendedCopyObserver(DriveMapping drives) : drives_(std::move(drives)) {}

    void progress(const CopyProgress& progress) override {
        if (showsProgress_ && throttle_.due(ProgressThrottle::Clock::now()))
            show(progress);
    }

    bool cancelRequested() override { return CancelSignals::raised(); }

    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override {
        clearProgressLine();
        std::fprintf(stderr, "Tolvex: Could not copy \"%s\": %s; skipped.\n",
                     displayPath(drives_, path).c_str(), error.message().c_str());
        return ErrorDecision::Skip;
    }

    void finished(const CopyProgress& progress) override {
        if (progressShown_) {
            show(progress);
            std::fputc('\n', stderr);
        }
        if (CancelSignals::raised())
            std::fputs("Tolvex: Copy cancelled.\n", stderr);
    }

  private:
    void show(const CopyProgress& p) {
        progressShown_ = true;
        std::fprintf(stderr, "\r\033[KCopying: %s done",
                     fileCountText(p.filesDone, p.filesTotal).c_str());
        std::fflush(stderr);
    }
    void clearProgressLine() {
        if (progressShown_)
            std::fputs("\r\033[K", stderr);
    }

    const DriveMapping drives_;
    // SIGINT and SIGTERM cancel the copy instead of ending the program; nothing waits for an
    // answer, so interrupted calls go on.
    CancelSignals signals_{{SIGINT, SIGTERM}, true};
    const bool showsProgress_ = isatty(STDERR_FILENO) == 1;
    bool progressShown_ = false;
    ProgressThrottle throttle_{std::chrono::milliseconds(250)};
};

} // namespace

std::unique_ptr<CopyObserver> UnattendedUserInterface::beginCopy() {
    return std::make_unique<UnattendedCopyObserver>(drives_);
}

} // namespace pellatrix::linuxos
