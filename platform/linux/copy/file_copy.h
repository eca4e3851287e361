// Copying one file or link into an open folder, the same on every thread that copies.
//
// A file never appears half-written under its real name: it is written as an unnamed file
// (O_TMPFILE), or a temporary ".pellatrix-tmp-<process>-..." where the file system has no
// unnamed files, and linked or renamed into place only when complete. One that replaces an old
// file is renamed over it only once its data is on the disk (the caller syncs a batch of them
// first), so a power cut leaves the old file or the new one, never an empty one. A source that
// changes while it is read is copied again, and reported when it keeps changing: never a mix
// of old and new bytes. It gets its source's permission bits within the umask, its times, and
// its hidden and system attributes (user.DOSATTRIB); holes stay holes. Links are copied as
// links; pipes, devices and sockets are refused without ever blocking on one.
#pragma once

#include "platform/linux/copy/copy_failure.h"
#include "platform/linux/sys/unique_fd.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace pellatrix::linuxos {

class FileCopy {
  public:
    // Polled between the chunks of a file's data, on the thread that copies it.
    class Chunks {
      public:
        virtual ~Chunks() = default;
        // True to stop: the copy then fails with ECANCELED and leaves nothing behind.
        virtual bool cancelled() = 0;
        // So many bytes of the file are copied so far.
        virtual void copied(std::uint64_t bytes) = 0;
    };

    // umask: the process's, for a file whose mode is set after it is made.
    explicit FileCopy(mode_t umask) : umask_(umask) {}

    // Opens the file `name` in the folder srcFolder for copying and reads its status: fails
    // for anything but a regular file (PellatrixError::NotAFile), without blocking on a pipe.
    static Failure openSource(int srcFolder, const char* name, UniqueFd& source,
                              struct stat& status);
    // Whether a file is big enough for its copy to be shown chunk by chunk.
    static bool isLarge(const struct stat& status);

    // Copies the open source file (status: its fstat, updated when it changes meanwhile) into
    // dstFolder as `name`, replacing what is there unless it is a folder: write, place, and
    // where it replaces a file, sync and replace.
    Failure copyFile(int source, struct stat& status, int dstFolder, const char* name,
                     Chunks& chunks);

    // A copy whose data is written, not yet in place: unnamed, or under a temporary name.
    struct Written {
        UniqueFd fd;
        std::string temporaryName; // empty while it is unnamed
        std::string dos;           // the hidden and system attributes to store, as stored
        mode_t modeAfter = 0;      // the mode to give it once dos is stored; 0: it has it
        struct timespec times[2] = {};
        // Placed under temporaryName beside an entry it replaces: replace() once synced.
        bool replacing = false;
    };
    // Reads all that is needed from the open source file, and writes its copy into dstFolder.
    // A source whose size, modification or change time differ after the copy from before is
    // copied again, a few times; then it fails with ChangedWhileCopied. status: its fstat
    // before, and on success the one that the copy matches.
    Failure write(int source, struct stat& status, int dstFolder, Chunks& chunks, Written& written);
    // Gives the written copy its attributes and times, and names it: `name` when nothing has
    // it, else a temporary, with `replacing` set. On failure nothing of it is left.
    Failure place(Written& written, int dstFolder, const char* name);
    // Renames a copy placed `replacing` over the old entry `name`: call once a sync of the
    // folder's file system has put its data on the disk. On failure it is removed.
    static Failure replace(Written& written, int dstFolder, const char* name);
    // Removes a written copy that is not to be placed.
    static void discard(Written& written, int dstFolder);
    // Copies the link `name` of srcFolder into dstFolder as a link with the same target.
    Failure copyLink(int srcFolder, int dstFolder, const char* name);

  private:
    Failure writeOnce(int source, const struct stat& status, int dstFolder, Chunks& chunks,
                      Written& written);
    Failure copyData(int from, int to, const struct stat& status, Chunks& chunks);
    Failure copyRange(int from, int to, off_t& at, off_t end, bool& kernelCopy, Chunks& chunks);
    // Whether copy_file_range is known not to copy from the device `from` to that of `to`.
    bool kernelCopyRefused(dev_t from, int to);
    void refuseKernelCopy(dev_t from, int to);
    std::string nextTemporaryName();

    const mode_t umask_;
    // Pairs of file systems (source, destination) between which copy_file_range is refused
    // (EXDEV and the like: other file systems, old kernels): the data goes through a buffer.
    std::mutex refusedMutex_;
    std::vector<std::pair<dev_t, dev_t>> kernelCopyRefused_;
    std::atomic<bool> anyKernelCopyRefused_{false};
    // A file system on which user.DOSATTRIB cannot be read at all (ENOTSUP): not asked again.
    std::atomic<dev_t> withoutAttributes_{static_cast<dev_t>(-1)};
    std::atomic<unsigned> temporaryCounter_{0};
};

} // namespace pellatrix::linuxos
