// The Linux platform as the contract suite sees it: C: is a temporary folder of this process,
// every other path is reached through Z:.
#include "contract_fixture.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/ui/quiet_user_interface.h"

#include <unistd.h>

namespace pellatrix::testing {
namespace {

const linuxos::DriveMapping& drives() {
    static const linuxos::DriveMapping mapping(
        (std::filesystem::temp_directory_path() / ("pellatrix-c-" + std::to_string(getpid())))
            .string());
    return mapping;
}

} // namespace

std::unique_ptr<PlatformServices> makePlatformUnderTest() {
    return std::make_unique<linuxos::LinuxPlatform>(
        drives(), std::make_unique<linuxos::QuietUserInterface>(Reply::No));
}

Text platformPathOf(const std::filesystem::path& native) {
    return drives().windowsPathOf(native.lexically_normal().string());
}

} // namespace pellatrix::testing
