// A deep walk's folders, the outer ones put aside.
#include "platform/linux/sys/folder_stack.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace pellatrix::linuxos {

bool identityOf(int fd, FolderIdentity& identity) {
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    identity = {st.st_dev, st.st_ino};
    return true;
}

void FolderStack::push(Level level) {
    levels_.push_back(std::move(level));
    if (levels_.size() <= kOpenLevels + 1)
        return;
    Level& outer = levels_[levels_.size() - 1 - kOpenLevels];
    // A reader that cannot read its own identity stays open: one descriptor more, nothing
    // lost.
    if (outer.source.putAside())
        outer.destination.reset();
}

bool FolderStack::reopenParent() {
    if (levels_.size() < 2)
        return true;
    Level& child = levels_.back();
    Level& parent = levels_[levels_.size() - 2];
    if (parent.source.isAside() && !parent.source.takeUpFrom(child.source.fd()))
        return false;
    if (!parent.destination && child.destination) {
        UniqueFd up(openat(child.destination.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        FolderIdentity identity;
        if (!up || !identityOf(up.get(), identity))
            return false;
        if (!(identity == parent.destinationIdentity)) {
            errno = ESTALE; // the folder was moved: its ".." is another folder now
            return false;
        }
        parent.destination = std::move(up);
    }
    return true;
}

void FolderStack::popAsideLevels() {
    // A level whose destination could not be taken up is no more use than one aside.
    const auto unusable = [](const Level& level) {
        return level.source.isAside() || (!level.destination && level.destinationIdentity.inode);
    };
    while (!levels_.empty() && unusable(levels_.back()))
        levels_.pop_back();
}

} // namespace pellatrix::linuxos
