// Opening paths below a folder that the program holds open, never through a link.
//
// The destination is a folder that other people and programs may change while we run: a path
// resolved from "/" each time may lead somewhere else the next time. Everything below a drive
// root is therefore reached from the root's descriptor, one component at a time in the
// kernel's view: no symbolic link is followed on the way (the last component included) and
// ".." never leads above the root.
#pragma once

#include "platform/linux/sys/unique_fd.h"

#include <string_view>
#include <sys/types.h>

namespace pellatrix::linuxos {

// Opens `relative` ("Tolvex/Model": components separated by "/", no leading "/"; empty for
// the root itself) below the open folder rootFd. `flags` are those of openat; O_NOFOLLOW and
// O_CLOEXEC are always added. Returns an invalid UniqueFd with errno set on failure: ELOOP
// where a symbolic link stands anywhere on the way, EXDEV for a ".." component.
//
// Uses openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS); where the
// kernel lacks it, or a sandbox refuses it, it walks the components with
// openat(O_PATH | O_DIRECTORY | O_NOFOLLOW), which gives the same guarantee.
UniqueFd openBeneath(int rootFd, std::string_view relative, int flags, mode_t mode = 0);

// Opens the folder `relative` below rootFd as openBeneath does, making each missing
// component on the way (mode 0777, within the umask). Returns a descriptor opened
// O_RDONLY | O_DIRECTORY, or an invalid UniqueFd with errno set: ELOOP for a link on the
// way, ENOTDIR for a file where a folder must go.
UniqueFd makeFoldersBeneath(int rootFd, std::string_view relative);

// Forces the component walk instead of openat2 (for tests of the fallback).
void useComponentWalkForTesting(bool on);

} // namespace pellatrix::linuxos
