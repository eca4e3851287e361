// A folder's entries read straight from the kernel (getdents64).
//
// Two things the C library's readdir cannot give: a read error part-way is told apart from
// the end of the folder, and a reader can be put aside (its descriptor closed, its buffer
// freed) and taken up again right after the last entry it gave out. A deep walk keeps the
// readers of the folders above it aside, so its descriptors and memory stay bounded whatever
// the depth.
#pragma once

#include "platform/linux/sys/unique_fd.h"

#include <memory>
#include <string_view>
#include <sys/types.h>

namespace pellatrix::linuxos {

class DirectoryReader {
  public:
    struct Entry {
        std::string_view name; // valid until the next call of next()
        ino_t inode = 0;
        unsigned char type = 0; // DT_DIR, DT_REG, DT_LNK, ..., or DT_UNKNOWN
    };
    enum class Step { Entry, End, Failed };

    // folder: a descriptor of a folder opened for reading (O_RDONLY | O_DIRECTORY).
    explicit DirectoryReader(UniqueFd folder);

    // The next entry other than "." and ".."; End when none is left; Failed with errno set.
    Step next(Entry& entry);

    // The folder's descriptor; -1 while the reader is aside.
    int fd() const { return fd_.get(); }
    bool isAside() const { return !fd_; }

    // Closes the descriptor and frees the buffer. False with errno set when the folder's
    // identity cannot be read (the reader then stays as it was).
    bool putAside();
    // Takes the listing up again on `folder`, opened anew by its name: it must be the same
    // folder as before (device and inode), else false with errno ESTALE. The next entry is the
    // one after the last given out.
    bool takeUp(UniqueFd folder);
    // The same through ".." of a child folder open at childFd, as a walk comes back up.
    bool takeUpFrom(int childFd);

  private:
    UniqueFd fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0; // bytes in buffer_
    std::size_t at_ = 0;   // where the next record in buffer_ starts
    off_t resumeAt_ = 0;   // the position after the last entry given out
    dev_t device_ = 0;     // the folder's identity, read when it is put aside
    ino_t inode_ = 0;
};

} // namespace pellatrix::linuxos
