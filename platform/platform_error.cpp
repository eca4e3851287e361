// The platform error and the text of the error report.
#include "platform_error.h"

#include "text_encoding.h"

namespace pellatrix {
namespace {

// std::system_error appends ": " and the system's text for the code.
std::string describe(const std::string& operation, const Text& path) {
    return "Could not " + operation + " \"" + toUtf8(path) + "\"";
}

class PellatrixCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "pellatrix"; }
    std::string message(int code) const override {
        switch (static_cast<PellatrixError>(code)) {
        case PellatrixError::DestinationIsLink:
            return "it is a link or junction, which could send the files somewhere else";
        case PellatrixError::NoWayToAsk:
            return "there is neither a terminal nor a display to ask on";
        case PellatrixError::LinkOnTheWay:
            return "it is a link or lies behind one, and links are not followed here";
        case PellatrixError::TooDeep:
            return "it lies too deep in nested folders to be walked";
        case PellatrixError::CopyIntoItself:
            return "the destination lies inside the source, or the source inside the destination";
        case PellatrixError::DestinationBusy:
            return "another copy is writing into this folder";
        case PellatrixError::NotAFile:
            return "it is a pipe, a device or a socket, not a file";
        case PellatrixError::NotAFolder:
            return "something that is not a folder stands there";
        case PellatrixError::ReplacedSinceListed:
            return "it was replaced by something else after its folder was listed";
        case PellatrixError::NameLeavesFolder:
            return "the name could lead out of its folder";
        case PellatrixError::NameNotCopyable:
            return "the shell copy cannot copy a name like this one as it stands";
        case PellatrixError::ChangedWhileCopied:
            return "the file kept changing while it was copied";
        case PellatrixError::DeviceName:
            return "Windows takes this name for a device (CON, PRN, AUX, NUL, COM1, LPT1...), "
                   "so the shell copy cannot copy it";
        }
        return "unknown error";
    }
};

} // namespace

const std::error_category& pellatrixCategory() noexcept {
    static const PellatrixCategory category;
    return category;
}

PlatformError::PlatformError(std::error_code code, std::string operation, Text path)
    : std::system_error(code, describe(operation, path)), operation_(std::move(operation)),
      path_(std::move(path)) {}

Text describeError(const std::exception& error, const PathDisplay& showPath) {
    if (const auto* platform = dynamic_cast<const PlatformError*>(&error)) {
        // Rebuilt from the parts so that the path keeps every character it had.
        const Text path = showPath ? showPath(platform->path()) : platform->path();
        return u"Could not " + fromUtf8(platform->operation()) + u" \"" + path + u"\": " +
               fromUtf8(platform->code().message());
    }
    return fromUtf8(error.what());
}

} // namespace pellatrix
