// The shell file operation: the record as given, passed to SHFileOperationW, with the
// destination held and the medium's names checked first.
#pragma once

#include "held_folders.h"
#include "platform/platform_services.h"

namespace pellatrix::win32 {

// Runs op through SHFileOperationW with op.hwnd as owner and returns the shell's result
// (0 when everything went through); sets op.fAnyOperationsAborted from the shell's record.
//
// Before a copy or move, and before anything is written:
// - every name the source pattern reaches is checked (checkMediumNames);
// - the destination folder and the folders above it are held (HeldFolders::holdDestination).
//   When the source matches anything, the missing ones are made first: given a "*.*" source
//   that matches one entry, some shells make a file named after the destination or copy the
//   one folder's contents flat instead of into a folder. A missing or empty source makes
//   nothing.
int runShellFileOperation(FileOpStruct& op, HeldFolders& held);

} // namespace pellatrix::win32
