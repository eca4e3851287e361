// The copy engine: a counting pass for the progress totals, then the copy itself, both walking
// open folder descriptors so that no path is resolved twice and no link is followed.
#include "copy_engine.h"

#include "file_attributes.h"
#include "platform/text_encoding.h"
#include "unique_fd.h"
#include "wildcard_match.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace pellatrix::linux {
namespace {

constexpr std::size_t kChunk = 8 << 20;      // bytes per copy_file_range call
constexpr std::size_t kBufferSize = 1 << 20; // the read/write fallback's buffer
constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::error_code errnoCode(int error) {
    return {error, std::generic_category()};
}

// Links the unnamed file tmpFd into dstFolder as name. linkat with AT_EMPTY_PATH names the
// file straight from its descriptor; kernels before 6.10 allow that only to privileged
// processes, and then the file is reached through /proc, whose lookup costs more.
int linkUnnamed(int tmpFd, int dstFolder, const char* name) {
    static bool emptyPathWorks = true;
    if (emptyPathWorks) {
        const int result = linkat(tmpFd, "", dstFolder, name, AT_EMPTY_PATH);
        if (result == 0 || (errno != ENOENT && errno != EPERM))
            return result;
        emptyPathWorks = false; // errno ENOENT: not allowed here
    }
    const std::string self = "/proc/self/fd/" + std::to_string(tmpFd);
    return linkat(AT_FDCWD, self.c_str(), dstFolder, name, AT_SYMLINK_FOLLOW);
}

// The result of one attempt: empty when it succeeded.
using Failure = std::error_code;

class CopyEngine {
  public:
    CopyEngine(const CopyRequest& request, CopyObserver& observer)
        : request_(request), observer_(observer) {}

    CopyOutcome run();

  private:
    bool matches(const char* name) const {
        return matchesWildcard(request_.pattern, fromUtf8(name));
    }
    void count(int folderFd, const char* name);
    bool makeDestination(UniqueFd& destination);
    void copyEntry(int srcFolder, int dstFolder, const char* name, const Text& display);
    Failure copyFolder(int srcFolder, int dstFolder, const char* name, const Text& display);
    Failure copyFile(int srcFolder, int dstFolder, const char* name, const struct stat& st);
    Failure copyLink(int srcFolder, int dstFolder, const char* name);
    Failure copyData(int from, int to, std::uint64_t size);
    Failure placeFile(int tmpFd, const std::string& tmpName, int dstFolder, const char* name);
    std::string temporaryName();
    void removeStaleTemporaries(int folderFd);
    // Runs attempt until it succeeds or the person skips or cancels. True on success.
    template <typename Attempt> bool withRetry(const Text& display, Attempt attempt);
    bool stopped() {
        if (!outcome_.cancelled && observer_.cancelRequested())
            outcome_.cancelled = true;
        return outcome_.cancelled;
    }

    const CopyRequest& request_;
    CopyObserver& observer_;
    CopyProgress progress_;
    CopyOutcome outcome_;
    std::vector<char> buffer_;
    unsigned temporaryCounter_ = 0;
};

template <typename Attempt> bool CopyEngine::withRetry(const Text& display, Attempt attempt) {
    for (;;) {
        const Failure failure = attempt();
        if (!failure)
            return true;
        if (stopped())
            return false; // cancelled while it ran: nothing to ask
        switch (observer_.copyFailed(display, failure)) {
        case ErrorDecision::Retry:
            continue;
        case ErrorDecision::Skip:
            ++outcome_.failures;
            return false;
        case ErrorDecision::Cancel:
            ++outcome_.failures;
            outcome_.cancelled = true;
            return false;
        }
    }
}

CopyOutcome CopyEngine::run() {
    UniqueFd source;
    const bool opened = withRetry(request_.sourceDisplay, [&]() -> Failure {
        source = UniqueFd(open(request_.sourceFolder.c_str(), kOpenFolder));
        return source ? Failure() : errnoCode(errno);
    });
    if (!opened) {
        observer_.finished(progress_);
        return outcome_;
    }
    // The counting pass gives the progress its totals; a source with nothing to copy makes
    // no destination.
    bool anything = false;
    {
        DirStream entries(source.get());
        while (const dirent* entry = entries.next()) {
            if (matches(entry->d_name)) {
                anything = true;
                count(source.get(), entry->d_name);
            }
        }
    }
    UniqueFd destination;
    if (anything && !stopped() && makeDestination(destination)) {
        DirStream entries(source.get());
        while (!stopped()) {
            const dirent* entry = entries.next();
            if (!entry)
                break;
            if (matches(entry->d_name))
                copyEntry(source.get(), destination.get(), entry->d_name,
                          request_.sourceDisplay + fromUtf8(entry->d_name));
        }
    }
    observer_.finished(progress_);
    return outcome_;
}

void CopyEngine::count(int folderFd, const char* name) {
    struct stat st;
    if (fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return; // the copy pass reports it
    if (!S_ISDIR(st.st_mode)) {
        ++progress_.filesTotal;
        if (S_ISREG(st.st_mode))
            progress_.bytesTotal += static_cast<std::uint64_t>(st.st_size);
        return;
    }
    UniqueFd folder(openat(folderFd, name, kOpenFolder));
    if (!folder)
        return;
    DirStream entries(folder.get());
    if (!entries)
        return;
    // Counting a large tree takes a while: let the progress display show the totals growing
    // (and its Cancel answer) meanwhile.
    observer_.progress(progress_);
    while (!stopped()) {
        const dirent* entry = entries.next();
        if (!entry)
            break;
        count(folder.get(), entry->d_name);
    }
}

bool CopyEngine::makeDestination(UniqueFd& destination) {
    const std::string& path = request_.destinationFolder;
    return withRetry(fromUtf8(path), [&]() -> Failure {
        // Make each missing component, then open the folder itself without following a link.
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            if (mkdir(path.substr(0, slash).c_str(), 0777) != 0 && errno != EEXIST)
                return errnoCode(errno);
        }
        if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST)
            return errnoCode(errno);
        const bool existed = errno == EEXIST;
        destination = UniqueFd(open(path.c_str(), kOpenFolder));
        if (!destination)
            return errnoCode(errno);
        if (existed)
            removeStaleTemporaries(destination.get());
        return {};
    });
}

