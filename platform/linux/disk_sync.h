// Putting what was written on the disk itself, so that a power cut does not take it back.
#pragma once

namespace pellatrix::linux {

// Writes out everything waiting in memory for the file system that holds the open file or
// folder fd: data, new names, removed names, modes and times. 0, or -1 with errno set (EIO
// when the disk refused some of it: what was written since may not be there).
int syncFileSystemOf(int fd);

} // namespace pellatrix::linux
