// Relative opens, folder queries and attributes through handles.
#include "nt_file.h"

#include "long_path.h"
#include "wide_text.h"
#include "win32_error.h"

// In the Windows Driver Kit's ntifs.h, which MinGW-w64's user-mode headers do not include.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PIO_APC_ROUTINE apc,
                                               PVOID apcContext, PIO_STATUS_BLOCK status,
                                               PVOID buffer, ULONG size,
                                               FILE_INFORMATION_CLASS informationClass,
                                               BOOLEAN returnSingleEntry, PUNICODE_STRING mask,
                                               BOOLEAN restartScan);

namespace pellatrix::win32 {
namespace {

// A counted string over `text`, which must outlive it. False when it is too long to count.
bool countedString(std::u16string_view text, UNICODE_STRING& counted) {
    constexpr std::size_t kMaxBytes = 0xFFFE;
    if (text.size() * sizeof(char16_t) > kMaxBytes)
        return false;
    counted.Buffer = reinterpret_cast<PWSTR>(const_cast<char16_t*>(text.data()));
    counted.Length = counted.MaximumLength = static_cast<USHORT>(text.size() * sizeof(char16_t));
    return true;
}

Text otherIdsBelow; // see reportOtherIdsBelowForTesting

} // namespace

NTSTATUS openRelative(HANDLE folder, std::u16string_view name, const OpenRequest& request,
                      FileHandle& opened) {
    UNICODE_STRING counted;
    if (!countedString(name, counted))
        return Status::ObjectNameInvalid;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE handle = nullptr;
    const NTSTATUS status =
        NtCreateFile(&handle, request.access | SYNCHRONIZE, &attributes, &io, nullptr,
                     FILE_ATTRIBUTE_NORMAL, request.share, request.disposition,
                     request.options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                         FILE_OPEN_FOR_BACKUP_INTENT,
                     nullptr, 0);
    if (status >= 0)
        opened = FileHandle(handle);
    return status;
}

NTSTATUS openFolderByPath(const Text& path, FileHandle& opened) {
    const HANDLE handle = CreateFileW(systemPath(path).c_str(), kFolderAccess, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
            return Status::ObjectNameNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            return Status::ObjectPathNotFound;
        default:
            throwLastError("open the folder", path);
        }
    }
    opened = FileHandle(handle);
    if (!(attributesOf(handle, path) & FILE_ATTRIBUTE_DIRECTORY)) {
        opened = FileHandle();
        return Status::NotADirectory;
    }
    return 0;
}

NTSTATUS queryDirectory(HANDLE folder, void* buffer, ULONG size, std::u16string_view mask,
                        bool first) {
    UNICODE_STRING counted;
    if (!countedString(mask, counted))
        return Status::ObjectNameInvalid;
    IO_STATUS_BLOCK io;
    return NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, &io, buffer, size,
                                FileIdBothDirectoryInformation, FALSE,
                                first && !mask.empty() ? &counted : nullptr, first);
}

std::uint64_t fileIdOf(HANDLE handle, const Text& path) {
    // Asked alone: GetFileInformationByHandle asks for the name too, which Wine cannot give
    // past Linux's path length limit.
    FILE_INTERNAL_INFORMATION information;
    IO_STATUS_BLOCK io;
    const NTSTATUS status = NtQueryInformationFile(handle, &io, &information, sizeof information,
                                                   FileInternalInformation);
    if (status < 0)
        throwStatus(status, "identify", path);
    const auto id = static_cast<std::uint64_t>(information.IndexNumber.QuadPart);
    if (!otherIdsBelow.empty() && path.starts_with(otherIdsBelow + u"\\"))
        return ~id;
    return id;
}

void reportOtherIdsBelowForTesting(Text folder) {
    otherIdsBelow = std::move(folder);
}

std::uint32_t attributesOf(HANDLE handle, const Text& path) {
    std::uint32_t attributes = 0;
    if (!queryAttributes(handle, attributes))
        throwLastError("read the attributes of", path);
    return attributes;
}

bool queryAttributes(HANDLE handle, std::uint32_t& attributes) {
    FILE_BASIC_INFO information;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &information, sizeof information))
        return false;
    attributes = information.FileAttributes;
    return true;
}

void setAttributesOf(HANDLE handle, std::uint32_t attributes, const Text& path) {
    FILE_BASIC_INFO information{}; // times of 0 stay as they are
    // 0 would mean "leave the attributes alone"; NORMAL counts only when no other bit is set.
    information.FileAttributes = attributes | FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &information, sizeof information))
        throwLastError("set the attributes of", path);
}

void throwStatus(NTSTATUS status, std::string operation, const Text& path) {
    throw PlatformError(win32ErrorCode(RtlNtStatusToDosError(status)), std::move(operation), path);
}

} // namespace pellatrix::win32
