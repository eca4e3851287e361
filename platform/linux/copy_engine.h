// The Linux form of the shell's copy: everything that a pattern matches in a source folder
// goes into a destination folder, subfolders recursively, merging into folders that exist and
// replacing files without a question.
//
// Guarantees:
// - A file never appears half-written under its real name: it is written as an unnamed file
//   (O_TMPFILE) or a temporary ".pellatrix-tmp-*" in its destination folder, and linked or
//   renamed into place only when complete. A failure, a cancel or a killed process leaves
//   the old file intact; temporaries that a killed run left behind are removed by the next
//   run in the folders it copies into.
// - Links are copied as links, never followed; a link at the destination is replaced, never
//   written through; folders are opened without following links, so nothing outside the
//   destination is touched.
// - Copies keep the permission bits, the modification time and the hidden and system
//   attributes (user.DOSATTRIB) of their source.
// - Memory does not grow with the size of the tree.
#pragma once

#include "copy_observer.h"

#include <string>

namespace pellatrix::linux {

struct CopyRequest {
    std::string sourceFolder;      // native
    Text pattern;                  // what to take from it, e.g. "*.*"
    std::string destinationFolder; // native; made, with its parents, when something matches
    Text sourceDisplay;            // the source folder as the person knows it, ending in "\"
    bool move = false;             // remove each source entry once it has been copied
};

struct CopyOutcome {
    std::uint64_t failures = 0; // entries that could not be copied (skipped or cancelled)
    bool cancelled = false;
    bool succeeded() const { return failures == 0 && !cancelled; }
};

CopyOutcome copyMatchingEntries(const CopyRequest& request, CopyObserver& observer);

// The prefix of the temporaries that a copy writes and a later run removes.
inline constexpr char kTemporaryPrefix[] = ".pellatrix-tmp-";

} // namespace pellatrix::linux
