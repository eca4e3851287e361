// The check of the medium's names before the shell copies it: the shell copies by path, so a
// name that the path parser would change or misread must be refused before anything is copied.
#pragma once

#include "platform/platform_services.h"

namespace pellatrix::win32 {

// Checks every name that `pattern` (a folder and a mask) reaches: its matches, and everything
// in the folders among them, at any depth, in time and memory in proportion to the entries.
// Raises PlatformError, naming the entry, for a name the path parser would change (a trailing
// dot or space), read as syntax ("..\", ":", wildcards) or take for a DOS device (CON, NUL,
// COM1...), and for a path longer than any Windows path. Links are not entered. Returns
// whether the pattern matches anything.
bool checkMediumNames(const Text& pattern);

} // namespace pellatrix::win32
