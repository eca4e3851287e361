// Making what was written durable: every change to a file system's files reaches its disk.
#pragma once

namespace pellatrix::linuxos {

// Writes out every change on the file system that the open file or folder `fd` lies on
// (syncfs), and waits for it. False with errno set when the file system reports a failure: then
// some change may not be on the disk.
bool syncFileSystem(int fd);

// Makes syncFileSystem fail with `error` (0: work again). For tests: a disk that fails to
// write out what it was given cannot be had on demand.
void failFileSystemSyncsForTesting(int error);

} // namespace pellatrix::linuxos
