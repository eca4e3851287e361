// Copying one file or link into an open folder, the same on every thread that copies.
//
// A file never appears half-written under its real name: it is written as an unnamed file
// (O_TMPFILE), or a temporary ".pellatrix-tmp-<process>-..." where the file system has no
// unnamed files, and linked or renamed into place only when complete. It gets its source's
// permission bits within the umask, its times, and its hidden and system attributes
// (user.DOSATTRIB); holes stay holes. Links are copied as links; pipes, devices and sockets are
// refused without ever blocking on one.
#pragma once

#include "platform/linux/sys/unique_fd.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <system_error>

namespace pellatrix::linuxos {

// What one attempt gave: empty when it succeeded.
using Failure = std::error_code;

inline Failure errnoCode(int error) {
    return {error, std::generic_category()};
}

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

    // Copies the open source file (status: its fstat) into dstFolder as `name`, replacing
    // what is there unless it is a folder: write, then place.
    Failure copyFile(int source, const struct stat& status, int dstFolder, const char* name,
                     Chunks& chunks);

    // A copy whose data is written, not yet in place: unnamed, or under a temporary name.
    struct Written {
        UniqueFd fd;
        std::string temporaryName; // empty while it is unnamed
        std::string dos;           // the hidden and system attributes to store, as stored
        mode_t modeAfter = 0;      // the mode to give it once dos is stored; 0: it has it
        struct timespec times[2] = {};
    };
    // Reads all that is needed from the open source file, and writes its copy into dstFolder.
    Failure write(int source, const struct stat& status, int dstFolder, Chunks& chunks,
                  Written& written);
    // Gives the written copy its attributes and times, and puts it in place as `name`; on any
    // way out, nothing of it is left but the file in place.
    Failure place(Written& written, int dstFolder, const char* name);
    // Removes a written copy that is not to be placed.
    static void discard(Written& written, int dstFolder);
    // Copies the link `name` of srcFolder into dstFolder as a link with the same target.
    Failure copyLink(int srcFolder, int dstFolder, const char* name);

  private:
    Failure copyData(int from, int to, const struct stat& status, Chunks& chunks);
    Failure copyRange(int from, int to, off_t& at, off_t end, Chunks& chunks);
    Failure placeFile(int tmpFd, const std::string& tmpName, int dstFolder, const char* name);
    std::string nextTemporaryName();

    const mode_t umask_;
    // Set once copy_file_range has been refused here (other file systems, old kernels): the
    // data then goes through a buffer.
    std::atomic<bool> kernelCopyRefused_{false};
    // A file system on which user.DOSATTRIB cannot be read at all (ENOTSUP): not asked again.
    std::atomic<dev_t> withoutAttributes_{static_cast<dev_t>(-1)};
    std::atomic<unsigned> temporaryCounter_{0};
};

} // namespace pellatrix::linuxos
