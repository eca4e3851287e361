// The copy engine. One thread, the one that called it, reads the source tree from descriptors
// (the source folder and the destination folder, each opened once below its drive's root),
// makes the folders, and hands the files to a few copying threads; it alone talks to the
// observer: progress, questions, cancel. A loop over a FolderStack rather than a recursion:
// no path is resolved twice, no link is followed, and the depth of the tree costs neither
// descriptors nor stack. A thread of its own counts the source meanwhile, for the totals.
#include "copy_engine.h"

#include "beneath.h"
#include "copy_medium.h"
#include "descriptor_limit.h"
#include "disk_sync.h"
#include "drive_mapping.h"
#include "file_attributes.h"
#include "file_copy.h"
#include "folder_stack.h"
#include "source_count.h"
#include "wildcard_match.h"
#include "worker_pool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace pellatrix::linux {

// The jobs handed out for one folder. Once the walk has left the folder, its level (and so
// its descriptors) stays here until the last of them is done. Main thread only.
struct FolderJobs {
    std::size_t pending = 0;
    std::optional<FolderStack::Level> kept;
};

namespace {

constexpr auto kLockPollInterval = std::chrono::milliseconds(100);
// How often the thread that walks looks at the cancel request and the display while it waits
// for the copying threads.
constexpr auto kWaitInterval = std::chrono::milliseconds(50);
// The files of one folder go to the copying threads together, up to so many: one handing over
// per folder rather than per file. Batches handed out and not yet handled, per copying thread:
// enough that none waits for work.
constexpr std::size_t kFilesPerBatch = 64;
constexpr std::size_t kBatchesPerThread = 3;
// Files written and waiting to be put in place, each with its descriptor open, handed over so
// many at a time (at most twice as many at once): as many as one sync before their renames
// should cover, fewer where the process may open only a few descriptors.
std::size_t writtenPerBatch() {
    return std::clamp<std::size_t>(descriptorsAllowed() / 16, 2, kFilesPerBatch);
}

// Who does what of a file's copy.
enum class Share {
    Alone,  // the walking thread, everything
    Whole,  // copying threads, each file whole; large ones are left to the walking thread
    Finish, // the walking thread reads and writes; one thread puts the copies in place
};
// Folders left by the walk whose jobs are still running: each keeps two descriptors open.
constexpr std::size_t kFoldersLeftRunning = 2;

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

// Copies the hidden and system attributes of a folder, where it has them.
void copyDosAttributes(int from, int to) {
    char dos[64];
    const ssize_t length = fgetxattr(from, kDosAttributeName, dos, sizeof dos);
    if (length > 0)
        fsetxattr(to, kDosAttributeName, dos, static_cast<std::size_t>(length), 0);
}

// A file, link or other entry to copy, and what copying it gave.
struct Job {
    int srcFolder = -1; // the descriptors of its folders, open until the job is handled
    int dstFolder = -1;
    std::string name;
    Text display;
    unsigned char type = DT_UNKNOWN; // as listed; DT_UNKNOWN: look
    // Filled by the copying thread:
    Failure failure;
    std::uint64_t bytes = 0;
    bool large = false; // a large file, left to the walking thread (its source closed)
    struct stat status {};
    // Written by the walking thread, to be put in place; or placed beside the file it
    // replaces, to be renamed over it after the batch's sync.
    FileCopy::Written written;
    bool sourceToRemove = false; // a move's source, removed after the batch's sync
};

// Files of one folder handed to a copying thread together.
struct Batch {
    std::shared_ptr<FolderJobs> folder;
    std::vector<Job> jobs;
};

// The chunks of a file copied on a copying thread: they show nothing, and stop on a cancel.
class QuietChunks : public FileCopy::Chunks {
  public:
    explicit QuietChunks(const std::atomic<bool>& cancel) : cancel_(cancel) {}
    bool cancelled() override { return cancel_.load(std::memory_order_relaxed); }
    void copied(std::uint64_t) override {}

