// Win32 error codes as PlatformError, with the system's own text for each code.
#pragma once

#include "platform/platform_error.h"

#include <string>
#include <system_error>

namespace pellatrix::win32 {

// The category of GetLastError codes; message() is FormatMessageW's text, in UTF-8.
const std::error_category& win32Category() noexcept;

std::error_code win32ErrorCode(unsigned long code) noexcept;

// Raises PlatformError with the calling thread's GetLastError code.
[[noreturn]] void throwLastError(std::string operation, const Text& path);

} // namespace pellatrix::win32
