// Win32 error codes as PlatformError, with the system's own text for each code.
#pragma once

#include "platform/platform_error.h"

#include <string>
#include <system_error>

namespace pellatrix::win32 {

// The category of GetLastError codes; message() is FormatMessageW's text, in UTF-8.
const std::error_category& win32Category() noexcept;

std::error_code win32ErrorCode(unsigned long code) noexcept;

// What the platform refuses of its own accord, beside the system's errors.
enum class Refusal {
    NotAFolder = 1,      // a file or a dangling link stands where a folder must be
    ReplacedSinceListed, // a listed entry was replaced by another before it was reached
    NameLeavesFolder,    // a listed name that would lead out of its folder if joined to it
    NameNotCopyable,     // a medium name that the shell copy would change or cannot take
};
std::error_code make_error_code(Refusal refusal) noexcept;

// Raises PlatformError with the calling thread's GetLastError code.
[[noreturn]] void throwLastError(std::string operation, const Text& path);

} // namespace pellatrix::win32
