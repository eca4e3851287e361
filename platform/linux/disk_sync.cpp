// Writing out a file system.
#include "disk_sync.h"

#include <unistd.h>

namespace pellatrix::linux {

// One syncfs for a whole batch costs far less than an fdatasync per file: each fdatasync waits
// for a journal commit of its own, while syncfs commits the batch together.
int syncFileSystemOf(int fd) {
    return syncfs(fd);
}

} // namespace pellatrix::linux
