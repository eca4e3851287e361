// The form in which a path reaches the file functions: the "\\?\" form, which lifts the
// MAX_PATH limit and keeps a name's trailing dot or space, which path parsing would drop.
#pragma once

#include "platform/platform_services.h"

#include <string>

namespace pellatrix::win32 {

// The path as the W file functions should receive it: "\\?\C:\..." or "\\?\UNC\server\...".
// An absolute path of plain names is prefixed as it stands; one that only the system's parser
// can read (relative, or holding "/", "." or "..") is made absolute by it first, which drops
// trailing dots and spaces as Windows always does for such paths. A prefixed path is kept.
std::wstring systemPath(const Text& path);

// The absolute form of `path` (GetFullPathNameW): ".", ".." and "/" resolved.
Text absolutePath(const Text& path);

} // namespace pellatrix::win32
