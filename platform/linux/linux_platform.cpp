// Linux platform services: Windows paths mapped onto the Linux tree, attributes as Wine shows
// them, and the user interface that the factory picked.
#include "linux_platform.h"

#include "platform/linux/copy/copy_engine.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/linux/sys/beneath.h"
#include "platform/linux/sys/posix_error.h"

#include <algorithm>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellatrix::linuxos {
namespace {

// Failures that mean, as on Windows, that there is nothing to list: the thing is missing, a
// file stands where a folder is expected, or the path is on no drive.
bool meansNothingToList(int error) {
    return error == ENOENT || error == ENOTDIR || error == ENODEV;
}

// The errno that a platform error stands for; ENOENT for one of the program's own.
int errnoOf(const PlatformError& error) {
    return error.code().category() == std::generic_category() ? error.code().value() : ENOENT;
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

// The first name of a shell name list ("name\0\0").
Text firstName(const Text& list) {
    return list.substr(0, list.find(u'\0'));
}

} // namespace

LinuxPlatform::LinuxPlatform(DriveMapping drives, std::unique_ptr<UserInterface> ui)
    : drives_(std::move(drives)), ui_(std::move(ui)) {}

int LinuxPlatform::messageBox(const Text& text, const Text& title, int style) {
    return ui_->messageBox(text, title, style);
}

Text LinuxPlatform::currentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            throwErrno(errno, "read the current directory", u".");
        buffer.resize(buffer.size() * 2);
    }
    return drives_.windowsPathOf(buffer.data());
}

Text LinuxPlatform::executableFolder() {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            throwErrno(errno, "find the folder of the program", u"/proc/self/exe");
        if (static_cast<std::size_t>(length) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(length));
            path.erase(path.rfind('/') == 0 ? 1 : path.rfind('/'));
            return drives_.windowsPathOf(path);
        }
        buffer.resize(buffer.size() * 2);
    }
}

WindowHandle LinuxPlatform::ownerWindow() {
    // The user interface owns the copy's windows; its address identifies it.
    return reinterpret_cast<WindowHandle>(ui_.get());
}

int LinuxPlatform::shellFileOperation(FileOpStruct& op) {
    op.fAnyOperationsAborted = false;
    const Text from = firstName(op.pFrom);
    const Text to = firstName(op.pTo);
    const auto slash = from.find_last_of(u'\\');
    if ((op.wFunc != ShellOperation::Copy && op.wFunc != ShellOperation::Move) || to.empty() ||
        slash == Text::npos)
        return kShellBadRequest;
    CopyRequest request;
    request.sourceDisplay = from.substr(0, slash + 1);
    request.pattern = from.substr(slash + 1);
    request.destinationDisplay = to.ends_with(u'\\') ? to : to + u'\\';
    request.move = op.wFunc == ShellOperation::Move;
    // Both folders are reached from their drive's root, which is held for the run: nothing
    // on the way is resolved anew while the copy runs.
    const auto rootOf = [this](char16_t drive) -> DriveRoot {
        return [this, drive](bool makeIfMissing) { return heldRootOrErrno(drive, makeIfMissing); };
    };
    const auto observer = ui_->beginCopy();
    try {
        const DriveMapping::PathOnDrive source = drives_.locate(request.sourceDisplay);
        const DriveMapping::PathOnDrive destination = drives_.locate(request.destinationDisplay);
        request.sourceRoot = rootOf(source.drive);
        request.sourceFolder = source.relative;
        request.destinationRoot = rootOf(destination.drive);
        request.destinationFolder = destination.relative;
    } catch (const PlatformError& error) {
        observer->copyFailed(error.path(), error.code());
        observer->finished({});
        return kShellCopyFailed;
    }
    const CopyOutcome outcome = copyMatchingEntries(request, *observer);
    op.fAnyOperationsAborted = outcome.cancelled;
    return outcome.succeeded() ? 0 : kShellCopyFailed;
}

