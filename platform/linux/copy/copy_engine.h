// The Linux form of the shell's copy: everything that a pattern matches in a source folder
// goes into a destination folder, subfolders recursively, merging into folders that exist and
// replacing files without a question.
//
// Guarantees:
// - The destination is opened once, below its drive's held root without following a link,
//   and held: everything below it is reached from descriptors, so a folder on the way that is
//   swapped for a link meanwhile sends nothing elsewhere. A link found on the way when it is
//   opened refuses the copy.
// - A file never appears half-written under its real name: it is written as an unnamed file
//   (O_TMPFILE) or a temporary ".pellatrix-tmp-<process>-..." in its destination folder, and
//   linked or renamed into place only when complete. A failure, a cancel or a killed process
//   leaves the old file intact; the temporaries of a process that is gone are removed by the
//   next run in the folders it copies into, those of a running one never.
// - On the disk: a file that replaces an old one is renamed over it only once a sync of its
//   file system has put its data there, and when the copy ends one sync puts everything it
//   wrote there (files, folders, links). A failed sync is a failure of the copy.
// - A source that changes while it is copied (its size, modification or change time) is
//   copied again, a few times, and then reported: never installed as a mix.
// - Two copies into one destination do not run at once: the second waits for the first (a
//   lock on the destination's parent folder), or is refused when it cannot wait.
// - Links are copied as links, never followed; a link at the destination is replaced, never
//   written through. Pipes, devices and sockets are refused, without ever blocking on one.
// - Every failure is reported: a file or folder that cannot be copied, and a listing that
//   fails part-way, get Retry / Skip / Cancel and count as failures.
// - Copies get the permission bits of their source within the umask (folders stay open to
//   their owner), its modification time and hidden and system attributes (user.DOSATTRIB);
//   holes in sparse files stay holes.
// - Memory and descriptors stay bounded whatever the size and depth of the tree.
// - The observer is called from the calling thread only. Files are copied by a few threads of
//   the engine's own (one where the source is a spinning disk or an optical drive), and the
//   source is counted by another while the copy runs: the progress totals grow until the count
//   is done.
#pragma once

#include "platform/linux/copy/copy_observer.h"
#include "platform/linux/sys/temporary_names.h"

#include <functional>
#include <string>

namespace pellatrix::linuxos {

// The held descriptor of a drive's root, or -1 with errno set. makeIfMissing: make a missing
// root first.
using DriveRoot = std::function<int(bool makeIfMissing)>;

struct CopyRequest {
    DriveRoot sourceRoot;
    std::string sourceFolder; // native, below sourceRoot: "media/cd/Model"
    Text pattern;             // what to take from it, e.g. "*.*"
    DriveRoot destinationRoot;
    std::string destinationFolder; // native, below destinationRoot: "Tolvex/Model"; made, with
                                   // its parents, when something matches
    Text sourceDisplay;            // the source folder as the person knows it, ending in "\"
    Text destinationDisplay;       // the destination likewise, ending in "\"
    bool move = false;             // remove each source entry once it has been copied
    unsigned threads = 0;          // files copied at once; 0: as many as the medium allows
};

struct CopyOutcome {
    std::uint64_t failures = 0; // entries that could not be copied (skipped or cancelled)
    bool cancelled = false;
    bool succeeded() const { return failures == 0 && !cancelled; }
};

// Raises PlatformError, before anything is copied, where the copy must not run at all: a link
// on the way to the destination (DestinationIsLink), a destination inside the source or the
// source inside the destination (CopyIntoItself), another copy into the destination that this
// one cannot wait for (DestinationBusy).
CopyOutcome copyMatchingEntries(const CopyRequest& request, CopyObserver& observer);

} // namespace pellatrix::linuxos
