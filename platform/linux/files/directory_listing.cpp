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

DirectoryListing::DirectoryListing(DirectoryReader& reader, const DirectoryListing* parent,
                                   Text pattern, bool dots, FolderName folderName,
                                   EntryRunHelper* helper)
    : reader_(reader), parent_(parent), pattern_(std::move(pattern)), dotsPending_(dots ? 2 : 0),
      folderName_(std::move(folderName)), helper_(helper) {
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
        throwErrno(takeUpError_, "go on listing", folderName_());
    // Taken up again since the run began: its entries are read through the new descriptor.
    if (run_.folder != reader_.fd())
        run_.folder = reader_.fd();
    for (;;) {
        if (runAt_ < run_.count) {
            RunEntry& entry = takeEntry(run_, runAt_++);
            if (entry.error == ENOENT)
                continue; // vanished since it was listed: passed over
            if (entry.error != 0)
                throwErrno(entry.error, "read the attributes of",
                           folderName_() + entry.windowsName);
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
        throwErrno(std::exchange(runEndError_, 0), "go on listing", folderName_());
    if (!run_.entries)
        run_.entries = std::make_unique<RunEntry[]>(kRunLength);
    run_.folder = reader_.fd();
    DirectoryReader::Entry entry;
    while (run_.count < kRunLength && !readerAtEnd_) {
        const DirectoryReader::Step step = reader_.next(entry);
        readerAtEnd_ = step == DirectoryReader::Step::End;
        if (step == DirectoryReader::Step::Failed && run_.count == 0)
            throwErrno(errno, "go on listing", folderName_());
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
        throwErrno(errno, "read the attributes of", folderName_() + windowsName);
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

void DirectoryListing::prepareAside() {
    // The helper lets go of the descriptor. A walk has gone into the run's last entry, and
    // given the run out whole; what another caller left is read once the listing is back.
    if (helper_ && run_.count >= kShared)
        helper_->withdraw(run_);
    if (runAt_ >= run_.count) {
        endRun();
        run_.entries.reset();
    }
}

} // namespace pellatrix::linuxos
