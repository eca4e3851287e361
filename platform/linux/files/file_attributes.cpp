// Reading and writing Windows attributes on Linux files.
#include "platform/linux/files/file_attributes.h"

#include "platform/linux/sys/posix_error.h"

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

constexpr std::uint32_t kDosBits = FileAttribute::Hidden | FileAttribute::System;
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The raw user.DOSATTRIB value (every bit, not just hidden and system), or 0.
std::uint32_t rawDosAttributes(const char* text, ssize_t length) {
    if (length <= 0)
        return 0;
    return static_cast<std::uint32_t>(
        std::strtoul(std::string(text, static_cast<std::size_t>(length)).c_str(), nullptr, 16));
}

// Every change of an extended attribute sets the change time to the current time. A stored
// value read from a file whose change time lay before the read began by more than the file
// system's time step (up to 10 ms where times have a fraction of a second, 2 s where they are
// whole seconds) stands for the file while its inode and change time stay the same: any later
// change gives a later change time.
constexpr std::int64_t kFineStep = 10'000'000;     // ns
constexpr std::int64_t kWholeStep = 2'000'000'000; // ns; file systems with 1 or 2 second times

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct timespec coarseNow() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
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
    static std::atomic<bool> haveGetxattrat{true};
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

// The raw user.DOSATTRIB value of `name` in dirFd (st: its lstat now), or 0 when it has none;
// taken from an earlier read when that stands for the same file unchanged.
std::uint32_t storedDosAttributes(int dirFd, const std::string& name, const struct stat& st,
                                  const EntryRead* earlier) {
    if (earlier && earlier->storedSure && earlier->status.st_dev == st.st_dev &&
        earlier->status.st_ino == st.st_ino &&
        earlier->status.st_ctim.tv_sec == st.st_ctim.tv_sec &&
        earlier->status.st_ctim.tv_nsec == st.st_ctim.tv_nsec)
        return earlier->stored;
    char buffer[64];
    const ssize_t length = dosAttributeAt(dirFd, name, buffer, sizeof buffer - 1);
    return rawDosAttributes(buffer, length);
}

#ifndef SYS_setxattrat
#define SYS_setxattrat 463 // Linux 6.13
#endif

// Writes user.DOSATTRIB of `name` in dirFd, not following a link; through /proc before 6.13.
int setDosAttributeAt(int dirFd, const std::string& name, const char* text, std::size_t size) {
    static std::atomic<bool> haveSetxattrat{true};
    if (dirFd != AT_FDCWD && haveSetxattrat) {
        XattrArgs args{reinterpret_cast<std::uintptr_t>(text), static_cast<std::uint32_t>(size), 0};
        const long result = syscall(SYS_setxattrat, dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW,
                                    kDosAttributeName, &args, sizeof args);
        if (result == 0 || (errno != ENOSYS && errno != EPERM))
            return static_cast<int>(result);
        if (errno == ENOSYS)
            haveSetxattrat = false;
    }
    return lsetxattr(fullPath(dirFd, name).c_str(), kDosAttributeName, text, size, 0);
}

#ifndef SYS_fchmodat2
#define SYS_fchmodat2 452 // Linux 6.6; the number is the same on every architecture
#endif

// chmod that fails on a link instead of following it. fchmodat2 does it in one call; the C
// library's fchmodat does it through an O_PATH descriptor and /proc, which costs four.
int chmodNoFollow(int dirFd, const std::string& name, mode_t mode) {
    static std::atomic<bool> haveFchmodat2{true};
    if (haveFchmodat2) {
        const long result = syscall(SYS_fchmodat2, dirFd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
        if (result == 0 || errno != ENOSYS)
            return static_cast<int>(result);
        haveFchmodat2 = false;
    }
    return fchmodat(dirFd, name.c_str(), mode, AT_SYMLINK_NOFOLLOW);
}

} // namespace

