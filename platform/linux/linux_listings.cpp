// Linux listings and attributes: paths placed by HeldPaths, reached from the listing that holds
// them or from their drive's root, never through a link; listings as levels of tree walks.
#include "linux_platform.h"

#include "platform/linux/files/file_attributes.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/linux/sys/beneath.h"
#include "platform/linux/sys/file_system_sync.h"
#include "platform/linux/sys/posix_error.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>

namespace pellatrix::linuxos {
namespace {

// Failures that mean, as on Windows, that there is nothing to list: the thing is missing, a
// file stands where a folder is expected, or the path is on no drive.
bool meansNothingToList(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENODEV;
}

// Raises the platform error for errno `error`; a link on the way says so in words.
[[noreturn]] void throwFor(int error, const char* operation, const Text& path) {
    if (error == ELOOP)
        throw PlatformError(make_error_code(PellatrixError::LinkOnTheWay), operation, path);
    throwErrno(error, operation, path);
}

// True when the calling thread's stack has less than a margin left. The walk takes one stack
// frame per folder level: a listing opened past this point would crash it a few levels on.
bool stackNearlyFull() {
    constexpr std::uintptr_t kMargin = 256 * 1024;
    static thread_local const std::uintptr_t lowest = [] {
        pthread_attr_t attributes;
        void* stack = nullptr;
        std::size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attributes) != 0)
            return std::uintptr_t{0};
        pthread_attr_getstack(&attributes, &stack, &size);
        pthread_attr_destroy(&attributes);
        return reinterpret_cast<std::uintptr_t>(stack);
    }();
    const char here = 0;
    const auto at = reinterpret_cast<std::uintptr_t>(&here);
    return lowest != 0 && at - lowest < kMargin;
}

// The native form of "\"-separated Windows names below a folder: "a\b" -> "a/b".
std::string nativeRelative(std::u16string_view windowsNames) {
    Text names(windowsNames);
    for (char16_t& c : names)
        if (c == u'\\')
            c = u'/';
    return DriveMapping::nativeNameOf(names);
}

} // namespace

ListingHandle LinuxPlatform::openListing(const Text& pattern, FindData& data) {
    raiseFailedSync();
    justListed_ = 0;
    const auto slash = pattern.find_last_of(u"\\/");
    if (slash == Text::npos || slash + 1 == pattern.size())
        return kInvalidListing;
    const std::u16string_view folder(pattern.data(), slash + 1);
    Text name = pattern.substr(slash + 1);

    if (!hasWildcards(name)) {
        // A plain name lists that one entry, as it is spelt on the disk.
        if (name == u"." || name == u"..")
            return kInvalidListing;
        Place where;
        std::uint32_t attributes = 0;
        if (!place(pattern, where)) {
            if (meansNothingToList(errno))
                return kInvalidListing;
            throwFor(errno, "list", Text(folder));
        }
        if (!readAttributesAt(where.folder, where.name, attributes)) {
            if (meansNothingToList(errno))
                return kInvalidListing;
            throwFor(errno, "read the attributes of", pattern);
        }
        setFindData(data, attributes, name);
        const ListingHandle handle = nextListing_++;
        listings_.emplace(handle, OpenListing{}); // it has given its one entry out
        return handle;
    }

    if (stackNearlyFull())
        throw PlatformError(make_error_code(PellatrixError::TooDeep), "list", Text(folder));
    const HeldPaths::Place at = placeOfFolder(folder);
    // The entry that the innermost listing of a walk has just given out is the next level of
    // that walk, opened from it; any other folder starts a walk of its own.
    Walk* walk = nullptr;
    const DirectoryListing* parent = nullptr;
    UniqueFd opened;
    const auto outer = at.isListing && at.listedLast ? listings_.find(at.from) : listings_.end();
    if (outer != listings_.end() && outer->second.walk->handles.back() == at.from) {
        walk = outer->second.walk;
        parent = outer->second.listing.get();
        opened = openBeneath(parent->fd(), parent->lastName(), O_RDONLY | O_DIRECTORY);
    } else {
        opened = openFolder(at, O_RDONLY | O_DIRECTORY);
    }
    if (!opened) {
        if (meansNothingToList(errno))
            return kInvalidListing;
        throwFor(errno, "list", Text(folder));
    }
    if (!walk)
        walk =
            &walks_.emplace_back(Walk{Text(HeldPaths::withoutTrailingSeparators(folder)), {}, {}});
    const ListingHandle handle = nextListing_++;
    held_.opened(handle, folder, at);
    DirectoryListing& listing = addLevel(*walk, handle, std::move(opened), parent, std::move(name),
                                         !DriveMapping::isDriveRoot(folder));
    bool matched = false;
    try {
        matched = listing.next(data);
    } catch (const std::exception&) {
        closeListing(handle);
        throw;
    }
    if (!matched) {
        closeListing(handle);
        return kInvalidListing;
    }
    held_.gave(handle, listing.lastWindowsName());
    justListed_ = handle;
    return handle;
}

