// What the platform contract suite needs from each platform: the platform under test and
// the path by which it names a folder that the test made with std::filesystem.
#pragma once

#include "platform/platform_services.h"

#include <filesystem>
#include <memory>

namespace pellatrix::testing {

std::unique_ptr<PlatformServices> makePlatformUnderTest();

// The Windows path by which the platform reaches a native path ("Z:\tmp\x" on Linux).
Text platformPathOf(const std::filesystem::path& native);

// The Windows path of the user's data folder's drive, where "C:\Tolvex\Model\" lands.
std::filesystem::path nativePathOf(const Text& windowsPath);

} // namespace pellatrix::testing
