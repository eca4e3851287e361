// Windows paths on Linux: C: is the user's data folder, Z: is the root, as under Wine.
#pragma once

#include "platform/linux/sys/unique_fd.h"
#include "platform/platform_services.h"

#include <optional>
#include <string>
#include <string_view>

namespace pellatrix::linuxos {

class DriveMapping {
  public:
    // cDriveRoot: the native folder that C:\ stands for, absolute, without a trailing "/".
    explicit DriveMapping(std::string cDriveRoot);
    // From the environment: $XDG_DATA_HOME when absolute, else ~/.local/share.
    static DriveMapping fromEnvironment();

    // "C:\Tolvex\Model\" -> "<data>/Tolvex/Model/"; nothing for a drive that does not exist or
    // a path that is not absolute. "\" and "/" both separate components.
    std::optional<std::string> nativePathOf(const Text& windowsPath) const;
    // Where a Windows path lies: its drive (u'C' or u'Z') and the native path below that
    // drive's root, without a leading "/" ("C:\Tolvex\Model\" -> C, "Tolvex/Model/"). False
    // with errno ENOENT for a path that is not absolute, ENODEV for a drive that does not exist.
    struct PathOnDrive {
        char16_t drive = 0;
        std::string relative;
    };
    bool locate(std::u16string_view windowsPath, PathOnDrive& located) const;
    // Opens the root of a drive (O_PATH | O_DIRECTORY), following links: the user's data
    // folder may itself lie behind one, and only what lies below a root is held against
    // links. With makeIfMissing a missing C: root is made, with its parents. An invalid
    // UniqueFd with errno set on failure.
    UniqueFd openRoot(char16_t drive, bool makeIfMissing) const;
    // The reverse: a path under the C: root becomes C:\..., any other absolute path Z:\....
    Text windowsPathOf(const std::string& nativePath) const;
    // True when the Windows path names the root of a drive ("C:\", "Z:"), which has no "." and
    // "..".
    static bool isDriveRoot(std::u16string_view windowsFolder);

    // One Linux name as a Windows name and back. A backslash is a separator in Windows paths
    // but may stand in a Linux name: it travels as U+F05C, from the private-use area, so that
    // "a\b" stays one name.
    static Text windowsNameOf(std::string_view nativeName);
    static std::string nativeNameOf(std::u16string_view windowsName);

    // The native folder that C:\ stands for.
    const std::string& cDriveRoot() const { return cDriveRoot_; }

  private:
    std::string cDriveRoot_;
};

} // namespace pellatrix::linuxos
