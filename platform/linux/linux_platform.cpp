// Linux platform services: Windows paths mapped onto the Linux tree, attributes as Wine shows
// them, and the user interface that the factory picked.
#include "linux_platform.h"

#include "copy_engine.h"
#include "file_attributes.h"
#include "posix_error.h"

#include <climits>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace pellatrix::linux {
namespace {

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
        return [this, drive](bool makeIfMissing) {
            try {
                return heldRoot(drive, makeIfMissing);
            } catch (const PlatformError& error) {
                errno = error.code().value();
                return -1;
            }
        };
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
    auto listing = DirectoryListing::open(drives_, pattern, data);
    if (!listing)
        return kInvalidListing;
    const ListingHandle handle = nextListing_++;
    listings_.emplace(handle, std::move(listing));
    return handle;
}

bool LinuxPlatform::advanceListing(ListingHandle listing, FindData& data) {
    const auto it = listings_.find(listing);
    return it != listings_.end() && it->second->next(data);
}

void LinuxPlatform::closeListing(ListingHandle listing) {
    listings_.erase(listing);
}

std::uint32_t LinuxPlatform::readAttributes(const Text& path) {
    std::uint32_t attributes = 0;
    if (!readAttributesAt(AT_FDCWD, drives_.nativePathOf(path), attributes))
        throwErrno(errno, "read the attributes of", path);
    return attributes;
}

void LinuxPlatform::setAttributes(const Text& path, std::uint32_t attributes) {
    setAttributesOf(drives_.nativePathOf(path), attributes, path);
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

} // namespace pellatrix::linux
