// Long paths in the "\\?\" form.
#include "long_path.h"

#include "wide_text.h"
#include "win32_error.h"

#include <windows.h>

namespace pellatrix::win32 {
namespace {

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// GetFullPathNameW resolves ".", ".." and "/" and keeps wildcards in the last component.
std::wstring fullPath(const std::wstring& path, const Text& original) {
    std::wstring full(path.size() + MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            throwLastError("make a full path of", original);
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        full.resize(length);
    }
}

} // namespace

std::wstring systemPath(const Text& path) {
    std::wstring wide = toWide(path);
    if (wide.size() < kLongPathFrom || startsWith(wide, L"\\\\?\\"))
        return wide;
    std::wstring full = fullPath(wide, path);
    if (startsWith(full, L"\\\\?\\"))
        return full;
    if (startsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

} // namespace pellatrix::win32