ListingHandle LinuxPlatform::openListing(const Text& pattern, FindData& data) {
    justListed_ = nullptr;
    const auto slash = pattern.find_last_of(u"\\/");
    if (slash == Text::npos || slash + 1 == pattern.size())
        return kInvalidListing;
    const std::u16string_view folder(pattern.data(), slash + 1);
    Text name = pattern.substr(slash + 1);

    std::unique_ptr<DirectoryListing> listing;
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
    } else {
        if (stackNearlyFull())
            throw PlatformError(make_error_code(PellatrixError::TooDeep), "list", Text(folder));
        DirectoryListing* parent = nullptr;
        UniqueFd opened = openFolder(folder, parent);
        if (!opened) {
            if (meansNothingToList(errno))
                return kInvalidListing;
            throwFor(errno, "list", Text(folder));
        }
        // Below a listing, the folder is known by its name there; otherwise by its path.
        std::u16string_view known = folder;
        if (parent) {
            known.remove_suffix(1);
            known.remove_prefix(known.find_last_of(u'\\') + 1);
        }
        if (!helperTried_) {
            helperTried_ = true;
            try {
                if (std::thread::hardware_concurrency() > 1)
                    helper_ = std::make_unique<EntryRunHelper>();
            } catch (const std::system_error&) {
                // no thread to spare: each listing reads its entries alone
            }
        }
        listing = std::make_unique<DirectoryListing>(
            std::move(opened), parent, Text(known), std::move(name),
            !DriveMapping::isDriveRoot(folder), helper_.get());
        if (!listing->next(data))
            return kInvalidListing; // nothing matches
        boundOpenListings(*listing);
        open_.push_back(listing.get());
        justListed_ = listing.get();
        if (folder.ends_with(u'\\')) { // the walk names its entries by this very path
            pathKnownFor_ = listing.get();
            innermostPath_ = folder;
        }
    }
    const ListingHandle handle = nextListing_++;
    listings_.emplace(handle, std::move(listing));
    return handle;
}

bool LinuxPlatform::advanceListing(ListingHandle listing, FindData& data) {
    justListed_ = nullptr;
    const auto it = listings_.find(listing);
    if (it == listings_.end() || !it->second || !it->second->next(data))
        return false;
    justListed_ = it->second.get();
    return true;
}

void LinuxPlatform::closeListing(ListingHandle handle) {
    justListed_ = nullptr;
    const auto it = listings_.find(handle);
    if (it == listings_.end())
        return;
    if (pathKnownFor_ == it->second.get())
        pathKnownFor_ = nullptr;
    if (DirectoryListing* listing = it->second.get()) {
        // A folder above that was put aside is taken up again through this one's "..".
        DirectoryListing* parent = listing->parent();
        if (parent && parent->isAside() && !listing->isAside())
            parent->takeUpFrom(listing->fd());
        const auto at = std::find(open_.rbegin(), open_.rend(), listing).base() - 1;
        // Listings opened below this one, if any are still open, stand alone from now on.
        for (auto later = at + 1; later != open_.end(); ++later)
            if ((*later)->parent() == listing)
                (*later)->detachFromParent();
        open_.erase(at);
    }
    listings_.erase(it);
}

std::uint32_t LinuxPlatform::readAttributes(const Text& path) {
    // The entry that the innermost listing has just given out was read a moment ago: its
    // attributes are not read a second time. A change since is met by setAttributes, which
    // reads the entry again and checks it against that read (inode and change time).
    const auto slash = path.find_last_of(u'\\');
    if (justListed_ && justListed_ == innermost() && slash != Text::npos &&
        std::u16string_view(path).substr(slash + 1) == justListed_->lastWindowsName() &&
        isInnermostFolder(std::u16string_view(path).substr(0, slash + 1)))
        return justListed_->lastAttributes();
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
    const EntryRead* earlier = justListed_ && !where.held && where.folder == justListed_->fd() &&
                                       where.name == justListed_->lastName()
                                   ? &justListed_->lastRead()
                                   : nullptr;
    justListed_ = nullptr;
    setAttributesAt(where.folder, where.name, attributes, path, earlier);
}

