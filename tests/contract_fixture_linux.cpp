// The Linux platform as the contract suite sees it: C: is a temporary folder of this process,
// every other path is reached through Z:.
#include "contract_fixture.h"
#include "faulty_file_system.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/ui/quiet_user_interface.h"

#include <sys/xattr.h>
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

bool storeDosAttributes(const std::filesystem::path& file, const std::string& value) {
    return setxattr(file.c_str(), linuxos::kDosAttributeName, value.data(), value.size(), 0) == 0;
}

bool makeFolderLink(const std::filesystem::path& target, const std::filesystem::path& link,
                    std::string&) {
    std::filesystem::create_directory_symlink(target, link);
    return true;
}

std::shared_ptr<void> mountFaultyFolder(const std::filesystem::path& mountPoint,
                                        std::string& whyNot) {
    const std::filesystem::path shown = mountPoint.string() + "-shown";
    for (int i = 0; i < 5; ++i)
        writeFile(shown / "partway" / ("e" + std::to_string(i)), "");
    writeFile(shown / "atstart" / "e0", "");
    std::filesystem::create_directories(shown / "denied");
    auto fs = std::make_shared<FaultyFileSystem>(
        shown, mountPoint,
        std::map<std::string, int>{
            {"partway", 2}, {"atstart", 0}, {"denied", FaultyFileSystem::kRefusedOpen}});
    if (fs->available())
        return fs;
    whyNot = fs->whyNot();
    return nullptr;
}

} // namespace pellatrix::testing
