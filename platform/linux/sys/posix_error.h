// Raising the platform error from an errno value.
#pragma once

#include "platform/platform_error.h"

#include <cerrno>

namespace pellatrix::linuxos {

[[noreturn]] inline void throwErrno(int error, const char* operation, const Text& path) {
    throw PlatformError(std::error_code(error, std::generic_category()), operation, path);
}

} // namespace pellatrix::linuxos
