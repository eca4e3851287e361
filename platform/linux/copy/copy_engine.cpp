// The copy engine's walk of the medium. One thread, the one that called it, reads the source
// tree from descriptors (the source folder and the destination folder, each opened once below
// its drive's root), makes the folders, and hands the files to a few copying threads; it alone
// talks to the observer: progress, questions, cancel. A loop over a FolderStack rather than a
// recursion: no path is resolved twice, no link is followed, and the depth of the tree costs
// neither descriptors nor stack. A thread of its own counts the source meanwhile, for the
// totals.
#include "platform/linux/copy/copy_engine_parts.h"

#include "platform/linux/copy/copy_medium.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/sys/file_system_sync.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

// Copies the hidden and system attributes of a folder, where it has them.
void copyDosAttributes(int from, int to) {
    char dos[64];
    const ssize_t length = fgetxattr(from, kDosAttributeName, dos, sizeof dos);
    if (length > 0)
        fsetxattr(to, kDosAttributeName, dos, static_cast<std::size_t>(length), 0);
}

} // namespace

void CopyEngine::copyTree() {
    display_ = request_.sourceDisplay;
    UniqueFd source;
    const bool opened = withRetry(folderDisplay(), [&]() -> Failure {
        source = UniqueFd(openat(source_.get(), ".", kOpenFolder));
        return source ? Failure() : errnoCode(errno);
    });
    if (!opened)
        return;
    FolderStack stack;
    stack.push({"", DirectoryReader(std::move(source)), {}, {}, display_.size()});
    // Declared after the stack: the copying threads end before the folders they copy into
    // are closed, on every way out.
    std::optional<WorkerPool<Batch>> pool;
    while (!stack.empty() && !stopped()) {
        FolderStack::Level& folder = stack.innermost();
        DirectoryReader::Entry entry;
        DirectoryReader::Step step{};
        // A listing that fails is never the end of the folder: it is asked about, and a
        // folder left unread counts as a failure.
        const bool listed = withRetry(folderDisplay(), [&]() -> Failure {
            step = folder.source.next(entry);
            return step == DirectoryReader::Step::Failed ? errnoCode(errno) : Failure();
        });
        if (!listed) {
            folder.incomplete = true;
            if (!outcome_.cancelled)
                leaveFolder(stack);
        } else if (step == DirectoryReader::Step::End) {
            leaveFolder(stack);
        } else if (stack.depth() > 1 || matches(entry.name)) {
            // The destination is made once the source is known to hold something to copy.
            if (!folder.destination) {
                if (!openTopDestination(folder))
                    break;
                // Several readers, or one (where reading two files at once seeks) with a
                // thread that puts its copies in place.
                const unsigned readers =
                    request_.threads ? request_.threads : copyThreadsFor(source_.get());
                if (readers > 1 || std::thread::hardware_concurrency() > 1) {
                    share_ = readers > 1 ? Share::Whole : Share::Finish;
                    pool.emplace(readers, [this](Batch& batch) { runOnCopyingThread(batch); });
                    if (pool->threads() > 0)
                        pool_ = &*pool;
                    else
                        share_ = Share::Alone;
                }
            }
            copyEntry(stack, entry);
        }
    }
    if (pool_) {
        sendBatch();
        waitUntil([&] { return pool_->pending() == 0; });
    }
    batch_.reset();
    pool_ = nullptr;
    // Everything written, the folders made and the links placed, on the disk before the walk:
    // one sync of the destination's file system, and of any mounted below it.
    if (destination_)
        withRetry(request_.destinationDisplay, [&]() -> Failure {
            if (!syncFileSystem(destination_.get()))
                return errnoCode(errno);
            for (const UniqueFd& other : otherFileSystems_)
                if (!syncFileSystem(other.get()))
                    return errnoCode(errno);
            return {};
        });
}

bool CopyEngine::openTopDestination(FolderStack::Level& top) {
    if (!openDestination())
        return false;
    return withRetry(request_.destinationDisplay, [&]() -> Failure {
        top.destination = UniqueFd(openat(destination_.get(), ".", kOpenFolder));
        top.destinationIdentity = destinationIdentity_;
        return top.destination ? Failure() : errnoCode(errno);
    });
}

