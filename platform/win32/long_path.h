// The form in which a path reaches the file functions: paths near or above MAX_PATH go
// through the "\\?\" form, which lifts the limit.
#pragma once

#include "platform/platform_services.h"

#include <string>

namespace pellatrix::win32 {

// Paths this long or longer take the "\\?\" form. CreateDirectoryW stops at MAX_PATH - 12
// (248), the other functions at MAX_PATH (260); the lower bound serves both.
inline constexpr std::size_t kLongPathFrom = 248;

// The path as the W file functions should receive it. A long path is made absolute (the
// "\\?\" form takes neither relative paths, "/", "." nor "..") and prefixed: "\\?\C:\..."
// or "\\?\UNC\server\share\..."; a short path, or one already prefixed, is passed unchanged.
std::wstring systemPath(const Text& path);

} // namespace pellatrix::win32
