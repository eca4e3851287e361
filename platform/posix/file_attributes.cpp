// Reading and writing Windows attributes on Linux files.
#include "file_attributes.h"

#include "posix_error.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace pellatrix::posix {
namespace {

constexpr std::uint32_t kDosBits = FileAttribute::Hidden | FileAttribute::System;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = umask(0);
        umask(m);
        return m;
    }();
    return mask;
}

// The raw user.DOSATTRIB value of a path, or 0 when it has none.
std::uint32_t storedDosAttributes(const std::string& path) {
    char buffer[64];
    const ssize_t length = lgetxattr(path.c_str(), kDosAttributeName, buffer, sizeof buffer - 1);
    if (length <= 0)
        return 0;
    buffer[length] = '\0';
    return static_cast<std::uint32_t>(std::strtoul(buffer, nullptr, 16));
}

std::string fullPath(int dirFd, const std::string& name) {
    if (dirFd == AT_FDCWD)
        return name;
    return "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
}

#ifndef SYS_getxattrat
#define SYS_getxattrat 464 // Linux 6.13; the number is the same on every architecture
#endif

// The argument block of getxattrat(2).
struct XattrArgs {
    std::uint64_t value;
    std::uint32_t size;
    std::uint32_t flags;
};

// user.DOSATTRIB of `name` in the open folder dirFd, not following a link. getxattrat looks
// the name up from the folder; before Linux 6.13 the folder is reached through /proc, whose
// longer lookup costs about three times as much.
ssize_t dosAttributeAt(int dirFd, const std::string& name, char* buffer, std::size_t size) {
    static bool haveGetxattrat = true;
    if (dirFd != AT_FDCWD && haveGetxattrat) {
        XattrArgs args{reinterpret_cast<std::uintptr_t>(buffer), static_cast<std::uint32_t>(size),
                       0};
        const long length = syscall(SYS_getxattrat, dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW,
                                    kDosAttributeName, &args, sizeof args);
        if (length >= 0 || (errno != ENOSYS && errno != EPERM))
            return length;
        if (errno == ENOSYS)
            haveGetxattrat = false;
    }
    return lgetxattr(fullPath(dirFd, name).c_str(), kDosAttributeName, buffer, size);
}

} // namespace

std::uint32_t parseDosAttributes(const char* text, std::size_t length) {
    const std::string value(text, length);
    if (value.size() < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return 0;
    return static_cast<std::uint32_t>(std::strtoul(value.c_str() + 2, nullptr, 16)) & kDosBits;
}

bool readAttributesAt(int dirFd, const std::string& name, std::uint32_t& attributes) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool toFolder =
            fstatat(dirFd, name.c_str(), &target, 0) == 0 && S_ISDIR(target.st_mode);
        attributes = FileAttribute::ReparsePoint | (toFolder ? FileAttribute::Directory : 0);
        return true;
    }
    attributes = S_ISDIR(st.st_mode) ? FileAttribute::Directory : FileAttribute::Archive;
    if ((st.st_mode & kWriteBits) == 0)
        attributes |= FileAttribute::ReadOnly;
    char buffer[64];
    const ssize_t length = dosAttributeAt(dirFd, name, buffer, sizeof buffer);
    if (length > 0)
        attributes |= parseDosAttributes(buffer, static_cast<std::size_t>(length));
    return true;
}

void setAttributesOf(const std::string& nativePath, std::uint32_t attributes,
                     const Text& windowsPath) {
    constexpr const char* kOperation = "set the attributes of";
    struct stat st;
    if (lstat(nativePath.c_str(), &st) != 0)
        throwErrno(errno, kOperation, windowsPath);
    if (S_ISLNK(st.st_mode))
        throwErrno(ELOOP, kOperation, windowsPath); // never change what a link points at

    mode_t mode = st.st_mode & 07777;
    if (attributes & FileAttribute::ReadOnly) {
        mode &= ~kWriteBits;
    } else if ((mode & kWriteBits) == 0) {
        mode_t add = S_IWUSR;
        if (mode & S_IRGRP)
            add |= S_IWGRP;
        if (mode & S_IROTH)
            add |= S_IWOTH;
        mode |= add & ~processUmask();
        mode |= S_IWUSR; // writable means the owner may write, whatever the umask says
    }

    const std::uint32_t stored = storedDosAttributes(nativePath);
    const std::uint32_t wanted = (stored & ~kDosBits) | (attributes & kDosBits);
    const bool dosChanges = (stored & kDosBits) != (attributes & kDosBits);
    const auto writeDos = [&] {
        if (!dosChanges)
            return;
        char text[16];
        const int length = std::snprintf(text, sizeof text, "0x%x", wanted);
        if (lsetxattr(nativePath.c_str(), kDosAttributeName, text, static_cast<std::size_t>(length),
                      0) != 0 &&
            errno != ENOTSUP)
            throwErrno(errno, kOperation, windowsPath);
    };
    const auto writeMode = [&] {
        if (mode != (st.st_mode & 07777) && chmod(nativePath.c_str(), mode) != 0)
            throwErrno(errno, kOperation, windowsPath);
    };
    // Writing user.DOSATTRIB needs write permission: write it while the file is writable.
    if (attributes & FileAttribute::ReadOnly) {
        writeDos();
        writeMode();
    } else {
        writeMode();
        writeDos();
    }
}

} // namespace pellatrix::posix
