// Paths and names as the person sees them.
#include "display_text.h"

#include "platform/platform_error.h"
#include "platform/text_encoding.h"

#include <cstdlib>

namespace pellatrix::linux {
namespace {

// The length of the valid UTF-8 sequence at text[at], or 0.
std::size_t sequenceLength(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong =
        (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return overlong || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

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
        const std::size_t length = sequenceLength(text, at, codePoint);
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
    std::string shown;
    try {
        shown = withHomeAsTilde(drives.nativePathOf(windowsPath));
    } catch (const PlatformError&) {
        shown = toUtf8(windowsPath); // no path on a drive
    }
    return escapeControlCharacters(shown);
}

std::string fileCountText(std::uint64_t done, std::uint64_t total) {
    return std::to_string(done) + " of " + std::to_string(total) +
           (total == 1 ? " file" : " files");
}

} // namespace pellatrix::linux
