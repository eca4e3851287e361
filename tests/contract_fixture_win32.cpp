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

} // namespace pellatrix::testing
