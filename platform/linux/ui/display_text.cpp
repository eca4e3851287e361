// Paths and names as the person sees them.
#include "platform/linux/ui/display_text.h"

#include "platform/platform_error.h"
#include "platform/text_encoding.h"

#include <cstdlib>

namespace pellatrix::linuxos {
namespace {

void appendOctal(std::string& out, unsigned char byte) {
    out += '\\';
    out += static_cast<char>('0' + (byte >> 6));
    out += static_cast<char>('0' + ((byte >> 3) & 7));
    out += static_cast<char>('0' + (byte & 7));
}

std::string withHomeAsTilde(std::string path) {
    while (path.size() > 1 && path.ends_with('/'))
        path.pop_back();
    const char* home = std::getenv("HOME");
    std::string_view prefix = home ? home : "";
    while (prefix.size() > 1 && prefix.ends_with('/'))
        prefix.remove_suffix(1);
    if (prefix.size() > 1 && prefix.front() == '/' && path.starts_with(prefix) &&
        (path.size() == prefix.size() || path[prefix.size()] == '/'))
        return "~" + path.substr(prefix.size());
    return path;
}

} // namespace

std::string escapeControlCharacters(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = 0;
        const std::size_t length = decodeUtf8At(text, at, codePoint);
        if (length == 0) {
            appendOctal(out, static_cast<unsigned char>(text[at++]));
            continue;
        }
        static constexpr std::string_view kNamed = "\a\b\t\n\v\f\r\\";
        static constexpr std::string_view kLetters = "abtnvfr\\";
        if (const std::size_t named = kNamed.find(static_cast<char>(codePoint));
            codePoint < 0x80 && named != std::string_view::npos) {
            out += '\\';
            out += kLetters[named];
        } else if (codePoint < 0x20 || codePoint == 0x7F ||
                   (codePoint >= 0x80 && codePoint < 0xA0)) {
            for (std::size_t i = 0; i < length; ++i)
                appendOctal(out, static_cast<unsigned char>(text[at + i]));
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

std::string displayPath(const DriveMapping& drives, const Text& windowsPath) {
    const std::optional<std::string> native = drives.nativePathOf(windowsPath);
    // Text that names no path on a drive is shown as it stands.
    return escapeControlCharacters(native ? withHomeAsTilde(*native) : toUtf8(windowsPath));
}

std::string fileCountText(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " of " + std::to_string(total) +
           (total == 1 ? " file" : " files");
}

} // namespace pellatrix::linuxos
