// One open listing of a folder, in the manner of FindFirstFileW: the entries whose names
// match the pattern, "." and ".." first except at a drive root, read lazily so that a folder
// of any size costs constant memory.
#pragma once

#include "drive_mapping.h"
#include "platform/platform_services.h"

#include <dirent.h>
#include <memory>
#include <string>

namespace pellatrix::linux {

class DirectoryListing {
  public:
    // Opens a listing of windowsPattern and fills data with its first entry. Returns nullptr
    // when the folder is missing or unreadable, or nothing matches.
    static std::unique_ptr<DirectoryListing> open(const DriveMapping& drives,
                                                  const Text& windowsPattern, FindData& data);
    ~DirectoryListing();
    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    // Fills data with the next matching entry; false when none is left.
    bool next(FindData& data);

  private:
    DirectoryListing() = default;
    bool fill(FindData& data, const std::string& name, const Text& wideName);

    DIR* dir_ = nullptr;
    std::string folder_;   // native folder path
    Text pattern_;         // the last component of the Windows pattern
    int dotsPending_ = 0;  // "." and ".." still to give out
    std::string single_;   // the one entry of a pattern without wildcards
};

} // namespace pellatrix::linux
