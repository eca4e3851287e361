// Windows attributes of Linux files, the same as Wine shows them, so that both programs agree
// on one disk:
// - directory for a folder, archive for everything else;
// - read-only when no write bit (user, group or other) is set;
// - hidden and system from the extended attribute user.DOSATTRIB ("0x" and hex digits); a
//   read-only bit stored there is not read, as Wine does not read it: the mode decides;
// - a symbolic link reads as a reparse point alone, whatever it points at: what it points at
//   is never looked up (Wine, which shows a link as its target, looks it up).
#pragma once

#include "platform/platform_services.h"

#include <string>
#include <sys/stat.h>

namespace pellatrix::linuxos {

inline constexpr char kDosAttributeName[] = "user.DOSATTRIB";

// What one read of an entry found, for a change of its attributes right after.
struct EntryRead {
    struct stat status {};
    std::uint32_t stored = 0; // the whole user.DOSATTRIB value; 0 when there is none
    // stored stands for the entry while its inode and change time are those of status.
    bool storedSure = false;
};

// The attributes of the entry `name` in the open folder dirFd (AT_FDCWD with a full path
// works too), never following a link, and what was read for them in `read` when given.
// Returns false, with errno set, when it does not exist.
bool readAttributesAt(int dirFd, const std::string& name, std::uint32_t& attributes,
                      EntryRead* read = nullptr);

// Sets the attributes of the entry `name` in the open folder dirFd, never through a link:
// clearing read-only adds the user's write bit and the group's and others' where they may
// read, within the umask; setting it removes every write bit. Hidden and system go to
// user.DOSATTRIB, whose stored read-only bit follows the request; a file system without
// extended attributes keeps them at 0 without failing. Raises PlatformError naming
// windowsPath. The entry is read again first; earlier, what a read of it found a moment ago,
// saves reading user.DOSATTRIB again while the inode and change time show nothing changed.
void setAttributesAt(int dirFd, const std::string& name, std::uint32_t attributes,
                     const Text& windowsPath, const EntryRead* earlier = nullptr);

// The process's umask, read without changing it.
mode_t processUmask();

// The hidden and system bits stored in user.DOSATTRIB text ("0x22" -> 2), or 0.
std::uint32_t parseDosAttributes(const char* text, std::size_t length);

} // namespace pellatrix::linuxos
