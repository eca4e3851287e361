// A file system that fails on demand, for tests of what the platform does when a disk fails:
// a FUSE file system that shows a real folder of files and folders (no links), read-only, and
// makes the listing of chosen folders fail with EIO after a given number of entries, changes
// chosen files while they are read, or never answers the lookup of a chosen name. It is
// served by a child process and unmounted when the object goes. Needs /dev/fuse and the right
// to mount (root); where either is missing, available() is false and whyNot() says why, for
// the test to skip with.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>

struct fuse;

namespace pellatrix::testing {

class FaultyFileSystem {
  public:
    static constexpr int kRefusedOpen = -1; // opening the folder fails with EACCES

    struct Changes {
        // A file below `shown` -> how many of its reads from the start first append a byte
        // to it (a new size and new times). Read past any cache.
        std::map<std::string, int> appendedWhenRead;
        // A name below `shown` whose lookup does not return (for 20 seconds), as on a server
        // that is gone.
        std::string stuck;
    };

    // failingListings: a folder below `shown` ("" for `shown` itself, "a/b" below it) -> how
    // many entries its listing gives before it fails ("." and ".." not counted; 0: the first
    // read fails; kRefusedOpen: it cannot be opened at all). Every other folder lists in
    // full, in name order.
    FaultyFileSystem(const std::filesystem::path& shown, const std::filesystem::path& mountPoint,
                     std::map<std::string, int> failingListings, Changes changes = {});
    ~FaultyFileSystem();
    FaultyFileSystem(const FaultyFileSystem&) = delete;
    FaultyFileSystem& operator=(const FaultyFileSystem&) = delete;

    bool available() const { return server_ > 0; }
    const std::string& whyNot() const { return whyNot_; }

  private:
    fuse* fuse_ = nullptr; // mounted here, served by the child server_
    pid_t server_ = -1;
    std::string whyNot_;
};

} // namespace pellatrix::testing
