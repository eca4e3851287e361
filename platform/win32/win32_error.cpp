// The Win32 error category: codes from GetLastError, texts from FormatMessageW.
#include "win32_error.h"

#include "platform/text_encoding.h"
#include "wide_text.h"

#include <windows.h>

namespace pellatrix::win32 {
namespace {

// libstdc++'s system_category asks FormatMessageA, whose text is in the ANSI code page (code
// page 932 on a Japanese system); the error report expects UTF-8, so this category asks for
// the wide text and converts it.
class Win32Category : public std::error_category {
  public:
    const char* name() const noexcept override { return "win32"; }

    std::string message(int code) const override {
        wchar_t* buffer = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
        if (length == 0)
            return "error " + std::to_string(static_cast<unsigned long>(code));
        Text text = fromWide(std::wstring_view(buffer, length));
        LocalFree(buffer);
        while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' ||
                                 text.back() == u' ' || text.back() == u'.'))
            text.pop_back();
        return toUtf8(text);
    }
};

} // namespace

const std::error_category& win32Category() noexcept {
    static const Win32Category category;
    return category;
}

std::error_code win32ErrorCode(unsigned long code) noexcept {
    return {static_cast<int>(code), win32Category()};
}

void throwLastError(std::string operation, const Text& path) {
    const DWORD code = GetLastError();
    throw PlatformError(win32ErrorCode(code), std::move(operation), path);
}

} // namespace pellatrix::win32
