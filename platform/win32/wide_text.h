// The logic's UTF-16 text and the wide strings of the W functions: the same 16-bit units.
#pragma once

#include "platform/platform_services.h"

#include <string>
#include <string_view>

namespace pellatrix::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the W functions take UTF-16");

inline std::wstring toWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

inline Text fromWide(std::wstring_view text) {
    return Text(text.begin(), text.end());
}

} // namespace pellatrix::win32
