// libFuzzer target over the text encoding, the Linux path translation and pattern matching:
// whatever the bytes, conversions round-trip (bytes that are not UTF-8 as lone surrogates),
// paths keep their components, and matching ends with a sane answer.
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/files/wildcard_match.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace pellatrix;

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Every byte string survives UTF-16 and back; only U+DC80 to U+DCFF stand for bytes that
    // are not valid UTF-8, always as a lone low surrogate.
    const Text text = fromUtf8(bytes);
    require(toUtf8(text) == bytes);
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF)
            require(++i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF);
        else if (text[i] >= 0xDC00 && text[i] <= 0xDFFF)
            require(text[i] >= 0xDC80 && text[i] <= 0xDCFF);

    // Every absolute Linux path survives the drive mapping, on C: and on Z:, names that are
    // not UTF-8 or that hold a backslash included; a backslash never becomes a separator.
    if (bytes.find('\0') == std::string::npos) {
        const linuxos::DriveMapping drives("/home/u/.local/share");
        for (const std::string& native : {"/" + bytes, "/home/u/.local/share/" + bytes}) {
            const Text windows = drives.windowsPathOf(native);
            require(windows.size() >= 3 && windows[1] == u':' && windows[2] == u'\\');
            require(drives.nativePathOf(windows) == native);
        }
        const Text onZ = drives.windowsPathOf("/" + bytes);
        require(onZ[0] != u'Z' || std::count(onZ.begin(), onZ.end(), u'\\') ==
                                      std::count(bytes.begin(), bytes.end(), '/') + 1);
    }

    // Split the input into a pattern and a name at the first NUL.
    const auto cut = bytes.find('\0');
    const Text pattern = fromUtf8(std::string_view(bytes).substr(0, cut));
    const Text name = cut == std::string::npos ? Text() : fromUtf8(bytes.substr(cut + 1));
    const bool matched = linuxos::matchesWildcard(pattern, name);
    require(linuxos::matchesWildcard(u"*", name));
    if (!linuxos::hasWildcards(name))
        require(linuxos::matchesWildcard(name, name));
    if (!linuxos::hasWildcards(pattern) && matched)
        require(pattern.size() == name.size() || pattern.ends_with(u".*"));
    return 0;
}
