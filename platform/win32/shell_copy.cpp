// The shell copy, the checks before it and the destination it writes into.
#include "shell_copy.h"

#include "medium_check.h"
#include "wide_text.h"
#include "win32_error.h"

#include <shellapi.h>

namespace pellatrix::win32 {
namespace {

// The first name of a NUL-separated list.
Text firstName(const Text& list) {
    return list.substr(0, list.find(u'\0'));
}

} // namespace

int runShellFileOperation(FileOpStruct& op, HeldFolders& held) {
    const bool copiesOrMoves = op.wFunc == ShellOperation::Copy || op.wFunc == ShellOperation::Move;
    const Text destination = firstName(op.pTo);
    if (copiesOrMoves && !destination.empty()) {
        const bool anything = checkMediumNames(firstName(op.pFrom));
        held.holdDestination(destination, anything);
    }

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
