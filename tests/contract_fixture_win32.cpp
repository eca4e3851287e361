// The Win32 platform as the contract suite sees it: the test's own paths are Windows paths
// already (under Wine, C: is the prefix's drive_c and the temporary folder lies on it).
#include "contract_fixture.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"

namespace pellatrix::testing {

std::unique_ptr<PlatformServices> makePlatformUnderTest() {
    return std::make_unique<win32::Win32Platform>(GetModuleHandleW(nullptr));
}

Text platformPathOf(const std::filesystem::path& native) {
    return win32::fromWide(std::filesystem::absolute(native).lexically_normal().wstring());
}

std::shared_ptr<void> mountFaultyFolder(const std::filesystem::path&, std::string& whyNot) {
    whyNot = "a Windows program under Wine cannot mount a file system that fails on demand";
    return nullptr;
}

bool storeDosAttributes(const std::filesystem::path&, const std::string&) {
    // A Windows program cannot write user.DOSATTRIB. By hand, Wine 8 shows a writable file
    // whose user.DOSATTRIB says read-only as writable, as the Linux platform does.
    return false;
}

bool makeFolderLink(const std::filesystem::path&, const std::filesystem::path&,
                    std::string& whyNot) {
    whyNot = "Wine shows a Unix link as the folder it points at";
    return false;
}

} // namespace pellatrix::testing
