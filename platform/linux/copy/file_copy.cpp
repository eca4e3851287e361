// Copying one file or link.
#include "platform/linux/copy/file_copy.h"

#include "platform/linux/files/file_attributes.h"
#include "platform/linux/sys/file_system_sync.h"
#include "platform/linux/sys/temporary_names.h"
#include "platform/platform_error.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/xattr.h>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

constexpr std::size_t kChunk = 8 << 20;      // bytes per copy_file_range call
constexpr std::size_t kBufferSize = 1 << 20; // the read/write fallback's buffer
// O_NONBLOCK: a pipe swapped in for a file must not block the open; fstat then refuses it.
constexpr int kOpenSourceFile = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Copies of a source that changes while it is read, before it is reported.
constexpr int kCopiesOfAChangingFile = 3;

// Links the unnamed file tmpFd into dstFolder as name. linkat with AT_EMPTY_PATH names the
// file straight from its descriptor; kernels before 6.10 allow that only to privileged
// processes, and then the file is reached through /proc, whose lookup costs more. Only a link
// refused by descriptor and made through /proc shows that rule: an ENOENT because the folder
// is gone, say, changes nothing for later files.
int linkUnnamed(int tmpFd, int dstFolder, const char* name) {
    static std::atomic<bool> emptyPathRefused{false};
    const bool tried = !emptyPathRefused.load(std::memory_order_relaxed);
    if (tried) {
        const int result = linkat(tmpFd, "", dstFolder, name, AT_EMPTY_PATH);
        if (result == 0 || (errno != ENOENT && errno != EPERM))
            return result;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(tmpFd);
    const int result = linkat(AT_FDCWD, self.c_str(), dstFolder, name, AT_SYMLINK_FOLLOW);
    if (result == 0 && tried)
        emptyPathRefused = true;
    return result;
}

// Whether the file is the same version as when status was read.
bool unchanged(const struct stat& before, const struct stat& after) {
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return before.st_size == after.st_size && same(before.st_mtim, after.st_mtim) &&
           same(before.st_ctim, after.st_ctim);
}

// The file system that holds the open file fd; 0 when it cannot be told.
dev_t deviceOf(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? st.st_dev : 0;
}

// The buffer of the read/write fallback, one per copying thread, made when first needed.
char* fallbackBuffer() {
    thread_local std::unique_ptr<char[]> buffer;
    if (!buffer)
        buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    return buffer.get();
}

} // namespace

Failure FileCopy::openSource(int srcFolder, const char* name, UniqueFd& source,
                             struct stat& status) {
    source = UniqueFd(openat(srcFolder, name, kOpenSourceFile));
    if (!source || fstat(source.get(), &status) != 0)
        return errnoCode(errno);
    if (!S_ISREG(status.st_mode))
        return make_error_code(PellatrixError::NotAFile); // swapped in since it was listed
    return {};
}

bool FileCopy::isLarge(const struct stat& status) {
    return static_cast<std::uint64_t>(status.st_size) > kChunk;
}

Failure FileCopy::copyFile(int source, struct stat& status, int dstFolder, const char* name,
                           Chunks& chunks) {
    Written written;
    if (const Failure failure = write(source, status, dstFolder, chunks, written))
        return failure;
    if (const Failure failure = place(written, dstFolder, name))
        return failure;
    if (!written.replacing)
        return {};
    if (!syncFileSystem(dstFolder)) {
        const Failure failure = errnoCode(errno);
        discard(written, dstFolder);
        return failure;
    }
    return replace(written, dstFolder, name);
}

Failure FileCopy::write(int source, struct stat& status, int dstFolder, Chunks& chunks,
                        Written& written) {
    for (int copies = 1;; ++copies) {
        if (const Failure failure = writeOnce(source, status, dstFolder, chunks, written))
            return failure;
        struct stat after;
        if (fstat(source, &after) != 0) {
            const Failure failure = errnoCode(errno);
            discard(written, dstFolder);
            return failure;
        }
        if (unchanged(status, after))
            return {};
        // Changed meanwhile: the copy may hold old and new bytes, or new ones under the old
        // time. It goes, and the file is copied again as it is now.
        discard(written, dstFolder);
        status = after;
        if (copies == kCopiesOfAChangingFile)
            return make_error_code(PellatrixError::ChangedWhileCopied);
    }
}

