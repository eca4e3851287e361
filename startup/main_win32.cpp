// The Windows program's entry point: reads its switches, makes the Win32 platform and Form1,
// runs the job.
#include "platform/platform_error.h"
#include "platform/win32/redirection_trust.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_error.h"
#include "platform/win32/win32_platform.h"
#include "startup/mdl2.h"
#include "startup/run_program.h"
#include "startup/version.h"

#include <windows.h>

#include <cwctype>
#include <memory>
#include <optional>
#include <shellapi.h>

namespace {

using namespace pellatrix;

constexpr char16_t kUsage[] =
    u"Pellatrix " PELLATRIX_VERSION_TEXT u"\n"
    u"\n"
    u"Pellatrix.exe [/S] [/LOG=FILE]\n"
    u"\n"
    u"Run it from the medium that holds the Model folder. It asks \"May I copy the Model "
    u"file?\", copies Model into C:\\Tolvex\\Model\\, makes the copies writable and closes "
    u"with \"Processing end\".\n"
    u"\n"
    u"/S\tInstall without asking and without showing anything. The exit status tells the "
    u"result: 0 copied, 2 a file could not be copied or Model is missing, 3 an error ended the "
    u"program.\n"
    u"\n"
    u"/LOG=FILE\tWrite the start, any error and the exit status into FILE, one line each "
    u"(FILE is emptied first).\n"
    u"\n"
    u"/?\tShow this help.";

// The switches of the command line: "/" or "-" and a letter, in either case. Everything else
// on the line is ignored, as the program always has, so that a medium's autorun entry or a
// shortcut that passes arguments keeps working.
struct Switches {
    bool usage = false;                  // /?
    bool silent = false;                 // /S
    std::optional<std::wstring> logFile; // /LOG=FILE
};

bool isSwitch(const wchar_t* argument, wchar_t letter) {
    return (argument[0] == L'/' || argument[0] == L'-') && argument[1] != L'\0' &&
           std::towupper(argument[1]) == letter && argument[2] == L'\0';
}

// The file of "/LOG=FILE" (or "-LOG=", in any case); null for any other argument.
const wchar_t* logSwitch(const wchar_t* argument) {
    if (argument[0] != L'/' && argument[0] != L'-')
        return nullptr;
    for (int i = 0; i < 4; ++i)
        if (std::towupper(argument[1 + i]) != L"LOG="[i])
            return nullptr;
    return argument + 5;
}

Switches readSwitches() {
    struct LocalMemory {
        void operator()(LPWSTR* memory) const { LocalFree(memory); }
    };
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalMemory> arguments(
        CommandLineToArgvW(GetCommandLineW(), &count));
    Switches found;
    for (int i = 1; arguments && i < count; ++i) { // the first is the program itself
        found.usage |= isSwitch(arguments.get()[i], L'?');
        found.silent |= isSwitch(arguments.get()[i], L'S');
        if (const wchar_t* file = logSwitch(arguments.get()[i]))
            found.logFile = file;
    }
    return found;
}

// Used when the error is not to be shown (/S) or even the error message box could not be.
void reportToDebuggerAndStandardError(const Text& report) {
    const std::wstring wide = win32::toWide(report) + L"\r\n";
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

int showUsage(HINSTANCE instance) {
    try {
        win32::Win32Platform platform(instance);
        platform.messageBox(kUsage, Mdl2::kTitle, MessageBoxStyle::Ok);
        return 0;
    } catch (const std::exception& error) {
        reportToDebuggerAndStandardError(describeError(error));
        return Mdl2::kExitError;
    }
}

int runWithForm(HINSTANCE instance, StartOptions options,
                const std::optional<std::wstring>& logFile) {
    std::optional<InstallLog> log;
    if (logFile)
        options.log = &log.emplace(*logFile);
    win32::Win32Platform platform(instance);
    try {
        // Form1 exists, hidden, before its load handler runs; an unattended copy needs none.
        if (options.ownedCopy)
            platform.ownerWindow();
    } catch (const std::exception&) {
        // Reported by the load handler, whose own request for the window fails the same way.
    }
    return runProgram(platform, options, reportToDebuggerAndStandardError);
}

// The walk takes one stack frame per folder level (816 bytes in the 64-bit build): 32 MiB holds
// the deepest tree that a Windows path can name (32,767 characters, some 16,000 levels), past
// which the walk reports the path as too long instead of running out of stack.
constexpr SIZE_T kJobStackReserve = 32u << 20;

struct Job {
    HINSTANCE instance;
    StartOptions options;
    std::optional<std::wstring> logFile;
    int status = Mdl2::kExitError;
};

DWORD WINAPI runJob(void* job) {
    auto& self = *static_cast<Job*>(job);
    self.status = runWithForm(self.instance, self.options, self.logFile);
    return 0;
}

// Runs the job on a thread of its own with that reserve: set for the image, it would be every
// thread's, the shell copy's and the system's among them, in a 32-bit address space.
int runOnDeepStack(HINSTANCE instance, const Switches& switches) {
    Job job{instance, switches.silent ? kUnattended : StartOptions{}, switches.logFile};
    const HANDLE thread = CreateThread(nullptr, kJobStackReserve, runJob, &job,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        reportToDebuggerAndStandardError(describeError(
            PlatformError(win32::win32ErrorCode(GetLastError()), "start the job", u"")));
        return Mdl2::kExitError;
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return job.status;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    win32::enforceRedirectionTrust();
    const Switches switches = readSwitches();
    if (switches.usage)
        return showUsage(instance);
    return runOnDeepStack(instance, switches);
}
