// syncfs, with a way for tests to make it fail.
#include "platform/linux/sys/file_system_sync.h"

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace pellatrix::linuxos {
namespace {

std::atomic<int> failingWith{0};

} // namespace

bool syncFileSystem(int fd) {
    if (const int error = failingWith.load(std::memory_order_relaxed)) {
        errno = error;
        return false;
    }
    return syncfs(fd) == 0;
}

void failFileSystemSyncsForTesting(int error) {
    failingWith = error;
}

} // namespace pellatrix::linuxos
