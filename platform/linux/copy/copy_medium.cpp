// Telling spinning media from the others.
#include "platform/linux/copy/copy_medium.h"

#include <algorithm>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>

namespace pellatrix::linuxos {
namespace {

constexpr unsigned kMostThreads = 4;

// Whether the block device `device`, or the disk that holds it when it is a partition, says
// it rotates. False for what is no block device at all (tmpfs, network and FUSE file systems).
bool rotates(dev_t device) {
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
        std::ifstream flag(base + queue);
        int rotational = 0;
        if (flag >> rotational)
            return rotational != 0;
    }
    return false;
}

} // namespace

unsigned copyThreadsFor(int source) {
    struct stat st;
    if (fstat(source, &st) != 0 || (major(st.st_dev) != 0 && rotates(st.st_dev)))
        return 1;
    return std::clamp(std::thread::hardware_concurrency(), 1u, kMostThreads);
}

} // namespace pellatrix::linuxos
