// The unattended install's copy reports: skipped files and the cancel on standard error, the
// progress there too when it is a terminal.
#include "platform/linux/ui/unattended_user_interface.h"

#include "platform/linux/ui/display_text.h"
#include "platform/linux/ui/progress_throttle.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iterator>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

std::atomic<bool> cancelled{false};

extern "C" void onCancelSignal(int) {
    cancelled = true;
}

// SIGINT and SIGTERM cancel the copy while this lives, instead of ending the program. A signal
// that the program was started ignoring (a background job of a script) stays ignored.
class CancelSignals {
  public:
    CancelSignals() {
        cancelled = false;
        struct sigaction action {};
        action.sa_handler = onCancelSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART; // nothing waits for an answer: interrupted calls go on
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            sigaction(kSignals[i], &action, &previous_[i]);
            if (previous_[i].sa_handler == SIG_IGN)
                sigaction(kSignals[i], &previous_[i], nullptr);
        }
    }
    ~CancelSignals() {
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &previous_[i], nullptr);
    }
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;

  private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM};
    struct sigaction previous_[std::size(kSignals)]{};
};

class UnattendedCopyObserver : public CopyObserver {
  public:
    explicit UnattendedCopyObserver(DriveMapping drives) : drives_(std::move(drives)) {}

    void progress(const CopyProgress& progress) override {
        if (showsProgress_ && throttle_.due(ProgressThrottle::Clock::now()))
            show(progress);
    }

    bool cancelRequested() override { return cancelled; }

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
        if (cancelled)
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
    CancelSignals signals_;
    const bool showsProgress_ = isatty(STDERR_FILENO) == 1;
    bool progressShown_ = false;
    ProgressThrottle throttle_{std::chrono::milliseconds(250)};
};

} // namespace

std::unique_ptr<CopyObserver> UnattendedUserInterface::beginCopy() {
    return std::make_unique<UnattendedCopyObserver>(drives_);
}

} // namespace pellatrix::linuxos
