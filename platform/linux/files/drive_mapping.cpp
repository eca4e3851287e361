// Drive letters to native paths and back.
#include "platform/linux/files/drive_mapping.h"

#include "platform/linux/sys/posix_error.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

constexpr char16_t kEscapedBackslash = 0xF05C;

char16_t upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    throwErrno(ENOENT, "find the home folder of the user", u"");
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

DriveMapping::DriveMapping(std::string cDriveRoot)
    : cDriveRoot_(withoutTrailingSlashes(std::move(cDriveRoot))) {}

DriveMapping DriveMapping::fromEnvironment() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return DriveMapping(data);
    return DriveMapping(homeFolder() + "/.local/share");
}

bool DriveMapping::locate(std::u16string_view windowsPath, PathOnDrive& located) const {
    if (windowsPath.size() < 2 || windowsPath[1] != u':' ||
        (windowsPath.size() > 2 && windowsPath[2] != u'\\' && windowsPath[2] != u'/')) {
        errno = ENOENT;
        return false;
    }
    located.drive = upper(windowsPath[0]);
    if (located.drive != u'C' && located.drive != u'Z') {
        errno = ENODEV;
        return false;
    }
    Text rest(windowsPath.substr(std::min<std::size_t>(3, windowsPath.size())));
    for (char16_t& c : rest)
        if (c == u'\\')
            c = u'/';
    located.relative = nativeNameOf(rest);
    return true;
}

std::optional<std::string> DriveMapping::nativePathOf(const Text& windowsPath) const {
    PathOnDrive located;
    if (!locate(windowsPath, located))
        return std::nullopt;
    const std::string root = located.drive == u'C' && cDriveRoot_ != "/" ? cDriveRoot_ : "";
    return root + "/" + located.relative;
}

UniqueFd DriveMapping::openRoot(char16_t drive, bool makeIfMissing) const {
    const std::string root = upper(drive) == u'C' ? cDriveRoot_ : "/";
    if (upper(drive) != u'C' && upper(drive) != u'Z') {
        errno = ENODEV;
        return {};
    }
    constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    UniqueFd opened(open(root.c_str(), kFlags));
    if (opened || errno != ENOENT || !makeIfMissing)
        return opened;
    for (std::size_t slash = root.find('/', 1); slash != std::string::npos;
         slash = root.find('/', slash + 1))
        if (mkdir(root.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST)
            return {};
    if (mkdir(root.c_str(), 0777) != 0 && errno != EEXIST)
        return {};
    return UniqueFd(open(root.c_str(), kFlags));
}

Text DriveMapping::windowsPathOf(const std::string& nativePath) const {
    const std::string& root = cDriveRoot_;
    std::string rest;
    Text drive;
    if (root != "/" && nativePath.compare(0, root.size(), root) == 0 &&
        (nativePath.size() == root.size() || nativePath[root.size()] == '/')) {
        drive = u"C:";
        rest = nativePath.substr(root.size());
    } else {
        drive = u"Z:";
        rest = nativePath;
    }
    Text windows = drive + windowsNameOf(rest);
    for (char16_t& c : windows)
        if (c == u'/')
            c = u'\\';
    if (windows.size() == 2)
        windows += u'\\';
    return windows;
}

Text DriveMapping::windowsNameOf(std::string_view nativeName) {
    // A genuine U+F05C (EF 81 9C) in a Linux name travels as its three bytes escaped, so that
    // it cannot be mistaken for a backslash on the way back.
    constexpr std::string_view kEscapedBackslashUtf8 = "\xEF\x81\x9C";
    if (nativeName.find_first_of("\\\xEF") == std::string_view::npos)
        return fromUtf8(nativeName); // nothing to escape: most names
    Text name;
    std::size_t from = 0;
    for (std::size_t at = from; at <= nativeName.size(); ++at) {
        const bool backslash = at < nativeName.size() && nativeName[at] == '\\';
        const bool privateUse = nativeName.substr(at, 3) == kEscapedBackslashUtf8;
        if (at < nativeName.size() && !backslash && !privateUse)
            continue;
        name += fromUtf8(nativeName.substr(from, at - from));
        if (backslash) {
            name += kEscapedBackslash;
            from = at + 1;
        } else if (privateUse) {
            for (const char byte : kEscapedBackslashUtf8)
                name += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(byte));
            from = at + 3;
            at += 2;
        }
    }
    return name;
}

std::string DriveMapping::nativeNameOf(std::u16string_view windowsName) {
    std::string name;
    std::size_t from = 0;
    for (std::size_t at = windowsName.find(kEscapedBackslash); at != std::u16string_view::npos;
         at = windowsName.find(kEscapedBackslash, from)) {
        name += toUtf8(windowsName.substr(from, at - from));
        name += '\\';
        from = at + 1;
    }
    return name + toUtf8(windowsName.substr(from));
}

bool DriveMapping::isDriveRoot(std::u16string_view windowsFolder) {
    if (windowsFolder.size() < 2 || windowsFolder[1] != u':')
        return false;
    for (std::size_t i = 2; i < windowsFolder.size(); ++i)
        if (windowsFolder[i] != u'\\' && windowsFolder[i] != u'/')
            return false;
    return true;
}

} // namespace pellatrix::linuxos