Failure FileCopy::writeOnce(int source, const struct stat& status, int dstFolder, Chunks& chunks,
                            Written& written) {
    written = Written{};
    // The hidden and system attributes, where the source has them.
    char dos[64];
    ssize_t dosLength = -1;
    if (withoutAttributes_.load(std::memory_order_relaxed) != status.st_dev) {
        dosLength = fgetxattr(source, kDosAttributeName, dos, sizeof dos);
        if (dosLength < 0 && errno == ENOTSUP)
            withoutAttributes_ = status.st_dev;
    }
    if (dosLength > 0)
        written.dos.assign(dos, static_cast<std::size_t>(dosLength));
    // The file is made with the source's permission bits, which the kernel takes within the
    // umask as cp's copies do, so that no call is needed to set them. Storing an attribute
    // needs write permission, though: a read-only file that has one gets its mode after it.
    const mode_t mode = status.st_mode & 0777;
    if (dosLength > 0 && (mode & S_IWUSR) == 0)
        written.modeAfter = (mode & ~umask_) | S_IFREG;
    const mode_t createMode = written.modeAfter ? S_IRUSR | S_IWUSR : mode;
    written.times[0] = status.st_atim;
    written.times[1] = status.st_mtim;

    written.fd = UniqueFd(openat(dstFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode));
    if (!written.fd) {
        written.temporaryName = nextTemporaryName();
        written.fd =
            UniqueFd(openat(dstFolder, written.temporaryName.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode));
        if (!written.fd)
            return errnoCode(errno);
    }
    const Failure failure = copyData(source, written.fd.get(), status, chunks);
    if (failure)
        discard(written, dstFolder);
    return failure;
}

Failure FileCopy::place(Written& written, int dstFolder, const char* name) {
    const int fd = written.fd.get();
    Failure failure;
    if (!written.dos.empty() &&
        fsetxattr(fd, kDosAttributeName, written.dos.data(), written.dos.size(), 0) != 0 &&
        errno != ENOTSUP)
        failure = errnoCode(errno);
    if (!failure && written.modeAfter && fchmod(fd, written.modeAfter & 07777) != 0)
        failure = errnoCode(errno);
    if (!failure && futimens(fd, written.times) != 0)
        failure = errnoCode(errno);
    if (!failure && written.temporaryName.empty()) {
        // The unnamed file takes its real name, or a temporary one beside an entry it replaces.
        if (linkUnnamed(fd, dstFolder, name) == 0) {
            written.fd.reset();
            return {};
        }
        if (errno != EEXIST) {
            failure = errnoCode(errno);
        } else {
            const std::string temporary = nextTemporaryName();
            if (linkUnnamed(fd, dstFolder, temporary.c_str()) != 0)
                failure = errnoCode(errno);
            else
                written.temporaryName = temporary;
        }
    } else if (!failure) {
        if (renameat2(dstFolder, written.temporaryName.c_str(), dstFolder, name,
                      RENAME_NOREPLACE) == 0) {
            written = Written{};
            return {};
        }
        // EEXIST: an entry to replace; EINVAL: no such rename here, so it may be one too.
        if (errno != EEXIST && errno != EINVAL)
            failure = errnoCode(errno);
    }
    if (failure) {
        discard(written, dstFolder);
        return failure;
    }
    written.fd.reset();
    written.replacing = true;
    return {};
}

Failure FileCopy::replace(Written& written, int dstFolder, const char* name) {
    Failure failure;
    if (renameat(dstFolder, written.temporaryName.c_str(), dstFolder, name) != 0)
        // A folder stands where the file must go: it is kept.
        failure = errnoCode(errno == EISDIR || errno == ENOTEMPTY ? EISDIR : errno);
    if (failure)
        discard(written, dstFolder);
    written = Written{};
    return failure;
}

void FileCopy::discard(Written& written, int dstFolder) {
    if (!written.temporaryName.empty())
        unlinkat(dstFolder, written.temporaryName.c_str(), 0);
    written = Written{};
}

