// Folders that fail on demand, served by a small FUSE file system in this process.
#define FUSE_USE_VERSION 31
#include "contract_fixture.h"

#include <fuse3/fuse.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace pellatrix::testing {
namespace {

constexpr int kEntries = 5;

// The root and the three folders in it.
bool isFolder(const char* path) {
    return std::strcmp(path, "/") == 0 || std::strcmp(path, "/partway") == 0 ||
           std::strcmp(path, "/atstart") == 0 || std::strcmp(path, "/denied") == 0;
}

bool isFile(const char* path) {
    return std::strncmp(path, "/partway/e", 10) == 0 && path[10] >= '0' &&
           path[10] < '0' + kEntries && path[11] == '\0';
}

int getAttributes(const char* path, struct stat* st, fuse_file_info*) {
    std::memset(st, 0, sizeof *st);
    if (isFolder(path))
        st->st_mode = S_IFDIR | 0755;
    else if (isFile(path))
        st->st_mode = S_IFREG | 0444;
    else
        return -ENOENT;
    st->st_nlink = 1;
    return 0;
}

int openFolder(const char* path, fuse_file_info*) {
    if (std::strcmp(path, "/denied") == 0)
        return -EACCES;
    return isFolder(path) ? 0 : -ENOENT;
}

// Entries carry their position, so that each read asks from where the last one ended: the
// first read of "partway" gives two entries, the next one fails.
int readFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info*,
               fuse_readdir_flags) {
    if (std::strcmp(path, "/atstart") == 0 || (std::strcmp(path, "/partway") == 0 && offset >= 2))
        return -EIO;
    const int count = std::strcmp(path, "/partway") == 0 ? 2 : 3;
    const char* rootNames[] = {"partway", "atstart", "denied"};
    for (int i = static_cast<int>(offset); i < count; ++i) {
        const std::string name =
            std::strcmp(path, "/") == 0 ? rootNames[i] : "e" + std::to_string(i);
        if (fill(buffer, name.c_str(), nullptr, i + 1, static_cast<fuse_fill_dir_flags>(0)))
            break;
    }
    return 0;
}

class FuseFaultyFolder : public FaultyFolder {
  public:
    FuseFaultyFolder(fuse* session, std::filesystem::path mountPoint)
        : FaultyFolder(std::move(mountPoint)), session_(session),
          loop_([session] { fuse_loop(session); }) {}
    ~FuseFaultyFolder() override {
        fuse_exit(session_);
        fuse_unmount(session_); // ends the loop's wait for the kernel
        loop_.join();
        fuse_destroy(session_);
        rmdir(path().c_str());
    }

  private:
    fuse* session_;
    std::thread loop_;
};

} // namespace

std::unique_ptr<FaultyFolder> mountFaultyFolder(const std::filesystem::path& mountPoint,
                                                std::string& whyNot) {
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        whyNot = "/dev/fuse is missing or not ours: no file system that fails on demand";
        return nullptr;
    }
    static const fuse_operations operations = [] {
        fuse_operations ops{};
        ops.getattr = getAttributes;
        ops.opendir = openFolder;
        ops.readdir = readFolder;
        return ops;
    }();
    char program[] = "pellatrix-faults";
    char* argv[] = {program, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fuse* session = fuse_new(&args, &operations, sizeof operations, nullptr);
    fuse_opt_free_args(&args);
    std::filesystem::create_directories(mountPoint);
    if (!session || fuse_mount(session, mountPoint.c_str()) != 0) {
        if (session)
            fuse_destroy(session);
        whyNot = "mounting a FUSE file system is refused here";
        return nullptr;
    }
    return std::make_unique<FuseFaultyFolder>(session, mountPoint);
}

} // namespace pellatrix::testing
