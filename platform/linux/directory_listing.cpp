// Folder listings with DOS patterns.
#include "directory_listing.h"

#include "file_attributes.h"
#include "platform/text_encoding.h"
#include "wildcard_match.h"

#include <algorithm>
#include <fcntl.h>

namespace pellatrix::linux {
namespace {

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

std::unique_ptr<DirectoryListing> DirectoryListing::open(const DriveMapping& drives,
                                                         const Text& windowsPattern,
                                                         FindData& data) {
    const auto slash = windowsPattern.find_last_of(u"\\/");
    if (slash == Text::npos)
        return nullptr;
    const Text windowsFolder = windowsPattern.substr(0, slash + 1);
    std::unique_ptr<DirectoryListing> listing(new DirectoryListing);
    listing->pattern_ = windowsPattern.substr(slash + 1);
    try {
        listing->folder_ = drives.nativePathOf(windowsFolder);
    } catch (const std::exception&) {
        return nullptr; // no such drive: nothing to list
    }
    if (listing->pattern_.empty())
        return nullptr;

    if (!hasWildcards(listing->pattern_)) {
        // A plain name lists that one entry, as it is spelt on the disk.
        listing->single_ = DriveMapping::nativeNameOf(listing->pattern_);
        if (listing->single_ == "." || listing->single_ == "..")
            return nullptr;
        if (!listing->fill(data, listing->single_, listing->pattern_))
            return nullptr;
        return listing;
    }

    listing->dir_ = opendir(listing->folder_.c_str());
    if (!listing->dir_)
        return nullptr;
    if (!DriveMapping::isDriveRoot(windowsFolder))
        listing->dotsPending_ = 2;
    if (!listing->next(data))
        return nullptr;
    return listing;
}

DirectoryListing::~DirectoryListing() {
    if (dir_)
        closedir(dir_);
}

bool DirectoryListing::next(FindData& data) {
    while (dotsPending_ > 0) {
        const std::string name = dotsPending_-- == 2 ? "." : "..";
        const Text wideName = fromUtf8(name);
        if (matchesWildcard(pattern_, wideName) && fill(data, name, wideName))
            return true;
    }
    if (!dir_)
        return false; // a single-entry listing has given out its entry
    while (const dirent* entry = readdir(dir_)) {
        if (isDotOrDotDot(entry->d_name))
            continue;
        const Text wideName = DriveMapping::windowsNameOf(entry->d_name);
        if (matchesWildcard(pattern_, wideName) && fill(data, entry->d_name, wideName))
            return true; // an entry that vanished since readdir is passed over
    }
    return false;
}

bool DirectoryListing::fill(FindData& data, const std::string& name, const Text& wideName) {
    std::uint32_t attributes = 0;
    const std::string path = folder_.ends_with('/') ? folder_ + name : folder_ + "/" + name;
    if (!readAttributesAt(dir_ ? dirfd(dir_) : AT_FDCWD, dir_ ? name : path, attributes))
        return false;
    data = FindData{};
    data.dwFileAttributes = attributes;
    // A Linux name is at most 255 bytes, so it always fits with its NUL.
    const std::size_t length = std::min(wideName.size(), data.cFileName.size() - 1);
    std::copy_n(wideName.begin(), length, data.cFileName.begin());
    return true;
}

} // namespace pellatrix::linux
