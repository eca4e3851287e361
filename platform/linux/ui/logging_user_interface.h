// A user interface that tells of each file the copy skipped and of a cancel, for the install
// log (--log), and leaves everything else to the one it wraps.
#pragma once

#include "platform/linux/ui/user_interface.h"

#include <functional>

namespace pellatrix::linuxos {

// Told of a file skipped (its Windows path and why) or of a cancel (an empty path).
using CopyNote = std::function<void(const Text& path, const std::error_code& why)>;

class LoggingUserInterface : public UserInterface {
  public:
    LoggingUserInterface(std::unique_ptr<UserInterface> inner, CopyNote note)
        : inner_(std::move(inner)), note_(std::move(note)) {}

    int messageBox(const Text& text, const Text& title, int style) override {
        return inner_->messageBox(text, title, style);
    }
    std::unique_ptr<CopyObserver> beginCopy() override;
    void processMessages() override { inner_->processMessages(); }
    void close() override { inner_->close(); }

  private:
    std::unique_ptr<UserInterface> inner_;
    CopyNote note_;
};

} // namespace pellatrix::linuxos