void CopyEngine::copyEntry(int srcFolder, int dstFolder, const char* name, const Text& display) {
    progress_.currentFile = display;
    observer_.progress(progress_);
    struct stat st {};
    const std::uint64_t bytesBefore = progress_.bytesDone;
    const bool copied = withRetry(display, [&]() -> Failure {
        if (fstatat(srcFolder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoCode(errno);
        if (S_ISDIR(st.st_mode))
            return copyFolder(srcFolder, dstFolder, name, display);
        progress_.bytesDone = bytesBefore; // a retry starts the file again
        const Failure failure = S_ISREG(st.st_mode)   ? copyFile(srcFolder, dstFolder, name, st)
                                : S_ISLNK(st.st_mode) ? copyLink(srcFolder, dstFolder, name)
                                                      : errnoCode(ENOTSUP); // devices, pipes
        if (!failure && request_.move && unlinkat(srcFolder, name, 0) != 0)
            return errnoCode(errno);
        return failure;
    });
    if (!S_ISDIR(st.st_mode)) {
        ++progress_.filesDone;
        if (!copied)
            progress_.bytesDone = bytesBefore; // its bytes were not copied after all
    }
}

Failure CopyEngine::copyFolder(int srcFolder, int dstFolder, const char* name,
                               const Text& display) {
    bool existed = false;
    if (mkdirat(dstFolder, name, 0777) != 0) {
        if (errno != EEXIST)
            return errnoCode(errno);
        struct stat there;
        if (fstatat(dstFolder, name, &there, AT_SYMLINK_NOFOLLOW) != 0)
            return errnoCode(errno);
        if (S_ISLNK(there.st_mode)) {
            // A link where a folder goes is replaced, never followed.
            if (unlinkat(dstFolder, name, 0) != 0 || mkdirat(dstFolder, name, 0777) != 0)
                return errnoCode(errno);
        } else if (S_ISDIR(there.st_mode)) {
            existed = true;
        } else {
            return errnoCode(ENOTDIR); // a file stands where the folder must go: keep it
        }
    }
    UniqueFd source(openat(srcFolder, name, kOpenFolder));
    if (!source)
        return errnoCode(errno);
    UniqueFd destination(openat(dstFolder, name, kOpenFolder));
    if (!destination)
        return errnoCode(errno);
    char dos[64];
    const ssize_t dosLength = fgetxattr(source.get(), kDosAttributeName, dos, sizeof dos);
    if (dosLength > 0)
        fsetxattr(destination.get(), kDosAttributeName, dos, static_cast<std::size_t>(dosLength),
                  0);
    if (existed)
        removeStaleTemporaries(destination.get());

    DirStream entries(source.get());
    if (!entries)
        return errnoCode(errno);
    const Text prefix = display + u"\\";
    while (!stopped()) {
        const dirent* entry = entries.next();
        if (!entry)
            break;
        copyEntry(source.get(), destination.get(), entry->d_name, prefix + fromUtf8(entry->d_name));
    }
    if (request_.move && !outcome_.cancelled && unlinkat(srcFolder, name, AT_REMOVEDIR) != 0 &&
        errno != ENOTEMPTY)
        return errnoCode(errno);
    return {};
}

Failure CopyEngine::copyFile(int srcFolder, int dstFolder, const char* name,
                             const struct stat& listed) {
    UniqueFd source(openat(srcFolder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source)
        return errnoCode(errno);
    struct stat st;
    if (fstat(source.get(), &st) != 0)
        return errnoCode(errno);
    if (!S_ISREG(st.st_mode) || st.st_ino != listed.st_ino)
        return errnoCode(EAGAIN); // replaced since it was listed: try again

    std::string tmpName; // empty while the file is unnamed
    UniqueFd tmp(openat(dstFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!tmp) {
        tmpName = temporaryName();
        tmp = UniqueFd(openat(dstFolder, tmpName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!tmp)
            return errnoCode(errno);
    }
    Failure failure = copyData(source.get(), tmp.get(), static_cast<std::uint64_t>(st.st_size));
    if (!failure) {
        char dos[64];
        const ssize_t dosLength = fgetxattr(source.get(), kDosAttributeName, dos, sizeof dos);
        if (dosLength > 0 &&
            fsetxattr(tmp.get(), kDosAttributeName, dos, static_cast<std::size_t>(dosLength), 0) !=
                0 &&
            errno != ENOTSUP)
            failure = errnoCode(errno);
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (!failure && (fchmod(tmp.get(), st.st_mode & 0777) != 0 || futimens(tmp.get(), times) != 0))
        failure = errnoCode(errno);
    if (!failure)
        failure = placeFile(tmp.get(), tmpName, dstFolder, name);
    if (failure && !tmpName.empty())
        unlinkat(dstFolder, tmpName.c_str(), 0);
    return failure;
}

Failure CopyEngine::copyData(int from, int to, std::uint64_t size) {
    const std::uint64_t start = progress_.bytesDone;
    bool kernelCopy = true;
    for (std::uint64_t done = 0;;) {
        if (stopped())
            return errnoCode(ECANCELED);
        ssize_t n = -1;
        if (kernelCopy) {
            n = copy_file_range(from, nullptr, to, nullptr, kChunk, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EPERM)) {
                if (done != 0 && lseek(from, static_cast<off_t>(done), SEEK_SET) < 0)
                    return errnoCode(errno);
                kernelCopy = false;
                continue;
            }
        } else {
            if (buffer_.empty())
                buffer_.resize(kBufferSize);
            n = read(from, buffer_.data(), buffer_.size());
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w =
                    write(to, buffer_.data() + written, static_cast<std::size_t>(n - written));
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
        done += static_cast<std::uint64_t>(n);
        progress_.bytesDone = start + done;
        if (size > kChunk)
            observer_.progress(progress_);
    }
    return {};
}

Failure CopyEngine::placeFile(int tmpFd, const std::string& tmpName, int dstFolder,
                              const char* name) {
    if (tmpName.empty()) {
        // Give the unnamed file its real name; when one exists, a temporary one first, so
        // that the rename replaces the old file (or link) in one step.
        if (linkUnnamed(tmpFd, dstFolder, name) == 0)
            return {};
        if (errno != EEXIST)
            return errnoCode(errno);
        const std::string temporary = temporaryName();
        if (linkUnnamed(tmpFd, dstFolder, temporary.c_str()) != 0)
            return errnoCode(errno);
        return placeFile(tmpFd, temporary, dstFolder, name);
    }
    if (renameat(dstFolder, tmpName.c_str(), dstFolder, name) != 0) {
        const int error = errno == EISDIR || errno == ENOTEMPTY ? EISDIR : errno;
        unlinkat(dstFolder, tmpName.c_str(), 0);
        return errnoCode(error); // a folder stands where the file must go: keep it
    }
    return {};
}

Failure CopyEngine::copyLink(int srcFolder, int dstFolder, const char* name) {
    std::string target(4096, '\0');
    const ssize_t length = readlinkat(srcFolder, name, target.data(), target.size());
    if (length < 0)
        return errnoCode(errno);
    target.resize(static_cast<std::size_t>(length));
    const std::string temporary = temporaryName();
    if (symlinkat(target.c_str(), dstFolder, temporary.c_str()) != 0)
        return errnoCode(errno);
    if (renameat(dstFolder, temporary.c_str(), dstFolder, name) != 0) {
        const int error = errno;
        unlinkat(dstFolder, temporary.c_str(), 0);
        return errnoCode(error);
    }
    return {};
}

std::string CopyEngine::temporaryName() {
    return kTemporaryPrefix + std::to_string(getpid()) + "-" + std::to_string(++temporaryCounter_);
}

void CopyEngine::removeStaleTemporaries(int folderFd) {
    DirStream entries(folderFd);
    if (!entries)
        return;
    while (const dirent* entry = entries.next())
        if (std::string_view(entry->d_name).starts_with(kTemporaryPrefix))
            unlinkat(folderFd, entry->d_name, 0);
}

} // namespace

CopyOutcome copyMatchingEntries(const CopyRequest& request, CopyObserver& observer) {
    return CopyEngine(request, observer).run();
}

} // namespace pellatrix::linux
