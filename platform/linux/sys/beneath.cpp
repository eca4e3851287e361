// Path resolution below a held folder: openat2 where the kernel has it, a component walk
// where it does not.
#include "platform/linux/sys/beneath.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace pellatrix::linuxos {
namespace {

#ifndef SYS_openat2
#define SYS_openat2 437 // Linux 5.6; the number is the same on every architecture
#endif

// struct open_how and its RESOLVE_ flags, from <linux/openat2.h>.
struct OpenHow {
    std::uint64_t flags;
    std::uint64_t mode;
    std::uint64_t resolve;
};
constexpr std::uint64_t kResolveNoMagicLinks = 0x02;
constexpr std::uint64_t kResolveNoSymlinks = 0x04;
constexpr std::uint64_t kResolveBeneath = 0x08;

std::atomic<bool> componentWalkForced{false};
std::atomic<bool> openat2Missing{false};

// The components of a relative path, "." and empty ones left out. False when one is "..".
bool splitComponents(std::string_view relative, std::vector<std::string>& components) {
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        const std::string_view component = relative.substr(0, slash);
        if (component == "..")
            return false;
        if (!component.empty() && component != ".")
            components.emplace_back(component);
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    }
    return true;
}

// After a failed open of `name` in `folder`: ELOOP when a link stands there, so that a link
// on the way reads the same from both ways of resolving.
void sayLinkWhereThereIsOne(int folder, const std::string& name) {
    const int error = errno;
    struct stat st;
    errno = fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)
                ? ELOOP
                : error;
}

UniqueFd componentWalk(int rootFd, const std::vector<std::string>& components, int flags,
                       mode_t mode) {
    UniqueFd held;
    int folder = rootFd;
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        UniqueFd next(
            openat(folder, components[i].c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next) {
            sayLinkWhereThereIsOne(folder, components[i]);
            return {};
        }
        held = std::move(next);
        folder = held.get();
    }
    const std::string last = components.empty() ? "." : components.back();
    UniqueFd opened(openat(folder, last.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!opened && errno == ENOTDIR)
        sayLinkWhereThereIsOne(folder, last);
    return opened;
}

// openat2, or an invalid descriptor with errno ENOSYS where it cannot be used.
UniqueFd openat2Beneath(int rootFd, std::string_view relative, int flags, mode_t mode) {
    if (componentWalkForced || openat2Missing) {
        errno = ENOSYS;
        return {};
    }
    const std::string path = relative.empty() ? std::string(".") : std::string(relative);
    OpenHow how{};
    how.flags = static_cast<std::uint64_t>(static_cast<unsigned>(flags | O_NOFOLLOW | O_CLOEXEC));
    how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
    how.resolve = kResolveBeneath | kResolveNoSymlinks | kResolveNoMagicLinks;
    for (int attempt = 0;; ++attempt) {
        const long fd = syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how);
        if (fd >= 0)
            return UniqueFd(static_cast<int>(fd));
        // EAGAIN: a rename raced the lookup; the kernel asks to try again.
        if (errno == EAGAIN && attempt < 8)
            continue;
        if (errno == ENOSYS)
            openat2Missing = true;
        else if (errno == EPERM)
            errno = ENOSYS; // a sandbox may refuse the call itself: walk instead, this once
        return {};
    }
}

} // namespace

UniqueFd openBeneath(int rootFd, std::string_view relative, int flags, mode_t mode) {
    std::vector<std::string> components;
    if (!splitComponents(relative, components)) {
        errno = EXDEV;
        return {};
    }
    UniqueFd opened = openat2Beneath(rootFd, relative, flags, mode);
    // ENOTDIR may stand for a link where a folder was asked for: the walk tells which. A path
    // longer than the kernel takes in one piece is walked a component at a time.
    if (opened || (errno != ENOSYS && errno != ENOTDIR && errno != ENAMETOOLONG))
        return opened;
    return componentWalk(rootFd, components, flags, mode);
}

UniqueFd makeFoldersBeneath(int rootFd, std::string_view relative) {
    std::vector<std::string> components;
    if (!splitComponents(relative, components)) {
        errno = EXDEV;
        return {};
    }
    UniqueFd held;
    int folder = rootFd;
    for (std::size_t i = 0; i < components.size(); ++i) {
        const bool last = i + 1 == components.size();
        const int flags = (last ? O_RDONLY : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        const char* name = components[i].c_str();
        UniqueFd next(openat(folder, name, flags));
        if (!next && errno == ENOENT) {
            if (mkdirat(folder, name, 0777) != 0 && errno != EEXIST)
                return {};
            next = UniqueFd(openat(folder, name, flags));
        }
        if (!next) {
            sayLinkWhereThereIsOne(folder, components[i]);
            return {};
        }
        held = std::move(next);
        folder = held.get();
    }
    if (components.empty())
        return UniqueFd(openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return held;
}

void useComponentWalkForTesting(bool on) {
    componentWalkForced = on;
}

} // namespace pellatrix::linuxos
