// The copy engine: a counting pass for the progress totals, then the copy itself. Both walk
// the tree from descriptors (the source folder and the destination folder, each opened once
// below its drive's root), in a loop over a FolderStack, so that no path is resolved twice, no
// link is followed and the depth of the tree costs neither descriptors nor stack.
#include "copy_engine.h"

#include "beneath.h"
#include "drive_mapping.h"
#include "file_attributes.h"
#include "folder_stack.h"
#include "wildcard_match.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellatrix::linux {
namespace {

constexpr std::size_t kChunk = 8 << 20;      // bytes per copy_file_range call
constexpr std::size_t kBufferSize = 1 << 20; // the read/write fallback's buffer
constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// O_NONBLOCK: a pipe swapped in for a file must not block the open; fstat then refuses it.
constexpr int kOpenSourceFile = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
constexpr auto kLockPollInterval = std::chrono::milliseconds(100);

std::error_code errnoCode(int error) {
    return {error, std::generic_category()};
}

// The process's umask, read without changing it (a change would be seen by other threads).
mode_t currentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

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

// Copies the hidden and system attributes, where the source has them.
int copyDosAttributes(int from, int to) {
    char dos[64];
    const ssize_t length = fgetxattr(from, kDosAttributeName, dos, sizeof dos);
    if (length <= 0)
        return 0;
    return fsetxattr(to, kDosAttributeName, dos, static_cast<std::size_t>(length), 0);
}

// The result of one attempt: empty when it succeeded.
using Failure = std::error_code;

class CopyEngine {
  public:
    CopyEngine(const CopyRequest& request, CopyObserver& observer)
        : request_(request), observer_(observer), umask_(currentUmask()) {}

    CopyOutcome run();

  private:
    bool matches(std::string_view name) const {
        return matchesWildcard(request_.pattern, DriveMapping::windowsNameOf(name));
    }
    bool openSource();
    void count();
    bool openDestination();
    Failure refuseDestinationInsideSource(int root, std::string path);
    Failure waitForOtherCopies(int folder);
    void copyTree();
    void leaveFolder(FolderStack& stack);
    void copyEntry(FolderStack& stack, const DirectoryReader::Entry& entry);
    Failure enterFolder(FolderStack& stack, const std::string& name, const Text& windowsName);
    Failure copyFile(int srcFolder, int dstFolder, const char* name);
    Failure copyLink(int srcFolder, int dstFolder, const char* name);
    Failure copyData(int from, int to, const struct stat& st);
    Failure copyRange(int from, int to, off_t& at, off_t end, std::uint64_t start, bool report);
    Failure placeFile(int tmpFd, const std::string& tmpName, int dstFolder, const char* name);
    std::string nextTemporaryName() { return temporaryName(++temporaryCounter_); }
    void removeAbandonedTemporaries(int folderFd);
    // The folder being listed, as the person knows it: display_ without its separator.
    Text folderDisplay() const { return display_.substr(0, display_.size() - 1); }
    // Runs attempt until it succeeds or the person skips or cancels. True on success.
    template <typename Attempt> bool withRetry(const Text& display, Attempt attempt);
    bool stopped() {
        if (!outcome_.cancelled && observer_.cancelRequested())
            outcome_.cancelled = true;
        return outcome_.cancelled;
    }