void CopyEngine::leaveFolder(FolderStack& stack) {
    FolderStack::Level& left = stack.innermost();
    if (pool_)
        sendBatch();
    // A folder to remove after its files, and the top, whose end is the copy's, wait for the
    // jobs of their files; any other is left while they run.
    const bool waitForJobs = request_.move || stack.depth() == 1;
    if (left.jobs && left.jobs->pending > 0 && waitForJobs)
        waitUntil([&] { return left.jobs->pending == 0; });
    if (stack.depth() == 1) {
        stack.pop();
        return;
    }
    const std::string name = left.name;
    const bool remove = request_.move && !left.incomplete && !outcome_.cancelled;
    const Text display = folderDisplay();
    display_.resize(display_.size() - 1);
    display_.resize(display_.rfind(u'\\') + 1);
    const bool parentOpen = withRetry(
        folderDisplay(), [&] { return stack.reopenParent() ? Failure() : errnoCode(errno); });
    if (left.jobs && left.jobs->pending > 0) {
        // The level, with its descriptors, goes with its jobs until the last is done.
        waitUntil([&] { return foldersLeftRunning_ < kFoldersLeftRunning; });
        if (left.jobs->pending > 0) {
            const std::shared_ptr<FolderJobs> jobs = left.jobs;
            jobs->kept.emplace(std::move(left));
            jobs->kept->jobs.reset(); // no cycle: the jobs hold the folder, not it them
            ++foldersLeftRunning_;
        }
    }
    stack.pop();
    if (!parentOpen) {
        // Skipped: the folders around it that are aside cannot be finished either.
        stack.popAsideLevels();
        if (!stack.empty()) {
            stack.innermost().incomplete = true;
            display_.resize(stack.innermost().displayLength);
        }
        return;
    }
    if (remove)
        withRetry(display, [&]() -> Failure {
            const int parent = stack.innermost().source.fd();
            if (unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOTEMPTY)
                return errnoCode(errno);
            return {};
        });
}

void CopyEngine::copyEntry(FolderStack& stack, const DirectoryReader::Entry& entry) {
    std::string name(entry.name);
    const Text windowsName = DriveMapping::windowsNameOf(entry.name);
    Text display = display_ + windowsName;
    unsigned char type = entry.type;
    struct stat st;
    if (type == DT_UNKNOWN &&
        fstatat(stack.innermost().source.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        type = IFTODT(st.st_mode); // else the job looks again, and reports what it finds
    if (type != DT_DIR) {
        ++filesMet_;
        handOut(stack.innermost(), std::move(name), std::move(display), type);
        return;
    }
    if (pool_)
        sendBatch();
    progress_.currentFile = display;
    showProgress();
    withRetry(display, [&]() -> Failure { return enterFolder(stack, name, windowsName); });
}

void CopyEngine::keepForTheLastSync(int folder, dev_t device) {
    for (const UniqueFd& kept : otherFileSystems_) {
        FolderIdentity identity;
        if (identityOf(kept.get(), identity) && identity.device == device)
            return;
    }
    if (UniqueFd held{openat(folder, ".", kOpenFolder)})
        otherFileSystems_.push_back(std::move(held));
}

Failure CopyEngine::enterFolder(FolderStack& stack, const std::string& name,
                                const Text& windowsName) {
    const int srcFolder = stack.innermost().source.fd();
    const int dstFolder = stack.innermost().destination.get();
    UniqueFd source(openat(srcFolder, name.c_str(), kOpenFolder));
    struct stat st;
    if (!source || fstat(source.get(), &st) != 0)
        return errnoCode(errno);
    if (FolderIdentity{st.st_dev, st.st_ino} == destinationIdentity_)
        return make_error_code(PellatrixError::CopyIntoItself); // moved into the source meanwhile
    bool existed = false;
    // The owner keeps every right on the folders: a copy of a read-only folder must still
    // take its files (and Windows has no read-only folders).
    if (mkdirat(dstFolder, name.c_str(), (st.st_mode & 0777) | S_IRWXU) != 0) {
        if (errno != EEXIST)
            return errnoCode(errno);
        struct stat there;
        if (fstatat(dstFolder, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoCode(errno);
        if (S_ISLNK(there.st_mode)) {
            // A link where a folder goes is replaced, never followed.
            if (unlinkat(dstFolder, name.c_str(), 0) != 0 ||
                mkdirat(dstFolder, name.c_str(), (st.st_mode & 0777) | S_IRWXU) != 0)
                return errnoCode(errno);
        } else if (S_ISDIR(there.st_mode)) {
            existed = true;
        } else {
            return errnoCode(ENOTDIR); // a file stands where the folder must go: keep it
        }
    }
    UniqueFd destination(openat(dstFolder, name.c_str(), kOpenFolder));
    FolderIdentity identity;
    if (!destination || !identityOf(destination.get(), identity))
        return errnoCode(errno);
    if (identity.device != destinationIdentity_.device)
        keepForTheLastSync(destination.get(), identity.device);
    copyDosAttributes(source.get(), destination.get());
    if (existed)
        removeAbandonedTemporaries(destination.get());
    // The level that this one puts aside closes its descriptors: its jobs end first.
    if (stack.pushPutsAside()) {
        const std::shared_ptr<FolderJobs> jobs = stack.nextPutAside().jobs;
        if (jobs && jobs->pending > 0)
            waitUntil([&] { return jobs->pending == 0; });
    }
    display_ += windowsName + u"\\";
    stack.push({name, DirectoryReader(std::move(source)), std::move(destination), identity,
                display_.size()});
    return {};
}

CopyOutcome copyMatchingEntries(const CopyRequest& request, CopyObserver& observer) {
    return CopyEngine(request, observer).run();
}

} // namespace pellatrix::linuxos
