// How the copy's steps fail. A system-level helper returns errno style (false or -1 with errno
// set, or an invalid UniqueFd); a step of the copy returns a Failure, which the person is asked
// about (Retry / Skip / Cancel); only a failure that ends the program raises PlatformError.
#pragma once

#include <system_error>

namespace pellatrix::linuxos {

// What one attempt gave: empty when it succeeded.
using Failure = std::error_code;

inline Failure errnoCode(int error) {
    return {error, std::generic_category()};
}

} // namespace pellatrix::linuxos
