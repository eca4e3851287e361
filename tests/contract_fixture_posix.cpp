// The Linux platform as the contract suite sees it: C: is a temporary folder of this process,
// every other path is reached through Z:.
#include "contract_fixture.h"
#include "platform/posix/posix_platform.h"

#include <unistd.h>

namespace pellatrix::testing {
namespace {

// Answers nothing: the suite never asks a question, and a copy failure is skipped.
class QuietUserInterface : public posix::UserInterface {
  public:
    int messageBox(const Text&, const Text&, int) override { return Reply::No; }
    std::unique_ptr<posix::CopyObserver> beginCopy() override {
        return std::make_unique<posix::SilentCopyObserver>();
    }
    void processMessages() override {}
    void close() override {}
};

const posix::DriveMapping& drives() {
    static const posix::DriveMapping mapping(
        (std::filesystem::temp_directory_path() / ("pellatrix-c-" + std::to_string(getpid())))
            .string());
    return mapping;
}

} // namespace

std::unique_ptr<PlatformServices> makePlatformUnderTest() {
    return std::make_unique<posix::PosixPlatform>(drives(), std::make_unique<QuietUserInterface>());
}

Text platformPathOf(const std::filesystem::path& native) {
    return drives().windowsPathOf(native.lexically_normal().string());
}

std::filesystem::path nativePathOf(const Text& windowsPath) {
    return drives().nativePathOf(windowsPath);
}

} // namespace pellatrix::testing
