// The shell copy request.
#include "mdl1.h"

#include "mdl2.h"

namespace pellatrix {
namespace {

// A list of one name, as the shell takes it: the name, its NUL and the list's NUL.
Text singleNameList(const Text& name) {
    return name + Text(2, u'\0');
}

} // namespace

FileOperationResult RunFileOperation(PlatformServices& platform, WindowHandle hwnd,
                                     const Text& str_Source, const Text& str_Destination,
                                     std::int16_t mode, std::uint16_t extraFlags) {
    if (str_Source.empty() || str_Destination.empty())
        return {};
    FileOpStruct op;
    op.hwnd = hwnd;
    op.wFunc = mode == Mdl2::kModeMove ? ShellOperation::Move : ShellOperation::Copy;
    op.pFrom = singleNameList(str_Source);
    op.pTo = singleNameList(str_Destination);
    op.fFlags = ShellFlag::NoConfirmation | extraFlags;
    op.fAnyOperationsAborted = false;
    const int code = platform.shellFileOperation(op);
    return {code, op.fAnyOperationsAborted};
}

} // namespace pellatrix
