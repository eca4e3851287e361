// Mdl1: the shell copy request.
#pragma once

#include "platform/platform_services.h"

#include <cstdint>

namespace pellatrix {

// What the shell reported for one request.
struct FileOperationResult {
    int code = 0;         // the shell's result: 0 when everything went through
    bool aborted = false; // the user cancelled

    bool failed() const { return code != 0 || aborted; }
};

// Copies (mode other than 1) or moves (mode 1) the files that str_Source names into
// str_Destination, asking no confirmation questions; extraFlags (ShellFlag bits) are passed to
// the shell besides. Issues no request when either is empty.
FileOperationResult RunFileOperation(PlatformServices& platform, WindowHandle hwnd,
                                     const Text& str_Source, const Text& str_Destination,
                                     std::int16_t mode, std::uint16_t extraFlags = 0);

} // namespace pellatrix
