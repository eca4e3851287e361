// Folder listings with DOS patterns.
#include "directory_listing.h"

#include "drive_mapping.h"
#include "file_attributes.h"
#include "posix_error.h"
#include "wildcard_match.h"

#include <algorithm>
#include <fcntl.h>
#include <vector>

namespace pellatrix::linux {

void setFindData(FindData& data, std::uint32_t attributes, const Text& windowsName) {
    data = FindData{};
    data.dwFileAttributes = attributes;
    // A Linux name is at most 255 bytes, so it always fits with its NUL.
    const std::size_t length = std::min(windowsName.size(), data.cFileName.size() - 1);
    std::copy_n(windowsName.begin(), length, data.cFileName.begin());
}

DirectoryListing::DirectoryListing(UniqueFd folder, DirectoryListing* parent, Text name,
                                   Text pattern, bool dots)
    : reader_(std::move(folder)), parent_(parent), name_(std::move(name)),
      pattern_(std::move(pattern)), depth_(parent ? parent->depth_ + 1 : 0),
      dotsPending_(dots ? 2 : 0) {
    // The parent has just given this folder out: what it read then describes ".".
    if (parent && parent->lastWasFolder_) {
        ownAttributes_ = parent->lastAttributes_;
        ownAttributesKnown_ = true;
    }
}

bool DirectoryListing::next(FindData& data) {
    while (dotsPending_ > 0) {
        const bool self = dotsPending_-- == 2;
        const char* name = self ? "." : "..";
        const Text windowsName = DriveMapping::windowsNameOf(name);
        if (!matchesWildcard(pattern_, windowsName))
            continue;
        // "." is this folder and ".." the parent listing's: each was read when its own parent
        // listed it, and is not read again.
        const DirectoryListing* folder = self ? this : parent_;
        if (folder && folder->ownAttributesKnown_) {
            give(data, name, windowsName, folder->ownAttributes_);
            return true;
        }
        if (fill(data, name, windowsName)) {
            if (self) {
                ownAttributes_ = lastAttributes_;
                ownAttributesKnown_ = true;
            }
            return true;
        }
    }
    if (takeUpError_ != 0)
        throwErrno(takeUpError_, "go on listing", windowsFolder());
    DirectoryReader::Entry entry;
    for (;;) {
        switch (reader_.next(entry)) {
        case DirectoryReader::Step::End:
            return false;
        case DirectoryReader::Step::Failed:
            throwErrno(errno, "go on listing", windowsFolder());
        case DirectoryReader::Step::Entry:
            break;
        }
        const std::string name(entry.name);
        const Text windowsName = DriveMapping::windowsNameOf(name);
        if (matchesWildcard(pattern_, windowsName) && fill(data, name.c_str(), windowsName))
            return true; // an entry that vanished since it was listed is passed over
    }
}

bool DirectoryListing::fill(FindData& data, const char* name, const Text& windowsName) {
    std::uint32_t attributes = 0;
    if (!readAttributesAt(reader_.fd(), name, attributes)) {
        if (errno == ENOENT)
            return false;
        throwErrno(errno, "read the attributes of", windowsFolder() + windowsName);
    }
    give(data, name, windowsName, attributes);
    return true;
}

void DirectoryListing::give(FindData& data, const char* name, const Text& windowsName,
                            std::uint32_t attributes) {
    setFindData(data, attributes, windowsName);
    lastName_ = name;
    lastWindowsName_ = windowsName;
    lastAttributes_ = attributes;
    lastWasFolder_ = (attributes & (FileAttribute::Directory | FileAttribute::ReparsePoint)) ==
                     FileAttribute::Directory;
}

bool DirectoryListing::isFolder(std::u16string_view windowsFolder) const {
    if (!windowsFolder.ends_with(u'\\'))
        return false;
    windowsFolder.remove_suffix(1);
    const DirectoryListing* level = this;
    for (; level->parent_; level = level->parent_) {
        const std::size_t size = level->name_.size();
        if (windowsFolder.size() <= size || !windowsFolder.ends_with(level->name_) ||
            windowsFolder[windowsFolder.size() - size - 1] != u'\\')
            return false;
        windowsFolder.remove_suffix(size + 1);
    }
    const std::u16string_view top = level->name_;
    return top.size() == windowsFolder.size() + 1 && top.starts_with(windowsFolder);
}

Text DirectoryListing::windowsFolder() const {
    std::vector<const Text*> names;
    const DirectoryListing* level = this;
    for (; level->parent_; level = level->parent_)
        names.push_back(&level->name_);
    Text path = level->name_;
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        path += **name + u"\\";
    return path;
}

void DirectoryListing::putAside() {
    if (!reader_.putAside())
        throwErrno(errno, "go on listing", windowsFolder());
}

void DirectoryListing::takeUpFrom(int childFd) {
    UniqueFd folder(openat(childFd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || !reader_.takeUp(std::move(folder)))
        takeUpError_ = errno;
}

void DirectoryListing::detachFromParent() {
    if (!parent_)
        return;
    name_ = windowsFolder();
    parent_ = nullptr;
}

} // namespace pellatrix::linux
