// What the platform contract suite needs from each platform: the platform under test and
// the path by which it names a folder that the test made with std::filesystem.
#pragma once

#include "platform/platform_services.h"

#include <filesystem>
#include <memory>
#include <string>

namespace pellatrix::testing {

std::unique_ptr<PlatformServices> makePlatformUnderTest();

// The Windows path by which the platform reaches a native path ("Z:\tmp\x" on Linux).
Text platformPathOf(const std::filesystem::path& native);

// The Windows path of the user's data folder's drive, where "C:\Tolvex\Model\" lands.
std::filesystem::path nativePathOf(const Text& windowsPath);

// A folder whose listings fail on demand, unmounted when destroyed. In it: "partway", five
// files whose listing fails with an I/O error after two; "atstart", whose listing fails at
// once; "denied", which may not be opened.
class FaultyFolder {
  public:
    explicit FaultyFolder(std::filesystem::path path) : path_(std::move(path)) {}
    virtual ~FaultyFolder() = default;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};
// Mounts one at mountPoint; nullptr, with the reason in whyNot, where that cannot be done.
std::unique_ptr<FaultyFolder> mountFaultyFolder(const std::filesystem::path& mountPoint,
                                                std::string& whyNot);

// Stores the Windows attributes `value` ("0x1") in user.DOSATTRIB, as Samba and other
// programs keep them on a Linux disk; false, with the reason in whyNot, where that cannot be done.
bool storeDosAttributes(const std::filesystem::path& file, const std::string& value,
                        std::string& whyNot);

// Makes link a symbolic link to the folder target; false, with the reason in whyNot, where the
// platform does not see such a link as a link.
bool makeFolderLink(const std::filesystem::path& target, const std::filesystem::path& link,
                    std::string& whyNot);

} // namespace pellatrix::testing
