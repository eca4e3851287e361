// The copy engine's jobs and threads: the files of a folder go to the copying threads in
// batches, each copied in one of three ways, and what they give comes back to the walking
// thread.
#include "platform/linux/copy/copy_engine_parts.h"

#include "platform/linux/sys/file_system_sync.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pellatrix::linuxos {

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

namespace {

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

} // namespace

Failure CopyEngine::openJobSource(Job& job, unsigned char& type, UniqueFd& source) {
    if (const Failure failure = typeOf(job, type))
        return failure;
    if (type != DT_REG)
        return {};
    if (const Failure failure =
            FileCopy::openSource(job.srcFolder, job.name.c_str(), source, job.status))
        return failure;
    job.bytes = static_cast<std::uint64_t>(job.status.st_size);
    return {};
}

Failure CopyEngine::copyWhole(Job& job, FileCopy::Chunks& chunks) {
    unsigned char type = DT_UNKNOWN;
    UniqueFd source;
    if (const Failure failure = openJobSource(job, type, source))
        return failure;
    const Failure failure =
        type == DT_REG
            ? files_.copyFile(source.get(), job.status, job.dstFolder, job.name.c_str(), chunks)
            : copyOther(job, type);
    return failure ? failure : removeMovedSource(job, false);
}

Failure CopyEngine::copyOnThread(Job& job, FileCopy::Chunks& chunks) {
    unsigned char type = DT_UNKNOWN;
    UniqueFd source;
    if (const Failure failure = openJobSource(job, type, source))
        return failure;
    Failure failure;
    if (type == DT_REG) {
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
    UniqueFd source;
    if (const Failure failure = openJobSource(job, type, source))
        return failure;
    if (type == DT_REG && !FileCopy::isLarge(job.status))
        return files_.write(source.get(), job.status, job.dstFolder, chunks, job.written);
    const Failure failure =
        type == DT_REG
            ? files_.copyFile(source.get(), job.status, job.dstFolder, job.name.c_str(), chunks)
            : copyOther(job, type);
    return failure ? failure : removeMovedSource(job, false);
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
    const Failure synced = syncFileSystem(folder) ? Failure() : errnoCode(errno);
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
    if (!synced && !syncFileSystem(job.dstFolder))
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

void CopyEngine::handleDone(std::chrono::milliseconds wait) {
    for (const std::unique_ptr<Batch>& batch : pool_->collect(wait))
        for (Job& job : batch->jobs)
            handle(job, *batch->folder);
}

} // namespace pellatrix::linuxos
