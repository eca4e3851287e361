// libFuzzer target over the Linux path translation and pattern matching: whatever the bytes,
// conversions round-trip, paths keep their components, and matching ends with a sane answer.
#include "platform/linux/drive_mapping.h"
#include "platform/linux/wildcard_match.h"
#include "platform/text_encoding.h"

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

    // Every byte string survives UTF-16 and back.
    require(toUtf8(fromUtf8(bytes)) == bytes);

    // Every absolute Linux path survives the drive mapping, on C: and on Z:.
    if (bytes.find('\0') == std::string::npos) {
        const linux::DriveMapping drives("/home/u/.local/share");
        for (const std::string& native : {"/" + bytes, "/home/u/.local/share/" + bytes}) {
            const Text windows = drives.windowsPathOf(native);
            require(windows.size() >= 3 && windows[1] == u':' && windows[2] == u'\\');
            require(drives.nativePathOf(windows) == native);
        }
    }

    // Split the input into a pattern and a name at the first NUL.
    const auto cut = bytes.find('\0');
    const Text pattern = fromUtf8(std::string_view(bytes).substr(0, cut));
    const Text name = cut == std::string::npos ? Text() : fromUtf8(bytes.substr(cut + 1));
    const bool matched = linux::matchesWildcard(pattern, name);
    require(linux::matchesWildcard(u"*", name));
    if (!linux::hasWildcards(name))
        require(linux::matchesWildcard(name, name));
    if (!linux::hasWildcards(pattern) && matched)
        require(pattern.size() == name.size() || pattern.ends_with(u".*"));
    return 0;
}
