// Reading folders with getdents64, and putting a reader aside.
#include "platform/linux/sys/directory_reader.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

// Big enough that a folder of a few hundred entries takes one call, as readdir's buffer does.
constexpr std::size_t kBufferSize = 32 * 1024;

// The kernel's record, as getdents64 lays it out.
struct KernelRecord {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

DirectoryReader::DirectoryReader(UniqueFd folder) : fd_(std::move(folder)) {}

DirectoryReader::Step DirectoryReader::next(Entry& entry) {
    if (!fd_) {
        errno = EBADF;
        return Step::Failed;
    }
    for (;;) {
        if (at_ >= used_) {
            if (!buffer_)
                buffer_ =
                    std::make_unique_for_overwrite<char[]>(kBufferSize); // filled by the kernel
            const ssize_t read = getdents64(fd_.get(), buffer_.get(), kBufferSize);
            if (read < 0) {
                if (errno == EINTR)
                    continue;
                return Step::Failed;
            }
            if (read == 0)
                return Step::End;
            used_ = static_cast<std::size_t>(read);
            at_ = 0;
        }
        KernelRecord record;
        std::memcpy(&record, buffer_.get() + at_, offsetof(KernelRecord, d_name));
        const char* name = buffer_.get() + at_ + offsetof(KernelRecord, d_name);
        at_ += record.d_reclen;
        resumeAt_ = record.d_off;
        if (isDotOrDotDot(name))
            continue;
        entry.name = name;
        entry.inode = record.d_ino;
        entry.type = record.d_type;
        return Step::Entry;
    }
}

bool DirectoryReader::putAside() {
    if (!fd_)
        return true;
    struct stat st;
    if (fstat(fd_.get(), &st) != 0)
        return false;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    fd_.reset();
    buffer_.reset();
    used_ = at_ = 0;
    return true;
}

bool DirectoryReader::takeUpFrom(int childFd) {
    UniqueFd up(openat(childFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return up && takeUp(std::move(up));
}

bool DirectoryReader::takeUp(UniqueFd folder) {
    struct stat st;
    if (fstat(folder.get(), &st) != 0)
        return false;
    if (st.st_dev != device_ || st.st_ino != inode_) {
        errno = ESTALE; // another folder stands under that name now
        return false;
    }
    if (lseek(folder.get(), resumeAt_, SEEK_SET) < 0)
        return false;
    fd_ = std::move(folder);
    return true;
}

} // namespace pellatrix::linuxos