  private:
    const std::atomic<bool>& cancel_;
};

class CopyEngine {
  public:
    CopyEngine(const CopyRequest& request, CopyObserver& observer)
        : request_(request), observer_(observer), files_(processUmask()) {}

    CopyOutcome run();

  private:
    // The chunks of a file copied on the walking thread: a large file shows its progress
    // chunk by chunk, and the cancel request is looked at between chunks.
    class ShownChunks : public FileCopy::Chunks {
      public:
        ShownChunks(CopyEngine& engine, const Job& job)
            : engine_(engine), job_(job), start_(engine.progress_.bytesDone) {}
        bool cancelled() override { return engine_.stopped(); }
        void copied(std::uint64_t bytes) override {
            engine_.progress_.bytesDone = start_ + bytes;
            if (FileCopy::isLarge(job_.status))
                engine_.showProgress();
        }

      private:
        CopyEngine& engine_;
        const Job& job_;
        std::uint64_t start_;
    };

    bool matches(std::string_view name) const {
        return matchesWildcard(request_.pattern, DriveMapping::windowsNameOf(name));
    }
    bool openSource();
    bool openDestination();
    Failure refuseDestinationInsideSource(int root, std::string path);
    Failure waitForOtherCopies(int folder);
    void copyTree();
    bool openTopDestination(FolderStack::Level& top);
    void leaveFolder(FolderStack& stack);
    void copyEntry(FolderStack& stack, const DirectoryReader::Entry& entry);
    Failure enterFolder(FolderStack& stack, const std::string& name, const Text& windowsName);
    void handOut(FolderStack::Level& folder, std::string name, Text display, unsigned char type);
    // Hands the batch being filled to the copying threads.
    void sendBatch();
    // The three ways of copying an entry. copyWhole: all of it, here and now (the walking
    // thread alone, a large file, a retry).
    Failure copyWhole(Job& job, FileCopy::Chunks& chunks);
    // On a copying thread: all but a large file, which is left to the walking thread, and the
    // rename of a file over an old one, which waits for the batch's sync (finishBatch).
    Failure copyOnThread(Job& job, FileCopy::Chunks& chunks);
    // On the walking thread, with a thread that finishes: a small file is only written.
    Failure writeForFinishing(Job& job, FileCopy::Chunks& chunks);
    // A link or what is not a file, whole.
    Failure copyOther(Job& job, unsigned char type);
    // Syncs the destination and renames the batch's copies over the files they replace; a
    // move's sources go once their copies are on the disk.
    void finishBatch(Batch& batch);
    // Once a copy is in place, a move removes its source; synced: the copy is on the disk.
    Failure removeMovedSource(const Job& job, bool synced) const;
    void runOnCopyingThread(Batch& batch);
    // On the walking thread: what a job gave, a large file copied, a failure asked about.
    void handle(Job& job, FolderJobs& folder);
    // Handles the jobs done so far; waits up to `wait` for one when there are none yet.
    void handleDone(std::chrono::milliseconds wait);
    // Waits until `done` holds, handling jobs, looking at the cancel request meanwhile.
    template <typename Done> void waitUntil(Done done);
    void removeAbandonedTemporaries(int folderFd);
    // The folder being listed, as the person knows it: display_ without its separator.
    Text folderDisplay() const { return display_.substr(0, display_.size() - 1); }
    // Asks about failure until an attempt succeeds or the person skips or cancels. True on
    // success.
    template <typename Attempt>
    bool askUntilDone(const Text& display, Failure failure, Attempt attempt);
    // Runs attempt, and asks as askUntilDone does when it fails.
    template <typename Attempt> bool withRetry(const Text& display, Attempt attempt) {
        return askUntilDone(display, attempt(), attempt);
    }
    bool stopped() {
        if (!outcome_.cancelled && observer_.cancelRequested())
            outcome_.cancelled = true;
        if (outcome_.cancelled)
            cancel_ = true;
        return outcome_.cancelled;
    }
    // Shows the progress, with the totals as far as they are known.
    void showProgress();

