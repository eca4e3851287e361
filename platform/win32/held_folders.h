// What the Windows platform holds open, and how it reaches a path from it.
//
// - The destination: each of its folders below the drive root, opened one name at a time from
//   the root, checked to be a real folder and not a reparse point, and held without
//   FILE_SHARE_DELETE until the platform ends, so that none of them can be renamed, replaced
//   or removed meanwhile.
// - The open listings, each through a handle of its own.
// A path inside a held folder or an open listing is reached from the newest of them it lies
// in, one name at a time; only a path inside none of them is opened by its path, up to its
// last folder. Everything is released when the object goes.
#pragma once

#include "directory_listing.h"

#include <map>
#include <vector>

namespace pellatrix::win32 {

class HeldFolders {
  public:
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
    // Where a folder is reached from: a held folder or a listing's folder, and the names
    // below it ("\"-separated; empty for the folder itself). `from` is null for a folder
    // inside none of them.
    struct Reach {
        std::shared_ptr<const FolderNode> from;
        const DirectoryListing* listing = nullptr;
        std::u16string_view rest;
    };
    Reach reach(std::u16string_view folder) const;
    // What the open listing that `from` leads from showed for `name`, the first name below
    // where it leads; null when that listing stands at another name, or there is none.
    static const ListedEntry* listedAs(const Reach& from, std::u16string_view name);
    // The folder, reached from `from` (what reach() found for it); a fresh handle when
    // `ownHandle`. Null when it is missing.
    std::shared_ptr<const FolderNode> folderAt(std::u16string_view folder, const Reach& from,
                                               const char* operation, bool ownHandle) const;

    std::vector<std::shared_ptr<const FolderNode>> held_;
    std::map<ListingHandle, DirectoryListing> listings_;
    ListingHandle nextListing_ = 1;
};

} // namespace pellatrix::win32