std::uint32_t parseDosAttributes(const char* text, std::size_t length) {
    const std::string value(text, length);
    if (value.size() < 3 || value[0] != '0' || (value[1] != 'x' && value[1] != 'X'))
        return 0;
    return static_cast<std::uint32_t>(std::strtoul(value.c_str() + 2, nullptr, 16)) & kDosBits;
}

mode_t processUmask() {
    // Read without changing it: a change would be seen by the threads that make files.
    static const mode_t mask = [] {
        if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            unsigned value = 0;
            bool found = false;
            while (!found && std::fgets(line, sizeof line, status))
                found = std::sscanf(line, "Umask: %o", &value) == 1;
            std::fclose(status);
            if (found)
                return static_cast<mode_t>(value);
        }
        const mode_t m = umask(022);
        umask(m);
        return m;
    }();
    return mask;
}

bool readAttributesAt(int dirFd, const std::string& name, std::uint32_t& attributes,
                      EntryRead* read) {
    const struct timespec readStart = coarseNow();
    EntryRead local;
    EntryRead& found = read ? *read : local;
    found = EntryRead{};
    struct stat& st = found.status;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (S_ISLNK(st.st_mode)) {
        // Its target is never looked up: a link into a mount that does not answer would stop
        // the walk for good.
        attributes = FileAttribute::ReparsePoint;
        return true;
    }
    attributes = S_ISDIR(st.st_mode) ? FileAttribute::Directory : FileAttribute::Archive;
    if ((st.st_mode & kWriteBits) == 0)
        attributes |= FileAttribute::ReadOnly;
    char buffer[64];
    const ssize_t length = dosAttributeAt(dirFd, name, buffer, sizeof buffer);
    if (length > 0)
        attributes |= parseDosAttributes(buffer, static_cast<std::size_t>(length));
    found.stored = rawDosAttributes(buffer, length);
    const std::int64_t step = st.st_ctim.tv_nsec != 0 ? kFineStep : kWholeStep;
    // Sure unless it could not be read (no permission, say), or the file changed too
    // recently for a change now to move its change time.
    found.storedSure = (length >= 0 || errno == ENODATA || errno == ENOTSUP) &&
                       nanoseconds(st.st_ctim) <= nanoseconds(readStart) - step;
    return true;
}

void setAttributesAt(int dirFd, const std::string& name, std::uint32_t attributes,
                     const Text& windowsPath, const EntryRead* earlier) {
    constexpr const char* kOperation = "set the attributes of";
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        throwErrno(errno, kOperation, windowsPath);
    if (S_ISLNK(st.st_mode))
        // never change what a link points at
        throw PlatformError(make_error_code(PellatrixError::LinkOnTheWay), kOperation, windowsPath);

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

    // The stored value keeps its other bits. Its read-only bit, which Samba shows where the
    // stored value decides, follows the request when a value is stored; none is stored for
    // read-only alone, which the mode carries.
    const std::uint32_t stored = storedDosAttributes(dirFd, name, st, earlier);
    constexpr std::uint32_t kStoredBits = kDosBits | FileAttribute::ReadOnly;
    const std::uint32_t storedReadOnly = stored != 0 ? attributes & FileAttribute::ReadOnly : 0;
    const std::uint32_t wanted = (stored & ~kStoredBits) | (attributes & kDosBits) | storedReadOnly;
    const auto writeDos = [&] {
        if ((stored & kStoredBits) == (wanted & kStoredBits))
            return;
        char text[16];
        const int length = std::snprintf(text, sizeof text, "0x%x", wanted);
        if (setDosAttributeAt(dirFd, name, text, static_cast<std::size_t>(length)) != 0 &&
            errno != ENOTSUP)
            throwErrno(errno, kOperation, windowsPath);
    };
    const auto writeMode = [&] {
        // Never through a link: one swapped in since the lstat makes this fail instead.
        if (mode != (st.st_mode & 07777) && chmodNoFollow(dirFd, name, mode) != 0)
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

} // namespace pellatrix::linuxos
