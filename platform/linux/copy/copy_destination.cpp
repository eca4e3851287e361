// The copy engine's destination kept safe: opened once below its drive's root without
// following a link, locked against a second copy, refused when it lies inside the source or
// holds it, and cleared of the temporaries of copies that were killed.
#include "platform/linux/copy/copy_engine_parts.h"

#include "platform/linux/sys/beneath.h"
#include "platform/linux/sys/temporary_names.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

// Whether the folder `folder` is `outer` or lies anywhere inside it, found by going up
// through ".." to the root. False with errno set when a folder on the way cannot be read.
bool isWithin(int folder, const FolderIdentity& outer, bool& within) {
    constexpr int kOpenPath = O_PATH | O_DIRECTORY | O_CLOEXEC;
    UniqueFd current(openat(folder, ".", kOpenPath));
    FolderIdentity identity;
    if (!current || !identityOf(current.get(), identity))
        return false;
    for (;;) {
        if (identity == outer) {
            within = true;
            return true;
        }
        UniqueFd up(openat(current.get(), "..", kOpenPath));
        FolderIdentity above;
        if (!up || !identityOf(up.get(), above))
            return false;
        if (above == identity) { // the root is its own parent
            within = false;
            return true;
        }
        current = std::move(up);
        identity = above;
    }
}

// A path without its trailing separators, and its parent: "Tolvex/Model/" -> "Tolvex".
template <typename String> String withoutTrailing(String path, typename String::value_type sep) {
    while (!path.empty() && path.back() == sep)
        path.pop_back();
    return path;
}
template <typename String> String parentOf(const String& path, typename String::value_type sep) {
    const auto at = path.rfind(sep);
    return at == String::npos ? String() : path.substr(0, at);
}

} // namespace

bool CopyEngine::openSource() {
    return withRetry(request_.sourceDisplay, [&]() -> Failure {
        const int root = request_.sourceRoot(false);
        if (root < 0)
            return errnoCode(errno);
        source_ = openBeneath(root, request_.sourceFolder, O_RDONLY | O_DIRECTORY);
        if (!source_ || !identityOf(source_.get(), sourceIdentity_))
            return errnoCode(errno);
        return {};
    });
}

bool CopyEngine::openDestination() {
    const std::string path = withoutTrailing(request_.destinationFolder, '/');
    const std::string parent = parentOf(path, '/');
    const std::string last = path.substr(parent.empty() ? 0 : parent.size() + 1);
    const Text display = withoutTrailing(request_.destinationDisplay, u'\\');
    const auto refuseLink = [](int error, const Text& where) -> Failure {
        if (error == ELOOP)
            throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), "copy into",
                                where);
        return errnoCode(error);
    };
    return withRetry(request_.destinationDisplay, [&]() -> Failure {
        const int root = request_.destinationRoot(true);
        if (root < 0)
            return errnoCode(errno);
        if (const Failure failure = refuseDestinationInsideSource(root, path))
            return failure;
        // The parent is held and locked, and the destination reached from it: a swap of either
        // for a link after this point changes nothing for this copy.
        lock_ = makeFoldersBeneath(root, parent);
        if (!lock_)
            return refuseLink(errno, parentOf(display, u'\\'));
        if (const Failure failure = waitForOtherCopies(lock_.get()))
            return failure;
        destination_ = makeFoldersBeneath(lock_.get(), last);
        if (!destination_)
            return refuseLink(errno, display);
        bool inside = false, contains = false;
        if (!identityOf(destination_.get(), destinationIdentity_) ||
            !isWithin(destination_.get(), sourceIdentity_, inside) ||
            !isWithin(source_.get(), destinationIdentity_, contains))
            return errnoCode(errno);
        if (inside || contains)
            throw PlatformError(make_error_code(PellatrixError::CopyIntoItself), "copy into",
                                request_.destinationDisplay);
        removeAbandonedTemporaries(destination_.get());
        return {};
    });
}

// Refuses a destination inside the source before any folder of it is made: the deepest folder
// of its path that exists must not lie in the source. (Once the destination is open, its
// descriptor is checked again, both ways.)
Failure CopyEngine::refuseDestinationInsideSource(int root, std::string path) {
    for (;;) {
        const UniqueFd existing = openBeneath(root, path, O_PATH | O_DIRECTORY);
        if (existing) {
            bool inside = false;
            if (!isWithin(existing.get(), sourceIdentity_, inside))
                return errnoCode(errno);
            if (inside)
                throw PlatformError(make_error_code(PellatrixError::CopyIntoItself), "copy into",
                                    request_.destinationDisplay);
            return {};
        }
        if (errno != ENOENT || path.empty())
            return {}; // making the destination meets it again, and says what it is
        path = parentOf(path, '/');
    }
}

Failure CopyEngine::waitForOtherCopies(int folder) {
    bool waiting = false;
    while (flock(folder, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return {}; // a file system without locks: there is nothing to wait for
        if (!waiting && !observer_.waitForOtherCopy(request_.destinationDisplay))
            throw PlatformError(make_error_code(PellatrixError::DestinationBusy), "copy into",
                                request_.destinationDisplay);
        waiting = true;
        if (stopped())
            return errnoCode(ECANCELED);
        observer_.progress(progress_);
        std::this_thread::sleep_for(kLockPollInterval);
    }
    return {};
}

// Removes what a killed copy left behind. Housekeeping only: a folder that cannot be read
// here is read, and reported, by the copy itself.
void CopyEngine::removeAbandonedTemporaries(int folderFd) {
    UniqueFd folder(openat(folderFd, ".", kOpenFolder));
    if (!folder)
        return;
    DirectoryReader reader(std::move(folder));
    DirectoryReader::Entry entry;
    while (reader.next(entry) == DirectoryReader::Step::Entry)
        if (isAbandonedTemporary(entry.name))
            unlinkat(folderFd, std::string(entry.name).c_str(), 0);
}

} // namespace pellatrix::linuxos
