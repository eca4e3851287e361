// The Windows program's entry point: makes the Win32 platform and Form1, runs the job.
#include "platform/win32/redirection_trust.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_platform.h"
#include "startup/run_program.h"

#include <windows.h>

namespace {

// Used only when even the error message box could not be shown.
void reportToDebuggerAndStandardError(const pellatrix::Text& report) {
    const std::wstring wide = pellatrix::win32::toWide(report) + L"\r\n";
    OutputDebugStringW(wide.c_str());
    const HANDLE standardError = GetStdHandle(STD_ERROR_HANDLE);
    if (standardError == nullptr || standardError == INVALID_HANDLE_VALUE)
        return;
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(standardError, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

int runWithForm(HINSTANCE instance) {
    pellatrix::win32::enforceRedirectionTrust();
    pellatrix::win32::Win32Platform platform(instance);
    try {
        platform.ownerWindow(); // Form1 exists, hidden, before its load handler runs
    } catch (const std::exception&) {
        // Reported by the load handler, whose own request for the window fails the same way.
    }
    return pellatrix::runProgram(platform, reportToDebuggerAndStandardError);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return runWithForm(instance);
}
