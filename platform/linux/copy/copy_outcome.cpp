// The copy engine's outcome: the run as a whole, the progress shown, and what each job gave,
// asked about until it succeeds or the person skips or cancels.
#include "platform/linux/copy/copy_engine_parts.h"

namespace pellatrix::linuxos {

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

} // namespace pellatrix::linuxos
