// What the Windows platform holds open, and how it reaches a path from it.
//
// - The destination: each of its folders below the drive root, opened one name at a time from
//   the root, checked to be a real folder and not a reparse point, and held without
//   FILE_SHARE_DELETE until the platform ends, so that none of them can be renamed, replaced
//   or removed meanwhile.
// - The open listings, each through a handle of its own.
// Which of them a path lies in is HeldPaths' answer (platform/held_paths.h): a path inside a
// held folder or an open listing is reached from it one name at a time; only a path inside
// none of them is opened by its path, up to its last folder. Everything is released when the
// object goes.
#pragma once

#include "directory_listing.h"
#include "platform/held_paths.h"

#include <map>
#include <vector>

namespace pellatrix::win32 {

class HeldFolders {
  public:
    HeldFolders();

    // Opens and holds `folder` and every folder above it below its root. With `make` the
    // missing ones are made; without, those that exist are held. Raises PlatformError when one
    // of them is a file, a link or junction, or a link that leads nowhere.
    void holdDestination(const Text& folder, bool make);

    ListingHandle openListing(const Text& pattern, FindData& data);
    bool advanceListing(ListingHandle listing, FindData& data);
    void closeListing(ListingHandle listing);

    // Opens the file or folder at `path` for `access`, never through a reparse point. When
    // the open listing of its folder stands at its name, what opens must be what was listed.
    FileHandle openEntry(const Text& path, ACCESS_MASK access, const char* operation);

  private:
    // The folder that `at` leads to (what held_.place() said for it), reached one name at a
    // time; a handle of its own when `ownHandle`. Null when it is missing.
    std::shared_ptr<const FolderNode> folderAt(const HeldPaths::Place& at, const char* operation,
                                               bool ownHandle) const;
    // What the open listing `at` leads from showed for its first name below, when that is the
    // entry it gave out last; null otherwise.
    const ListedEntry* listedFirst(const HeldPaths::Place& at) const;

    HeldPaths paths_;
    std::vector<std::shared_ptr<const FolderNode>> held_; // HeldPaths ids are places in it
    std::map<ListingHandle, DirectoryListing> listings_;
    ListingHandle nextListing_ = 1;
};

} // namespace pellatrix::win32