DirectoryListing& LinuxPlatform::addLevel(Walk& walk, ListingHandle handle, UniqueFd folder,
                                          const DirectoryListing* parent, Text pattern, bool dots) {
    notedFolder_ = -1; // a level put aside gives its descriptor's number back
    // The level that this one puts aside lets go of what it reads ahead first.
    if (walk.levels.pushPutsAside())
        listingOf(walk.handles[walk.levels.nextPutAsideDepth()])->prepareAside();
    walk.levels.push({{}, DirectoryReader(std::move(folder))});
    auto listing = std::make_unique<DirectoryListing>(
        walk.levels.innermost().source, parent, std::move(pattern), dots,
        [this, handle] { return held_.pathOf(handle) + u'\\'; }, helper());
    DirectoryListing& made = *listing;
    walk.handles.push_back(handle);
    listings_.emplace(handle, OpenListing{std::move(listing), &walk, false});
    return made;
}

bool LinuxPlatform::advanceListing(ListingHandle handle, FindData& data) {
    justListed_ = 0;
    const auto it = listings_.find(handle);
    if (it == listings_.end() || !it->second.listing || it->second.closed ||
        !it->second.listing->next(data))
        return false;
    held_.gave(handle, it->second.listing->lastWindowsName());
    justListed_ = handle;
    return true;
}

void LinuxPlatform::closeListing(ListingHandle handle) {
    justListed_ = 0;
    const auto it = listings_.find(handle);
    if (it == listings_.end() || it->second.closed)
        return;
    if (!it->second.listing) {
        listings_.erase(it);
        return;
    }
    held_.closed(handle);
    it->second.closed = true;
    notedFolder_ = -1;
    // A listing closed while listings below it are open stays a level of its walk until they
    // are closed too.
    Walk& walk = *it->second.walk;
    while (!walk.handles.empty() && listings_.at(walk.handles.back()).closed) {
        // A folder above that was put aside is taken up again through this one's "..".
        if (walk.handles.size() > 1 && !walk.levels.reopenParent())
            listingOf(walk.handles[walk.handles.size() - 2])->failTakeUp(errno);
        listings_.erase(walk.handles.back());
        walk.handles.pop_back();
        walk.levels.pop();
    }
    if (walk.handles.empty())
        syncChanges(walk.top);
    if (walk.handles.empty())
        walks_.remove_if([&walk](const Walk& w) { return &w == &walk; });
}

std::uint32_t LinuxPlatform::readAttributes(const Text& path) {
    // The entry that the innermost listing has just given out was read a moment ago: its
    // attributes are not read a second time. A change since is met by setAttributes, which
    // reads the entry again and checks it against that read (inode and change time).
    const auto slash = path.find_last_of(u'\\');
    if (justListed_ && slash != Text::npos) {
        const DirectoryListing& listing = *listingOf(justListed_);
        if (std::u16string_view(path).substr(slash + 1) == listing.lastWindowsName()) {
            const HeldPaths::Place at =
                placeOfFolder(std::u16string_view(path).substr(0, slash + 1));
            if (at.from == justListed_ && at.below.empty())
                return listing.lastAttributes();
        }
    }
    Place where;
    std::uint32_t attributes = 0;
    if (!place(path, where) || !readAttributesAt(where.folder, where.name, attributes))
        throwFor(errno, "read the attributes of", path);
    return attributes;
}

