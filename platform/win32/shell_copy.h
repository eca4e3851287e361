// The shell file operation: the record as given, passed to SHFileOperationW.
#pragma once

#include "platform/platform_services.h"

#include <windows.h>

namespace pellatrix::win32 {

// Runs op through SHFileOperationW with op.hwnd as owner and returns the shell's result
// (0 when everything went through); sets op.fAnyOperationsAborted from the shell's record.
//
// When the source matches anything, the destination folder (and any missing folder above
// it) is made first: given a "*.*" source that matches one entry, some shells make a file
// named after the destination or copy the one folder's contents flat instead of into a
// folder. A missing or empty source makes nothing.
int runShellFileOperation(FileOpStruct& op);

// Makes `folder` and every missing folder above it. Raises PlatformError on failure.
void makeFolders(const Text& folder);

// Whether `pattern` matches at least one entry other than "." and "..".
bool matchesAnything(const Text& pattern);

} // namespace pellatrix::win32