    const CopyRequest& request_;
    CopyObserver& observer_;
    FileCopy files_;
    CopyProgress progress_;
    CopyOutcome outcome_;
    std::atomic<bool> cancel_{false}; // stopped(), for the copying threads
    UniqueFd source_;
    FolderIdentity sourceIdentity_;
    std::optional<SourceCount> count_;
    std::uint64_t filesMet_ = 0; // files, links and other entries met by the copy so far
    UniqueFd lock_;              // the destination's parent, locked while this copy runs
    UniqueFd destination_;
    FolderIdentity destinationIdentity_;
    Text display_; // the folder being copied, as the person knows it, ending in "\"
    WorkerPool<Batch>* pool_ = nullptr; // while copyTree runs with copying threads
    Share share_ = Share::Alone;
    std::size_t writtenPerBatch_ = writtenPerBatch();
    std::unique_ptr<Batch> batch_; // being filled with files of the innermost folder
    std::size_t foldersLeftRunning_ = 0;
};

template <typename Attempt>
bool CopyEngine::askUntilDone(const Text& display, Failure failure, Attempt attempt) {
    for (;;) {
        if (!failure)
            return true;
        if (stopped())
            return false; // cancelled while it ran: nothing to ask
        switch (observer_.copyFailed(display, failure)) {
        case ErrorDecision::Retry:
            failure = attempt();
            continue;
        case ErrorDecision::Skip:
            ++outcome_.failures;
            return false;
        case ErrorDecision::Cancel:
            ++outcome_.failures;
            outcome_.cancelled = true;
            cancel_ = true;
            return false;
        }
    }
}

CopyOutcome CopyEngine::run() {
    const auto finish = [&] {
        if (count_) {
            progress_.filesTotal = count_->files();
            progress_.bytesTotal = count_->bytes();
            count_.reset();
        }
        progress_.filesTotal = std::max(progress_.filesTotal, filesMet_);
        progress_.bytesTotal = std::max(progress_.bytesTotal, progress_.bytesDone);
        observer_.finished(progress_);
    };
    try {
        if (openSource()) {
            count_.emplace(source_.get(), [this](std::string_view name) { return matches(name); });
            copyTree();
        }
    } catch (...) {
        finish();
        throw;
    }
    finish();
    return outcome_;
}

void CopyEngine::showProgress() {
    if (count_) {
        progress_.filesTotal = std::max(count_->files(), filesMet_);
        progress_.bytesTotal = std::max(count_->bytes(), progress_.bytesDone);
    }
    observer_.progress(progress_);
}

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
    // one sync of the destination's file system.
    if (destination_)
        withRetry(request_.destinationDisplay, [&]() -> Failure {
            return syncFileSystemOf(destination_.get()) == 0 ? Failure() : errnoCode(errno);
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

void CopyEngine::handOut(FolderStack::Level& folder, std::string name, Text display,
                         unsigned char type) {
    Job job;
    job.srcFolder = folder.source.fd();
    job.dstFolder = folder.destination.get();
    job.name = std::move(name);
    job.display = std::move(display);
    job.type = type;
    if (!folder.jobs)
        folder.jobs = std::make_shared<FolderJobs>();
    ++folder.jobs->pending;
    progress_.currentFile = job.display;
    showProgress();
    if (share_ != Share::Whole) {
        // Read and written here and now, as it comes; handle() counts its bytes.
        const std::uint64_t bytesBefore = progress_.bytesDone;
        ShownChunks chunks(*this, job);
        job.failure =
            share_ == Share::Finish ? writeForFinishing(job, chunks) : copyWhole(job, chunks);
        progress_.bytesDone = bytesBefore;
        if (job.failure || !job.written.fd) {
            handle(job, *folder.jobs); // done, or failed
            return;
        }
    }
    if (batch_ && batch_->folder != folder.jobs)
        sendBatch();
    if (!batch_) {
        batch_ = std::make_unique<Batch>();
        batch_->folder = folder.jobs;
    }
    batch_->jobs.push_back(std::move(job));
    if (batch_->jobs.size() >= (share_ == Share::Whole ? kFilesPerBatch : writtenPerBatch_))
        sendBatch();
}

void CopyEngine::sendBatch() {
    if (!batch_)
        return;
    const std::size_t most = share_ == Share::Whole ? kBatchesPerThread * pool_->threads() : 1;
    if (pool_->pending() >= most)
        waitUntil([&] { return pool_->pending() < most; });
    pool_->submit(std::move(batch_));
    handleDone(std::chrono::milliseconds(0));
}

// The entry's type as listed, or as it is now where the listing did not say.
Failure typeOf(const Job& job, unsigned char& type) {
    type = job.type;
    if (type != DT_UNKNOWN)
        return {};
    struct stat st;
    if (fstatat(job.srcFolder, job.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errnoCode(errno);
    type = IFTODT(st.st_mode);
    return {};
}

Failure CopyEngine::copyWhole(Job& job, FileCopy::Chunks& chunks) {
    unsigned char type = DT_UNKNOWN;
    if (const Failure failure = typeOf(job, type))
        return failure;
    Failure failure;
    if (type == DT_REG) {
        UniqueFd source;
        if ((failure = FileCopy::openSource(job.srcFolder, job.name.c_str(), source, job.status)))
            return failure;
        job.bytes = static_cast<std::uint64_t>(job.status.st_size);
        failure =
            files_.copyFile(source.get(), job.status, job.dstFolder, job.name.c_str(), chunks);
    } else {
        failure = copyOther(job, type);
    }
    return failure ? failure : removeMovedSource(job, false);
}

Failure CopyEngine::copyOnThread(Job& job, FileCopy::Chunks& chunks) {
    unsigned char type = DT_UNKNOWN;
    if (const Failure failure = typeOf(job, type))
        return failure;
    Failure failure;
    if (type == DT_REG) {
        UniqueFd source;
        if ((failure = FileCopy::openSource(job.srcFolder, job.name.c_str(), source, job.status)))
            return failure;
        job.bytes = static_cast<std::uint64_t>(job.status.st_size);
        // Its source is closed meanwhile: no descriptor waits for the walking thread.
        job.large = FileCopy::isLarge(job.status);
        if (job.large)
            return {};
        failure = files_.write(source.get(), job.status, job.dstFolder, chunks, job.written);
        if (!failure)
            failure = files_.place(job.written, job.dstFolder, job.name.c_str());
    } else {
        failure = copyOther(job, type);
    }
    job.sourceToRemove = !failure && request_.move;
    return failure;
}

Failure CopyEngine::writeForFinishing(Job& job, FileCopy::Chunks& chunks) {
    unsigned char type = DT_UNKNOWN;
    if (const Failure failure = typeOf(job, type))
        return failure;
    if (type != DT_REG)
        return copyWhole(job, chunks);
    UniqueFd source;
    if (const Failure failure =
            FileCopy::openSource(job.srcFolder, job.name.c_str(), source, job.status))
        return failure;
    job.bytes = static_cast<std::uint64_t>(job.status.st_size);
    if (FileCopy::isLarge(job.status)) {
        const Failure failure =
            files_.copyFile(source.get(), job.status, job.dstFolder, job.name.c_str(), chunks);
        return failure ? failure : removeMovedSource(job, false);
    }
    return files_.write(source.get(), job.status, job.dstFolder, chunks, job.written);
}

Failure CopyEngine::copyOther(Job& job, unsigned char type) {
    if (type == DT_LNK)
        return files_.copyLink(job.srcFolder, job.dstFolder, job.name.c_str());
    if (type == DT_DIR)
        return errnoCode(EISDIR);                     // a folder now, where a file was listed
    return make_error_code(PellatrixError::NotAFile); // a pipe, device or socket
}

void CopyEngine::finishBatch(Batch& batch) {
    bool syncNeeded = false;
    for (const Job& job : batch.jobs)
        syncNeeded |= !job.failure && (job.written.replacing || job.sourceToRemove);
    if (!syncNeeded)
        return;
    // One folder's files: one sync covers them all.
    const int folder = batch.jobs.front().dstFolder;
    const Failure synced = syncFileSystemOf(folder) == 0 ? Failure() : errnoCode(errno);
    for (Job& job : batch.jobs) {
        if (job.failure)
            continue;
        if (job.written.replacing)
            job.failure =
                synced ? synced : FileCopy::replace(job.written, folder, job.name.c_str());
        if (job.written.replacing) // not synced: the old file stays
            FileCopy::discard(job.written, folder);
        if (!job.failure && job.sourceToRemove)
            job.failure = synced ? synced : removeMovedSource(job, true);
    }
}

Failure CopyEngine::removeMovedSource(const Job& job, bool synced) const {
    if (!request_.move)
        return {};
    if (!synced && syncFileSystemOf(job.dstFolder) != 0)
        return errnoCode(errno); // the source stays while its copy may not be on the disk
    if (unlinkat(job.srcFolder, job.name.c_str(), 0) != 0)
        return errnoCode(errno);
    return {};
}

void CopyEngine::runOnCopyingThread(Batch& batch) {
    QuietChunks chunks(cancel_);
    for (Job& job : batch.jobs) {
        if (cancel_.load(std::memory_order_relaxed)) {
            FileCopy::discard(job.written, job.dstFolder);
            job.failure = errnoCode(ECANCELED);
            continue;
        }
        if (job.written.fd) {
            // Written by the walking thread: put in place.
            job.failure = files_.place(job.written, job.dstFolder, job.name.c_str());
            job.sourceToRemove = !job.failure && request_.move;
            continue;
        }
        try {
            job.failure = copyOnThread(job, chunks);
        } catch (const std::bad_alloc&) {
            job.failure = errnoCode(ENOMEM);
        }
    }
    finishBatch(batch);
}

void CopyEngine::handle(Job& job, FolderJobs& folder) {
    const std::uint64_t bytesBefore = progress_.bytesDone;
    Failure failure = job.failure;
    // Not begun, or stopped part-way, after a cancel: nothing to count, nothing to ask.
    const bool dropped = failure == std::errc::operation_canceled && outcome_.cancelled;
    if (!failure && job.large) {
        // A large file is copied here, where its progress can be shown chunk by chunk.
        progress_.currentFile = job.display;
        ShownChunks chunks(*this, job);
        failure = copyWhole(job, chunks);
    } else if (!failure) {
        progress_.bytesDone += job.bytes;
    }
    if (!dropped) {
        const bool copied = askUntilDone(job.display, failure, [&] {
            progress_.bytesDone = bytesBefore; // a retry starts the file again
            job.type = DT_UNKNOWN;             // and looks again: the entry may have changed
            ShownChunks chunks(*this, job);
            return copyWhole(job, chunks);
        });
        ++progress_.filesDone;
        if (!copied)
            progress_.bytesDone = bytesBefore; // its bytes were not copied after all
    }
    if (--folder.pending == 0 && folder.kept) {
        folder.kept.reset();
        --foldersLeftRunning_;
    }
}

void CopyEngine::handleDone(std::chrono::milliseconds wait) {
    for (const std::unique_ptr<Batch>& batch : pool_->collect(wait))
        for (Job& job : batch->jobs)
            handle(job, *batch->folder);
}

template <typename Done> void CopyEngine::waitUntil(Done done) {
    while (pool_ && !done()) {
        handleDone(kWaitInterval);
        stopped();
    }
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

} // namespace

CopyOutcome copyMatchingEntries(const CopyRequest& request, CopyObserver& observer) {
    return CopyEngine(request, observer).run();
}

} // namespace pellatrix::linux
