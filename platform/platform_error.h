// The error that every failing platform operation raises: the platform's own error code,
// the operation that failed and the path it concerns.
#pragma once

#include "platform_services.h"

#include <functional>
#include <string>
#include <system_error>

namespace pellatrix {

class PlatformError : public std::system_error {
  public:
    // operation: what was being done, in a few words ("set the attributes of").
    PlatformError(std::error_code code, std::string operation, Text path);

    const std::string& operation() const noexcept { return operation_; }
    const Text& path() const noexcept { return path_; }

  private:
    std::string operation_;
    Text path_;
};

// Failures that the program itself detects, in an error category of its own.
enum class PellatrixError {
    DestinationIsLink = 1, // a folder on the way to the destination is a link or junction
    NoWayToAsk,            // neither a terminal nor a display to ask the question on
    LinkOnTheWay,          // a link stands where a folder or file is expected
    TooDeep,               // folders nested deeper than the walk's stack holds
    CopyIntoItself,        // the destination lies inside the source, or the source inside it
    DestinationBusy,       // another copy is writing into the destination
    NotAFile,              // a pipe, device or socket where a file was expected
    NotAFolder,            // a file or a dangling link stands where a folder must be
    ReplacedSinceListed,   // a listed entry was replaced by another before it was reached
    NameLeavesFolder,      // a listed name that would lead out of its folder if joined to it
    NameNotCopyable,       // a medium name that the shell copy would change or cannot take
    ChangedWhileCopied,    // a source file kept changing while it was copied
    DeviceName,            // a medium name that Windows takes for a device (CON, NUL, COM1...)
};
const std::error_category& pellatrixCategory() noexcept;
inline std::error_code make_error_code(PellatrixError e) noexcept {
    return {static_cast<int>(e), pellatrixCategory()};
}

// How the report shows a path: as it stands where this is empty; a platform whose people know
// their paths in another form than the program's Windows paths converts it.
using PathDisplay = std::function<Text(const Text& path)>;

// The report shown when an error ends the program: names the error and the path.
Text describeError(const std::exception& error, const PathDisplay& showPath = {});

} // namespace pellatrix
