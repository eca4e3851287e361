// Paths in the "\\?\" form.
#include "long_path.h"

#include "wide_text.h"
#include "win32_error.h"

#include <windows.h>

namespace pellatrix::win32 {
namespace {

// Whether the system's parser is needed: the path is not "C:\..." or "\\server\..." made of
// plain names (an empty last name, from a trailing "\", is plain too).
bool needsParsing(std::u16string_view path) {
    std::size_t start = 0;
    if (path.size() >= 3 && path[1] == u':' && path[2] == u'\\')
        start = 3;
    else if (path.size() > 2 && path.starts_with(u"\\\\") && path[2] != u'?' && path[2] != u'.')
        start = 2;
    else
        return true;
    if (path.find(u'/') != std::u16string_view::npos)
        return true;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        const std::u16string_view name = path.substr(start, end - start);
        if (name == u"." || name == u".." || (name.empty() && end != path.size()))
            return true;
        start = end + 1;
    }
    return false;
}

} // namespace

Text absolutePath(const Text& path) {
    const std::wstring wide = toWide(path);
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            throwLastError("make a full path of", path);
        if (length < full.size()) {
            full.resize(length);
            return fromWide(full);
        }
        full.resize(length);
    }
}

std::wstring systemPath(const Text& path) {
    if (path.starts_with(u"\\\\?\\"))
        return toWide(path);
    const std::wstring full = toWide(needsParsing(path) ? absolutePath(path) : path);
    if (full.starts_with(L"\\\\?\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace pellatrix::win32