void LinuxPlatform::setAttributes(const Text& path, std::uint32_t attributes) {
    Place where;
    if (!place(path, where))
        throwFor(errno, "set the attributes of", path);
    // The entry just listed: what the listing read for it saves reading it whole again.
    const DirectoryListing* listed = justListed_ ? listingOf(justListed_) : nullptr;
    const EntryRead* earlier =
        listed && !where.held && where.folder == listed->fd() && where.name == listed->lastName()
            ? &listed->lastRead()
            : nullptr;
    justListed_ = 0;
    setAttributesAt(where.folder, where.name, attributes, path, earlier);
    noteChange(where.folder, static_cast<bool>(where.held));
}

void LinuxPlatform::noteChange(int folder, bool openedForThis) {
    // The files a walk changes lie mostly in the folders of its listings: one look per folder.
    if (!openedForThis && folder == notedFolder_)
        return;
    notedFolder_ = openedForThis ? -1 : folder;
    struct stat st;
    if (fstat(folder, &st) != 0)
        throwErrno(errno, "write to the disk the changes in", u"");
    for (const auto& [device, open] : changed_)
        if (device == st.st_dev)
            return;
    UniqueFd opened(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened)
        throwErrno(errno, "write to the disk the changes in", u"");
    changed_.emplace_back(st.st_dev, std::move(opened));
}

void LinuxPlatform::syncChanges(const Text& walked) {
    for (const auto& [device, folder] : changed_)
        if (!syncFileSystem(folder.get()) && !failedSync_)
            failedSync_.emplace(std::error_code(errno, std::generic_category()),
                                "write to the disk the changes in", walked);
    changed_.clear();
}

void LinuxPlatform::raiseFailedSync() {
    if (failedSync_) {
        const PlatformError failed = *failedSync_;
        failedSync_.reset();
        throw failed;
    }
}

HeldPaths::Place LinuxPlatform::placeOfFolder(std::u16string_view windowsFolder) const {
    // A listing whose folder is aside has no descriptor to reach anything from.
    return held_.place(windowsFolder,
                       [this](HeldPaths::Id id) { return !listingOf(id)->isAside(); });
}

DirectoryListing* LinuxPlatform::listingOf(HeldPaths::Id id) const {
    return listings_.at(id).listing.get();
}

bool LinuxPlatform::place(const Text& windowsPath, Place& where) {
    const std::u16string_view path = HeldPaths::withoutTrailingSeparators(windowsPath);
    const bool driveRoot = path.size() == 2 && path[1] == u':';
    const std::size_t slash = driveRoot ? path.size() : path.find_last_of(u'\\');
    if (slash == std::u16string_view::npos) {
        errno = ENOENT; // not an absolute path
        return false;
    }
    const HeldPaths::Place at = placeOfFolder(path.substr(0, slash));
    where.name = driveRoot ? "." : DriveMapping::nativeNameOf(path.substr(slash + 1));
    if (where.name == "..") {
        errno = EXDEV; // never above the folder
        return false;
    }
    if (at.isListing && at.below.empty()) {
        where.folder = listingOf(at.from)->fd();
        return true;
    }
    where.held = openFolder(at, O_PATH | O_DIRECTORY);
    where.folder = where.held.get();
    return static_cast<bool>(where.held);
}

UniqueFd LinuxPlatform::openFolder(const HeldPaths::Place& at, int flags) {
    if (at.isListing)
        return openBeneath(listingOf(at.from)->fd(), nativeRelative(at.below), flags);
    std::string relative;
    const int rootFd = rootOf(at.below, relative, false);
    if (rootFd < 0)
        return {};
    return openBeneath(rootFd, relative, flags);
}

int LinuxPlatform::rootOf(std::u16string_view windowsPath, std::string& relative,
                          bool makeIfMissing) {
    DriveMapping::PathOnDrive located;
    if (!drives_.locate(windowsPath, located))
        return -1;
    relative = std::move(located.relative);
    return root(located.drive, makeIfMissing);
}

} // namespace pellatrix::linuxos
