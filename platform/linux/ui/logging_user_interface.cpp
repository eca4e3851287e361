// The copy observer that notes what was skipped or cancelled, then asks the wrapped one.
#include "platform/linux/ui/logging_user_interface.h"

namespace pellatrix::linuxos {
namespace {

class LoggingObserver : public CopyObserver {
  public:
    LoggingObserver(std::unique_ptr<CopyObserver> inner, const CopyNote& note)
        : inner_(std::move(inner)), note_(note) {}

    void progress(const CopyProgress& progress) override { inner_->progress(progress); }
    bool cancelRequested() override {
        const bool cancelled = inner_->cancelRequested();
        if (cancelled)
            noteCancel();
        return cancelled;
    }
    ErrorDecision copyFailed(const Text& path, const std::error_code& error) override {
        const ErrorDecision decision = inner_->copyFailed(path, error);
        if (decision == ErrorDecision::Skip)
            tell(path, error);
        else if (decision == ErrorDecision::Cancel)
            noteCancel();
        return decision;
    }
    void finished(const CopyProgress& progress) override { inner_->finished(progress); }
    bool waitForOtherCopy(const Text& destination) override {
        return inner_->waitForOtherCopy(destination);
    }

  private:
    void noteCancel() {
        if (!cancelNoted_)
            tell(u"", std::make_error_code(std::errc::operation_canceled));
        cancelNoted_ = true;
    }
    // A note that cannot be written is not the copy's failure: the log's next line, the end,
    // fails the same way and ends the program with the report.
    void tell(const Text& path, const std::error_code& why) {
        try {
            note_(path, why);
        } catch (const std::exception&) {
        }
    }

    std::unique_ptr<CopyObserver> inner_;
    const CopyNote& note_;
    bool cancelNoted_ = false;
};

} // namespace

std::unique_ptr<CopyObserver> LoggingUserInterface::beginCopy() {
    return std::make_unique<LoggingObserver>(inner_->beginCopy(), note_);
}

} // namespace pellatrix::linuxos
