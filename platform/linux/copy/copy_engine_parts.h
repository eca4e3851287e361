// The copy engine's parts, shared by the files that each do one of its jobs:
// copy_engine.cpp walks the medium, copy_destination.cpp keeps the destination safe,
// copy_jobs.cpp hands files to the copying threads and copies them, copy_outcome.cpp retries,
// shows the progress and counts the outcome.
#pragma once

#include "platform/linux/copy/copy_engine.h"
#include "platform/linux/copy/file_copy.h"
#include "platform/linux/copy/source_count.h"
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/linux/sys/descriptor_limit.h"
#include "platform/linux/sys/folder_stack.h"
#include "platform/linux/sys/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <dirent.h>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace pellatrix::linuxos {

// The jobs handed out for one folder. Once the walk has left the folder, its level (and so
// its descriptors) stays here until the last of them is done. Main thread only.
struct FolderJobs {
    std::size_t pending = 0;
    std::optional<FolderStack::Level> kept;
};

inline constexpr auto kLockPollInterval = std::chrono::milliseconds(100);
// How often the thread that walks looks at the cancel request and the display while it waits
// for the copying threads.
inline constexpr auto kWaitInterval = std::chrono::milliseconds(50);
// The files of one folder go to the copying threads together, up to so many: one handing over
// per folder rather than per file. Batches handed out and not yet handled, per copying thread:
// enough that none waits for work.
inline constexpr std::size_t kFilesPerBatch = 64;
inline constexpr std::size_t kBatchesPerThread = 3;
// Files written and waiting to be put in place, each with its descriptor open, handed over so
// many at a time (at most twice as many at once): as many as one sync before their renames
// should cover, fewer where the process may open only a few descriptors.
inline std::size_t writtenPerBatch() {
    return std::clamp<std::size_t>(descriptorsAllowed() / 16, 2, kFilesPerBatch);
}

// Who does what of a file's copy.
enum class Share {
    Alone,  // the walking thread, everything
    Whole,  // copying threads, each file whole; large ones are left to the walking thread
    Finish, // the walking thread reads and writes; one thread puts the copies in place
};
// Folders left by the walk whose jobs are still running: each keeps two descriptors open.
inline constexpr std::size_t kFoldersLeftRunning = 2;

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
    // Keeps a folder of another file system than the destination's, one per file system.
    void keepForTheLastSync(int folder, dev_t device);
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
    // The job's type (as listed, else looked up without following a link) and, for a regular
    // file, its source opened and its size counted.
    Failure openJobSource(Job& job, unsigned char& type, UniqueFd& source);
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
    // A folder on each other file system mounted below the destination that the copy wrote
    // into: synced with the destination's at the end.
    std::vector<UniqueFd> otherFileSystems_;
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

template <typename Done> void CopyEngine::waitUntil(Done done) {
    while (pool_ && !done()) {
        handleDone(kWaitInterval);
        stopped();
    }
}

} // namespace pellatrix::linuxos