    const CopyRequest& request_;
    CopyObserver& observer_;
    const mode_t umask_;
    CopyProgress progress_;
    CopyOutcome outcome_;
    UniqueFd source_;
    FolderIdentity sourceIdentity_;
    bool anything_ = false; // the source holds something to copy, or could not be fully read
    UniqueFd lock_;         // the destination's parent, locked while this copy runs
    UniqueFd destination_;
    FolderIdentity destinationIdentity_;
    Text display_; // the folder being copied, as the person knows it, ending in "\"
    std::vector<char> buffer_;
    bool kernelCopyRefused_ = false;
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
    try {
        // A source with nothing to copy makes no destination.
        if (openSource()) {
            count();
            if (anything_ && !stopped() && openDestination())
                copyTree();
        }
    } catch (...) {
        observer_.finished(progress_);
        throw;
    }
    observer_.finished(progress_);
    return outcome_;
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

// The counting pass gives the progress its totals and tells whether there is anything to
// copy. It asks nothing: whatever it cannot read, the copy meets again and reports. A source
// it could not read to the end therefore counts as holding something.
void CopyEngine::count() {
    UniqueFd top(openat(source_.get(), ".", kOpenFolder));
    if (!top) {
        anything_ = true;
        return;
    }
    FolderStack stack;
    stack.push({"", DirectoryReader(std::move(top))});
    while (!stack.empty() && !stopped()) {
        FolderStack::Level& folder = stack.innermost();
        DirectoryReader::Entry entry;
        const DirectoryReader::Step step = folder.source.next(entry);
        const bool atTop = stack.depth() == 1;
        if (step != DirectoryReader::Step::Entry) {
            if (step == DirectoryReader::Step::Failed && atTop)
                anything_ = true;
            if (!stack.reopenParent()) {
                stack.pop();
                stack.popAsideLevels();
            } else {
                stack.pop();
            }
            continue;
        }
        if (atTop && !matches(entry.name))
            continue;
        anything_ = true;
        const std::string name(entry.name);
        struct stat st;
        if (fstatat(folder.source.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISDIR(st.st_mode)) {
            ++progress_.filesTotal;
            if (S_ISREG(st.st_mode))
                progress_.bytesTotal += static_cast<std::uint64_t>(st.st_size);
            continue;
        }
        UniqueFd sub(openat(folder.source.fd(), name.c_str(), kOpenFolder));
        if (!sub)
            continue;
        // Counting a large tree takes a while: let the progress display show the totals
        // growing (and its Cancel answer) meanwhile.
        observer_.progress(progress_);
        stack.push({name, DirectoryReader(std::move(sub))});
    }
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
    UniqueFd source, destination;
    const bool opened = withRetry(folderDisplay(), [&]() -> Failure {
        source = UniqueFd(openat(source_.get(), ".", kOpenFolder));
        if (!source)
            return errnoCode(errno);
        destination = UniqueFd(openat(destination_.get(), ".", kOpenFolder));
        return destination ? Failure() : errnoCode(errno);
    });
    if (!opened)
        return;
    FolderStack stack;
    stack.push({"", DirectoryReader(std::move(source)), std::move(destination),
                destinationIdentity_, display_.size()});
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
            copyEntry(stack, entry);
        }
    }
}

void CopyEngine::leaveFolder(FolderStack& stack) {
    if (stack.depth() == 1) {
        stack.pop();
        return;
    }
    const std::string name = stack.innermost().name;
    const bool remove = request_.move && !stack.innermost().incomplete && !outcome_.cancelled;
    const Text display = folderDisplay();
    display_.resize(display_.size() - 1);
    display_.resize(display_.rfind(u'\\') + 1);
    const bool parentOpen = withRetry(
        folderDisplay(), [&] { return stack.reopenParent() ? Failure() : errnoCode(errno); });
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
    const std::string name(entry.name);
    const Text windowsName = DriveMapping::windowsNameOf(entry.name);
    const Text display = display_ + windowsName;
    progress_.currentFile = display;
    observer_.progress(progress_);
    unsigned char type = entry.type;
    bool isFolder = false;
    const std::uint64_t bytesBefore = progress_.bytesDone;
    const bool copied = withRetry(display, [&]() -> Failure {
        const int srcFolder = stack.innermost().source.fd();
        const int dstFolder = stack.innermost().destination.get();
        struct stat st;
        if (type == DT_UNKNOWN) {
            if (fstatat(srcFolder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                return errnoCode(errno);
            type = IFTODT(st.st_mode);
        }
        const unsigned char listed = type;
        type = DT_UNKNOWN; // a retry looks again: the entry may have changed meanwhile
        isFolder = listed == DT_DIR;
        if (isFolder)
            return enterFolder(stack, name, windowsName);
        progress_.bytesDone = bytesBefore; // a retry starts the file again
        const Failure failure = listed == DT_REG   ? copyFile(srcFolder, dstFolder, name.c_str())
                                : listed == DT_LNK ? copyLink(srcFolder, dstFolder, name.c_str())
                                                   : make_error_code(PellatrixError::NotAFile);
        if (!failure && request_.move && unlinkat(srcFolder, name.c_str(), 0) != 0)
            return errnoCode(errno);
        return failure;
    });
    if (!isFolder) {
        ++progress_.filesDone;
        if (!copied)
            progress_.bytesDone = bytesBefore; // its bytes were not copied after all
    }
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
    display_ += windowsName + u"\\";
    stack.push({name, DirectoryReader(std::move(source)), std::move(destination), identity,
                display_.size()});
    return {};
}

Failure CopyEngine::copyFile(int srcFolder, int dstFolder, const char* name) {
    UniqueFd source(openat(srcFolder, name, kOpenSourceFile));
    if (!source)
        return errnoCode(errno);
    struct stat st;
    if (fstat(source.get(), &st) != 0)
        return errnoCode(errno);
    if (!S_ISREG(st.st_mode))
        return make_error_code(PellatrixError::NotAFile); // swapped in since it was listed

    std::string tmpName; // empty while the file is unnamed
    UniqueFd tmp(openat(dstFolder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!tmp) {
        tmpName = nextTemporaryName();
        tmp = UniqueFd(openat(dstFolder, tmpName.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!tmp)
            return errnoCode(errno);
    }
    Failure failure = copyData(source.get(), tmp.get(), st);
    if (!failure && copyDosAttributes(source.get(), tmp.get()) != 0 && errno != ENOTSUP)
        failure = errnoCode(errno);
    // The source's permission bits within the umask, as a new file gets them.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (!failure &&
        (fchmod(tmp.get(), st.st_mode & 0777 & ~umask_) != 0 || futimens(tmp.get(), times) != 0))
        failure = errnoCode(errno);
    if (!failure)
        failure = placeFile(tmp.get(), tmpName, dstFolder, name);
    if (failure && !tmpName.empty())
        unlinkat(dstFolder, tmpName.c_str(), 0);
    return failure;
}

// Copies a file's data. Where the file has fewer blocks than its size asks for, it has holes:
// only its data parts are copied (SEEK_DATA, SEEK_HOLE) and the holes stay holes.
Failure CopyEngine::copyData(int from, int to, const struct stat& st) {
    const std::uint64_t start = progress_.bytesDone;
    const bool report = static_cast<std::uint64_t>(st.st_size) > kChunk;
    off_t at = 0;
    if (st.st_blocks * 512 >= st.st_size)
        return copyRange(from, to, at, -1, start, report);
    for (;;) {
        const off_t data = lseek(from, at, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // nothing but a hole up to the end
        if (data < 0)
            return copyRange(from, to, at, -1, start, report); // no hole lookup here
        const off_t hole = lseek(from, data, SEEK_HOLE);
        if (hole < 0)
            return errnoCode(errno);
        at = data;
        if (const Failure failure = copyRange(from, to, at, hole, start, report))
            return failure;
    }
    struct stat now;
    if (fstat(from, &now) != 0 || ftruncate(to, now.st_size) != 0)
        return errnoCode(errno);
    progress_.bytesDone = start + static_cast<std::uint64_t>(now.st_size);
    return {};
}

// Copies [at, end) of from to the same place in to (end -1: up to the end of the file).
Failure CopyEngine::copyRange(int from, int to, off_t& at, off_t end, std::uint64_t start,
                              bool report) {
    while (end < 0 || at < end) {
        if (stopped())
            return errnoCode(ECANCELED);
        const std::size_t wanted =
            end < 0 ? kChunk : std::min<std::size_t>(kChunk, static_cast<std::size_t>(end - at));
        ssize_t n = -1;
        if (!kernelCopyRefused_) {
            off_t in = at, out = at;
            n = copy_file_range(from, &in, to, &out, wanted, 0);
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EPERM)) {
                kernelCopyRefused_ = true; // between these two folders: read and write
                continue;
            }
        } else {
            if (buffer_.empty())
                buffer_.resize(kBufferSize);
            n = pread(from, buffer_.data(), std::min(wanted, buffer_.size()), at);
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = pwrite(to, buffer_.data() + written,
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
        progress_.bytesDone = start + static_cast<std::uint64_t>(at);
        if (report)
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
        const std::string temporary = nextTemporaryName();
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