// Copies a file's data. Where the file has fewer blocks than its size asks for, it has holes:
// only its data parts are copied (SEEK_DATA, SEEK_HOLE) and the holes stay holes. Otherwise
// the size read before tells where the data ends, so a small file takes one call.
Failure FileCopy::copyData(int from, int to, const struct stat& status, Chunks& chunks) {
    off_t at = 0;
    bool kernelCopy = !kernelCopyRefused(status.st_dev, to);
    if (status.st_blocks * 512 >= status.st_size)
        // A file that says it is empty is read to its end all the same.
        return copyRange(from, to, at, status.st_size > 0 ? status.st_size : -1, kernelCopy,
                         chunks);
    for (;;) {
        const off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        if (data < 0)
            return copyRange(from, to, at, -1, kernelCopy, chunks); // no hole lookup here
        const off_t hole = lseek(from, data, SEEK_HOLE);
        if (hole < 0)
            return errnoCode(errno);
        at = data;
        if (const Failure failure = copyRange(from, to, at, hole, kernelCopy, chunks))
            return failure;
    }
    struct stat now;
    if (fstat(from, &now) != 0 || ftruncate(to, now.st_size) != 0)
        return errnoCode(errno);
    chunks.copied(static_cast<std::uint64_t>(now.st_size));
    return {};
}

// Copies [at, end) of from to the same place in to (end -1: up to the end of the file), with
// copy_file_range while kernelCopy holds, else through a buffer.
Failure FileCopy::copyRange(int from, int to, off_t& at, off_t end, bool& kernelCopy,
                            Chunks& chunks) {
    while (end < 0 || at < end) {
        if (chunks.cancelled())
            return errnoCode(ECANCELED);
        const std::size_t wanted =
            end < 0 ? kChunk : std::min<std::size_t>(kChunk, static_cast<std::size_t>(end - at));
        ssize_t n = -1;
        if (kernelCopy) {
            off_t in = at, out = at;
            n = copy_file_range(from, &in, to, &out, wanted, 0);
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP)) {
                // Not between these file systems (or on this kernel): never again here.
                refuseKernelCopy(deviceOf(from), to);
                kernelCopy = false;
                continue;
            }
            if (n < 0 && (errno == EINVAL || errno == EPERM)) {
                kernelCopy = false; // this file (opened for appending, say): read and write
                continue;
            }
        } else {
            char* buffer = fallbackBuffer();
            n = pread(from, buffer, std::min(wanted, kBufferSize), at);
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = pwrite(to, buffer + written,
                                         static_cast<std::size_t>(n - written), at + written);
                if (w < 0)
                    return errnoCode(errno);
                written += w;
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errnoCode(errno);
        }
        if (n == 0)
            break;
        at += n;
        chunks.copied(static_cast<std::uint64_t>(at));
    }
    return {};
}

Failure FileCopy::copyLink(int srcFolder, int dstFolder, const char* name) {
    std::string target(4096, '\0');
    const ssize_t length = readlinkat(srcFolder, name, target.data(), target.size());
    if (length < 0)
        return errnoCode(errno);
    target.resize(static_cast<std::size_t>(length));
    const std::string temporary = nextTemporaryName();
    if (symlinkat(target.c_str(), dstFolder, temporary.c_str()) != 0)
        return errnoCode(errno);
    if (renameat(dstFolder, temporary.c_str(), dstFolder, name) != 0) {
        const int error = errno;
        unlinkat(dstFolder, temporary.c_str(), 0);
        return errnoCode(error);
    }
    return {};
}

bool FileCopy::kernelCopyRefused(dev_t from, int to) {
    if (!anyKernelCopyRefused_.load(std::memory_order_acquire))
        return false;
    const std::pair<dev_t, dev_t> pair{from, deviceOf(to)};
    const std::lock_guard lock(refusedMutex_);
    return std::find(kernelCopyRefused_.begin(), kernelCopyRefused_.end(), pair) !=
           kernelCopyRefused_.end();
}

void FileCopy::refuseKernelCopy(dev_t from, int to) {
    const std::pair<dev_t, dev_t> pair{from, deviceOf(to)};
    const std::lock_guard lock(refusedMutex_);
    if (std::find(kernelCopyRefused_.begin(), kernelCopyRefused_.end(), pair) ==
        kernelCopyRefused_.end())
        kernelCopyRefused_.push_back(pair);
    anyKernelCopyRefused_.store(true, std::memory_order_release);
}

std::string FileCopy::nextTemporaryName() {
    return temporaryName(temporaryCounter_.fetch_add(1, std::memory_order_relaxed) + 1);
}

} // namespace pellatrix::linuxos
