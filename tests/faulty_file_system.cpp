// The failing file system: a read-only FUSE view of a real folder, served by a child process.
#define FUSE_USE_VERSION 31
#include "faulty_file_system.h"

#include <fuse.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pellatrix::testing {
namespace {

// The server's state: it runs alone in its own process.
std::string shownFolder;
std::map<std::string, int> failing;
FaultyFileSystem::Changes changes;

std::string real(const char* path) {
    return shownFolder + path;
}

int getattrOp(const char* path, struct stat* st, fuse_file_info*) {
    if (!changes.stuck.empty() && path + 1 == changes.stuck) {
        // Long past any test's patience; answering at all lets a test that looked end.
        std::this_thread::sleep_for(std::chrono::seconds(20));
        return -ENOENT;
    }
    return lstat(real(path).c_str(), st) == 0 ? 0 : -errno;
}

int openOp(const char* path, fuse_file_info* file) {
    const int fd = open(real(path).c_str(), O_RDONLY);
    if (fd < 0)
        return -errno;
    file->fh = static_cast<std::uint64_t>(fd);
    file->direct_io = changes.appendedWhenRead.contains(path + 1);
    return 0;
}

// A read makes the kernel drop the file's cached times (its access time changes), so that the
// reader's next fstat asks again and sees the byte appended here.
int readOp(const char* path, char* buffer, std::size_t size, off_t offset, fuse_file_info* file) {
    const auto change = changes.appendedWhenRead.find(path + 1);
    if (offset == 0 && change != changes.appendedWhenRead.end() && change->second-- > 0)
        std::ofstream(real(path), std::ios::app) << 'x';
    const ssize_t length = pread(static_cast<int>(file->fh), buffer, size, offset);
    return length < 0 ? -errno : static_cast<int>(length);
}

int releaseOp(const char*, fuse_file_info* file) {
    close(static_cast<int>(file->fh));
    return 0;
}

int opendirOp(const char* path, fuse_file_info*) {
    const auto fault = failing.find(path + 1);
    return fault != failing.end() && fault->second == FaultyFileSystem::kRefusedOpen ? -EACCES : 0;
}

// Lists in name order, with each entry's position as its offset, so that the kernel comes
// back for the rest at a known place; a failing folder gives its first entries in one reply
// and fails the next.
int readdirOp(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset, fuse_file_info*,
              fuse_readdir_flags) {
    const std::string folder = real(path);
    std::vector<std::string> names = {".", ".."};
    std::error_code error; // a folder that cannot be read lists nothing
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename());
    std::sort(names.begin() + 2, names.end());
    const auto fault = failing.find(path + 1);
    const off_t limit = fault == failing.end() ? -1 : fault->second == 0 ? 0 : fault->second + 2;
    if (limit >= 0 && offset >= limit)
        return -EIO;
    for (off_t at = offset; at < static_cast<off_t>(names.size()) && at != limit; ++at) {
        struct stat st {};
        lstat((folder + "/" + names[at]).c_str(), &st);
        if (fill(buffer, names[at].c_str(), &st, at + 1, static_cast<fuse_fill_dir_flags>(0)))
            break;
    }
    return 0;
}

} // namespace

FaultyFileSystem::FaultyFileSystem(const std::filesystem::path& shown,
                                   const std::filesystem::path& mountPoint,
                                   std::map<std::string, int> failingListings, Changes faults) {
    std::filesystem::create_directories(mountPoint);
    // Mounted here and served by a child, which takes this state along.
    shownFolder = shown.string();
    failing = std::move(failingListings);
    changes = std::move(faults);
    fuse_operations operations{};
    operations.getattr = getattrOp;
    operations.open = openOp;
    operations.read = readOp;
    operations.release = releaseOp;
    operations.opendir = opendirOp;
    operations.readdir = readdirOp;
    char name[] = "pellatrix-faulty";
    char* argv[] = {name, nullptr};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    fuse_ = fuse_new(&args, &operations, sizeof operations, nullptr);
    fuse_opt_free_args(&args);
    if (!fuse_ || fuse_mount(fuse_, mountPoint.c_str()) != 0) {
        whyNot_ = "mounting a FUSE file system is refused here (it needs /dev/fuse and root)";
        return;
    }
    server_ = fork();
    if (server_ == 0) {
        fuse_loop(fuse_); // until it is unmounted
        _exit(0);
    }
}

FaultyFileSystem::~FaultyFileSystem() {
    if (!fuse_)
        return;
    // Unmounted first, so that nothing reaches the server once it is gone: one stuck in a
    // lookup would not end of itself for a while.
    fuse_unmount(fuse_);
    if (server_ > 0) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
    }
    fuse_destroy(fuse_);
}

} // namespace pellatrix::testing
