// The shell copy and the destination folder it needs.
#include "shell_copy.h"

#include "find_handle.h"
#include "long_path.h"
#include "wide_text.h"
#include "win32_error.h"

#include <shellapi.h>

namespace pellatrix::win32 {
namespace {

// The first name of a NUL-separated list.
Text firstName(const Text& list) {
    return list.substr(0, list.find(u'\0'));
}

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Where the folders that can be made begin: after "C:\" or after "\\server\share\".
std::size_t firstMakeableSeparator(const Text& folder) {
    if (folder.size() >= 2 && folder[0] == u'\\' && folder[1] == u'\\') {
        const std::size_t server = folder.find(u'\\', 2);
        return server == Text::npos ? Text::npos : folder.find(u'\\', server + 1);
    }
    return folder.find(u'\\');
}

void makeOneFolder(const Text& folder) {
    if (CreateDirectoryW(systemPath(folder).c_str(), nullptr))
        return;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return; // a file in the way is left for the shell to report
    throwLastError("make the folder", folder);
}

} // namespace

bool matchesAnything(const Text& pattern) {
    WIN32_FIND_DATAW entry;
    FindHandle listing(FindFirstFileW(systemPath(pattern).c_str(), &entry));
    if (!listing)
        return false;
    do {
        if (!isDotOrDotDot(entry.cFileName))
            return true;
    } while (FindNextFileW(listing.get(), &entry));
    return false;
}

void makeFolders(const Text& folder) {
    Text path = folder;
    while (!path.empty() && path.back() == u'\\')
        path.pop_back();
    if (path.empty())
        return;
    std::size_t separator = firstMakeableSeparator(path);
    while (separator != Text::npos) {
        separator = path.find(u'\\', separator + 1);
        makeOneFolder(path.substr(0, separator));
    }
}

int runShellFileOperation(FileOpStruct& op) {
    const bool copiesOrMoves = op.wFunc == ShellOperation::Copy || op.wFunc == ShellOperation::Move;
    if (copiesOrMoves && matchesAnything(firstName(op.pFrom)))
        makeFolders(firstName(op.pTo));

    // The lists keep their own NULs; c_str() adds one more, harmlessly.
    const std::wstring from = toWide(op.pFrom);
    const std::wstring to = toWide(op.pTo);
    SHFILEOPSTRUCTW record{};
    record.hwnd = reinterpret_cast<HWND>(op.hwnd);
    record.wFunc = op.wFunc;
    record.pFrom = from.c_str();
    record.pTo = to.c_str();
    record.fFlags = op.fFlags;
    record.fAnyOperationsAborted = FALSE;
    record.hNameMappings = nullptr;
    record.lpszProgressTitle = nullptr;
    const int result = SHFileOperationW(&record);
    op.fAnyOperationsAborted = record.fAnyOperationsAborted != FALSE;
    return result;
}

} // namespace pellatrix::win32
