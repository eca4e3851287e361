// Folder listings with DOS patterns.
#include "platform/linux/files/directory_listing.h"

#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/files/file_attributes.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/linux/sys/posix_error.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <utility>
#include <vector>

namespace pellatrix::linuxos {

void setFindData(FindData& data, std::uint32_t attributes, const Text& windowsName) {
    data = FindData{};
    data.dwFileAttributes = attributes;
    // A Linux name is at most 255 bytes, so it always fits with its NUL.
    const std::size_t length = std::min(windowsName.size(), data.cFileName.size() - 1);
    std::copy_n(windowsName.begin(), length, data.cFileName.begin());
}

namespace {

// The most entries in one run; a run of fewer than kShared is read without the helper, which
// would take longer to wake than to help.
constexpr std::size_t kRunLength = 64;
constexpr std::size_t kShared = 4;

} // namespace

DirectoryListing::DirectoryListing(UniqueFd folder, DirectoryListing* parent, Text name,
                                   Text pattern, bool dots, EntryRunHelper* helper)
    : reader_(std::move(folder)), parent_(parent), name_(std::move(name)),
      pattern_(std::move(pattern)), dotsPending_(dots ? 2 : 0), helper_(helper) {
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
    for (;;) {
        if (runAt_ < run_.count) {
            RunEntry& entry = takeEntry(run_, runAt_++);
            if (entry.error == ENOENT)
                continue; // vanished since it was listed: passed over
            if (entry.error != 0)
                throwErrno(entry.error, "read the attributes of",
                           windowsFolder() + entry.windowsName);
            lastRead_ = entry.read;
            give(data, entry.name.c_str(), entry.windowsName, entry.attributes);
            return true;
        }
        if (!startRun())
            return false;
    }
}

DirectoryListing::~DirectoryListing() {
    endRun();
}

bool DirectoryListing::startRun() {
    endRun();
    if (runEndError_ != 0)
        // The entries before the failure have been given out: now the failure.
        throwErrno(std::exchange(runEndError_, 0), "go on listing", windowsFolder());
    if (!run_.entries)
        run_.entries = std::make_unique<RunEntry[]>(kRunLength);
    run_.folder = reader_.fd();
    DirectoryReader::Entry entry;
    while (run_.count < kRunLength && !readerAtEnd_) {
        const DirectoryReader::Step step = reader_.next(entry);
        readerAtEnd_ = step == DirectoryReader::Step::End;
        if (step == DirectoryReader::Step::Failed && run_.count == 0)
            throwErrno(errno, "go on listing", windowsFolder());
        if (step == DirectoryReader::Step::Failed)
            runEndError_ = errno;
        if (step != DirectoryReader::Step::Entry)
            break;
        Text windowsName = DriveMapping::windowsNameOf(entry.name);
        if (!matchesWildcard(pattern_, windowsName))
            continue;
        RunEntry& added = run_.entries[run_.count++];
        added.name = entry.name;
        added.windowsName = std::move(windowsName);
        added.state.store(0, std::memory_order_relaxed);
        // The walk may go into a folder: what follows it is read once it is back.
        if (entry.type == DT_DIR || entry.type == DT_UNKNOWN)
            break;
    }
    if (run_.count >= kShared && helper_)
        helper_->offer(run_);
    return run_.count > 0;
}

void DirectoryListing::endRun() {
    if (helper_ && run_.count >= kShared)
        helper_->withdraw(run_);
    run_.count = 0;
    runAt_ = 0;
}

bool DirectoryListing::fill(FindData& data, const char* name, const Text& windowsName) {
    std::uint32_t attributes = 0;
    if (!readAttributesAt(reader_.fd(), name, attributes, &lastRead_)) {
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
    // The helper lets go of the descriptor. A walk has gone into the run's last entry, and
    // given the run out whole; what another caller left is read once the listing is back.
    if (helper_ && run_.count >= kShared)
        helper_->withdraw(run_);
    if (runAt_ >= run_.count) {
        endRun();
        run_.entries.reset();
    }
    if (!reader_.putAside())
        throwErrno(errno, "go on listing", windowsFolder());
}

void DirectoryListing::takeUpFrom(int childFd) {
    if (!reader_.takeUpFrom(childFd))
        takeUpError_ = errno;
    run_.folder = reader_.fd();
}

void DirectoryListing::detachFromParent() {
    if (!parent_)
        return;
    name_ = windowsFolder();
    parent_ = nullptr;
}

} // namespace pellatrix::linuxos
