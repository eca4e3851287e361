// A user interface that shows nothing and asks nobody: every message box gets one fixed reply
// and a file that cannot be copied is skipped. For benchmarks and tests, and the base of the
// unattended install's.
#pragma once

#include "platform/linux/ui/user_interface.h"

namespace pellatrix::linuxos {

class QuietUserInterface : public UserInterface {
  public:
    explicit QuietUserInterface(int reply) : reply_(reply) {}
    int messageBox(const Text&, const Text&, int) override { return reply_; }
    std::unique_ptr<CopyObserver> beginCopy() override {
        return std::make_unique<SilentCopyObserver>();
    }
    void processMessages() override {}
    void close() override {}

  private:
    int reply_;
};

} // namespace pellatrix::linuxos
