// The native file calls through which the platform reaches a name relative to a folder it holds
// open, never through a path that something could redirect: NtCreateFile with RootDirectory,
// NtQueryDirectoryFile, and the handle-based attribute calls. Declares what MinGW-w64's headers
// lack; the functions come from ntdll, which every Windows process has loaded.
#pragma once

#include "platform/platform_services.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace pellatrix::win32 {

// The NTSTATUS values the platform tells apart (the SDK's ntstatus.h clashes with windows.h).
namespace Status {
inline constexpr NTSTATUS NoMoreFiles = static_cast<NTSTATUS>(0x80000006);
inline constexpr NTSTATUS NoSuchFile = static_cast<NTSTATUS>(0xC000000F);
inline constexpr NTSTATUS ObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
inline constexpr NTSTATUS ObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
inline constexpr NTSTATUS ObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
inline constexpr NTSTATUS NotADirectory = static_cast<NTSTATUS>(0xC0000103);
} // namespace Status

// An owned handle from NtCreateFile or CreateFileW, closed with CloseHandle.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (*this)
            CloseHandle(handle_);
    }
    FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }

    explicit operator bool() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_ = nullptr;
};

// How one handle is opened: NtCreateFile's access, share, disposition and options. Every open
// is synchronous and never follows a reparse point (FILE_OPEN_REPARSE_POINT).
struct OpenRequest {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;
    ULONG options;
};

// Access for a folder that is listed and that names are opened relative to.
inline constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
inline constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder that is listed or passed through on the way to a name.
inline constexpr OpenRequest kOpenFolder{kFolderAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE};

// Opens `name` (one component, exactly as given: a trailing dot or space stays) relative to
// the folder handle `folder`; an empty name opens the folder itself again. Returns the status.
NTSTATUS openRelative(HANDLE folder, std::u16string_view name, const OpenRequest& request,
                      FileHandle& opened);

// Opens a folder by its path, following links: the root from which a walk of a folder that the
// platform does not hold starts. A file there counts as not found.
NTSTATUS openFolderByPath(const Text& path, FileHandle& opened);

// Fills `buffer` with FILE_ID_BOTH_DIR_INFORMATION records of the folder's next entries. The
// mask (DOS wildcards) counts only on the first call for a handle.
NTSTATUS queryDirectory(HANDLE folder, void* buffer, ULONG size, std::u16string_view mask,
                        bool first);

// The object's file ID and attributes; `path` names it in the error raised on failure.
std::uint64_t fileIdOf(HANDLE handle, const Text& path);
// For tests: every object opened below `folder` reports another file ID than a listing of its
// folder gives it, as on the CD file system, where a listed entry's ID comes from its parent's
// place and an opened folder's from its own. An empty folder ends it.
void reportOtherIdsBelowForTesting(Text folder);
std::uint32_t attributesOf(HANDLE handle, const Text& path);
// The same without raising: false when they cannot be read (GetLastError says why).
bool queryAttributes(HANDLE handle, std::uint32_t& attributes);
// Replaces the attributes, leaving the times alone.
void setAttributesOf(HANDLE handle, std::uint32_t attributes, const Text& path);

// Raises PlatformError with the Win32 error code that `status` maps to.
[[noreturn]] void throwStatus(NTSTATUS status, std::string operation, const Text& path);

} // namespace pellatrix::win32
