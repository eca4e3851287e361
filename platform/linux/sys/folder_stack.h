// The folders that a walk down a tree is inside, from its top to the innermost, with a bounded
// number of them open.
//
// Each level holds the reader of a source folder and, in a copy, the descriptor of the folder
// it is copied into. Below the top, only the innermost few levels keep their
// descriptors and buffers: the walk puts the ones further out aside, keeping just their names
// and identities, so a tree of any depth costs a fixed number of descriptors and little
// memory, and the walk itself is a loop rather than a recursion. Leaving a folder takes its
// parent up again through the innermost folder's "..", checked against the identity the
// parent had: a folder moved away meanwhile is never taken for it.
#pragma once

#include "platform/linux/sys/directory_reader.h"

#include <deque>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/types.h>

namespace pellatrix::linuxos {

// How the copy and its count open a folder: for listing, never through a link.
inline constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct FolderJobs; // a copy's jobs for the files of one folder

struct FolderIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};

// The identity of an open file or folder; false with errno set when it cannot be read.
bool identityOf(int fd, FolderIdentity& identity);

class FolderStack {
  public:
    // How many levels below the top keep their descriptors, in every walk: the copy's, its
    // count's and the listings'. Past that, a deeper tree costs no more descriptors.
    static constexpr std::size_t kOpenLevels = 4;

    struct Level {
        Level(std::string name, DirectoryReader source, UniqueFd destination = {},
              FolderIdentity destinationIdentity = {}, std::size_t displayLength = 0)
            : name(std::move(name)), source(std::move(source)), destination(std::move(destination)),
              destinationIdentity(destinationIdentity), displayLength(displayLength) {}

        std::string name; // in its parent folder; empty for the top
        DirectoryReader source;
        UniqueFd destination; // invalid where there is none, and while the level is aside
        FolderIdentity destinationIdentity;
        std::size_t displayLength;        // the walk's own: how long the folder's shown path is
        bool incomplete = false;          // the walk's own: something in it was not done
        std::shared_ptr<FolderJobs> jobs; // the copy's own
    };

    bool empty() const { return levels_.empty(); }
    std::size_t depth() const { return levels_.size(); }
    Level& innermost() { return levels_.back(); }

    // Enters a folder. Puts the outermost level that is still open aside when there are more
    // than kOpenLevels below the top.
    void push(Level level);
    // Whether the next push puts a level aside, and which.
    bool pushPutsAside() const { return levels_.size() >= kOpenLevels + 1; }
    std::size_t nextPutAsideDepth() const { return levels_.size() - kOpenLevels; }
    Level& nextPutAside() { return levels_[levels_.size() - kOpenLevels]; }
    // Makes sure that the folder around the innermost one is open, taking it up again through
    // ".." where it was put aside. False with errno set when that fails (ESTALE: another
    // folder stands there now).
    bool reopenParent();
    // Leaves the innermost folder.
    void pop() { levels_.pop_back(); }
    // After a parent could not be taken up: leaves every folder that is aside (or whose
    // destination is), up to the nearest one open.
    void popAsideLevels();

  private:
    std::deque<Level> levels_; // a deque: a level stays where it is while others come and go
};

} // namespace pellatrix::linuxos