bool LinuxPlatform::isInnermostFolder(std::u16string_view windowsFolder) {
    DirectoryListing* listing = innermost();
    if (!listing || listing->isAside())
        return false;
    if (listing == pathKnownFor_ && windowsFolder.size() == innermostPath_.size() &&
        std::memcmp(windowsFolder.data(), innermostPath_.data(),
                    windowsFolder.size() * sizeof(char16_t)) == 0)
        return true;
    if (!listing->isFolder(windowsFolder))
        return false;
    pathKnownFor_ = listing;
    innermostPath_ = windowsFolder;
    return true;
}

bool LinuxPlatform::place(const Text& windowsPath, Place& where) {
    const auto slash = windowsPath.find_last_of(u'\\');
    DirectoryListing* listing = innermost();
    if (slash != Text::npos && slash + 1 < windowsPath.size() &&
        isInnermostFolder(std::u16string_view(windowsPath).substr(0, slash + 1))) {
        where.folder = listing->fd();
        where.name = DriveMapping::nativeNameOf(std::u16string_view(windowsPath).substr(slash + 1));
        if (where.name == "..") {
            errno = EXDEV; // never above the folder
            return false;
        }
        return true;
    }
    std::string relative;
    const int root = rootOf(windowsPath, relative);
    if (root < 0)
        return false;
    while (relative.ends_with('/'))
        relative.pop_back();
    const std::size_t cut = relative.rfind('/');
    where.name = cut == std::string::npos ? relative : relative.substr(cut + 1);
    relative.erase(cut == std::string::npos ? 0 : cut);
    if (where.name.empty())
        where.name = ".";
    if (where.name == "..") {
        errno = EXDEV;
        return false;
    }
    where.held = openBeneath(root, relative, O_PATH | O_DIRECTORY);
    where.folder = where.held.get();
    return static_cast<bool>(where.held);
}

UniqueFd LinuxPlatform::openFolder(std::u16string_view windowsFolder, DirectoryListing*& parent) {
    parent = nullptr;
    // "X\Y\" while the listing of X is the innermost and gave out the folder Y last.
    DirectoryListing* listing = innermost();
    if (listing && !listing->isAside() && listing->lastWasFolder() && windowsFolder.size() > 2) {
        const std::size_t slash = windowsFolder.find_last_of(u'\\', windowsFolder.size() - 2);
        if (slash != std::u16string_view::npos &&
            isInnermostFolder(windowsFolder.substr(0, slash + 1)) &&
            DriveMapping::nativeNameOf(windowsFolder.substr(
                slash + 1, windowsFolder.size() - slash - 2)) == listing->lastName()) {
            parent = listing;
            return openBeneath(listing->fd(), listing->lastName(), O_RDONLY | O_DIRECTORY);
        }
    }
    std::string relative;
    const int root = rootOf(Text(windowsFolder), relative);
    if (root < 0)
        return {};
    return openBeneath(root, relative, O_RDONLY | O_DIRECTORY);
}

int LinuxPlatform::rootOf(const Text& windowsPath, std::string& relative) {
    try {
        DriveMapping::PathOnDrive located = drives_.locate(windowsPath);
        relative = std::move(located.relative);
        return heldRootOrErrno(located.drive, false);
    } catch (const PlatformError& error) {
        errno = errnoOf(error);
        return -1;
    }
}

int LinuxPlatform::heldRootOrErrno(char16_t drive, bool makeIfMissing) {
    try {
        return heldRoot(drive, makeIfMissing);
    } catch (const PlatformError& error) {
        errno = errnoOf(error);
        return -1;
    }
}

void LinuxPlatform::boundOpenListings(DirectoryListing& newest) {
    DirectoryListing* level = &newest;
    for (std::size_t i = 0; i < kOpenListings && level; ++i)
        level = level->parent();
    if (level && !level->isAside())
        level->putAside();
}

int LinuxPlatform::heldRoot(char16_t drive, bool makeIfMissing) {
    UniqueFd& held = drive == u'C' || drive == u'c' ? cRoot_ : zRoot_;
    if (!held) {
        held = drives_.openRoot(drive, makeIfMissing);
        if (!held)
            throwErrno(errno, "open the drive", Text{drive, u':', u'\\'});
    }
    return held.get();
}

void LinuxPlatform::processMessages() {
    ui_->processMessages();
}

void LinuxPlatform::endProgram() {
    ui_->close();
}

} // namespace pellatrix::linuxos
