// The shell copy, the checks before it and the destination it writes into.
#include "shell_copy.h"

#include "wide_text.h"
#include "win32_error.h"

#include <shellapi.h>

namespace pellatrix::win32 {
namespace {

// The first name of a NUL-separated list.
Text firstName(const Text& list) {
    return list.substr(0, list.find(u'\0'));
}

// Whether the path parser takes `name` for a DOS device: CON, PRN, AUX, NUL, or COM or LPT and
// a digit (a superscript one, two or three too), in any case, whatever follows a dot, with
// trailing spaces dropped.
bool isDeviceName(std::u16string_view name) {
    std::u16string_view base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ')
        base.remove_suffix(1);
    if (base.size() != 3 && base.size() != 4)
        return false;
    Text upper(base);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    if (upper.size() == 3)
        return upper == u"CON" || upper == u"PRN" || upper == u"AUX" || upper == u"NUL";
    const char16_t digit = upper[3];
    return (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
           ((digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
            digit == u'\u00B3');
}

// Whether the shell can copy `name` by path as it stands.
bool copyableByPath(std::u16string_view name) {
    if (!isSafeName(name) || name.back() == u'.' || name.back() == u' ')
        return false;
    for (const char16_t c : name)
        if (c < u' ' || std::u16string_view(u"*?\"<>|").find(c) != std::u16string_view::npos)
            return false;
    return true;
}

// Checks every name that `listing` and the folders among its entries hold; returns whether it
// held anything but "." and "..".
bool checkNames(DirectoryListing listing) {
    FindData data;
    bool any = false;
    for (bool more = listing.first(data); more; more = listing.next(data)) {
        const ListedEntry& entry = listing.current();
        if (entry.name == u"." || entry.name == u"..")
            continue;
        any = true;
        if (isDeviceName(entry.name))
            throw PlatformError(make_error_code(PellatrixError::DeviceName), "copy",
                                listing.folder()->path() + u"\\" + entry.name);
        if (!copyableByPath(entry.name))
            throw PlatformError(make_error_code(PellatrixError::NameNotCopyable), "copy",
                                listing.folder()->path() + u"\\" + entry.name);
        // Links are not followed: they may lead anywhere, or back into the tree. The opened
        // folder is not compared with the listed entry: on a CD their IDs differ by design.
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (auto folder = openSubfolder(listing.folder(), entry.name, nullptr, "copy"))
                checkNames(DirectoryListing(std::move(folder), u"*"));
        }
    }
    return any;
}

// Checks the names the source pattern reaches; returns whether it matches anything.
bool checkSource(const Text& pattern) {
    const std::size_t separator = pattern.rfind(u'\\');
    const Text folder = separator == Text::npos ? Text(u".") : pattern.substr(0, separator);
    const Text mask = separator == Text::npos ? pattern : pattern.substr(separator + 1);
    auto opened = mask.empty() ? nullptr : openFolderAt(folder);
    return opened && checkNames(DirectoryListing(std::move(opened), mask));
}

} // namespace

int runShellFileOperation(FileOpStruct& op, HeldFolders& held) {
    const bool copiesOrMoves = op.wFunc == ShellOperation::Copy || op.wFunc == ShellOperation::Move;
    const Text destination = firstName(op.pTo);
    if (copiesOrMoves && !destination.empty()) {
        const bool anything = checkSource(firstName(op.pFrom));
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
