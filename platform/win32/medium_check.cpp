// The medium's names, checked folder by folder from an explicit stack of pending folders.
#include "medium_check.h"

#include "directory_listing.h"
#include "win32_error.h"

#include <vector>

namespace pellatrix::win32 {
namespace {

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

// A folder still to be checked: a name listed in a folder held open.
struct PendingFolder {
    std::shared_ptr<const FolderNode> parent;
    Text name;
};

// Checks the names `listing` holds and adds its subfolders to `pending`; returns whether it
// held anything but "." and "..".
bool checkFolder(DirectoryListing listing, std::vector<PendingFolder>& pending) {
    const std::shared_ptr<const FolderNode>& folder = listing.folder();
    FindData data;
    bool any = false;
    for (bool more = listing.first(data); more; more = listing.next(data)) {
        const ListedEntry& entry = listing.current();
        if (entry.name == u"." || entry.name == u"..")
            continue;
        any = true;
        // The whole path only for a report: rebuilt for every entry, it would cost time in
        // the square of the depth.
        const auto path = [&] { return folder->path() + u"\\" + entry.name; };
        if (isDeviceName(entry.name))
            throw PlatformError(make_error_code(PellatrixError::DeviceName), "copy", path());
        if (!copyableByPath(entry.name))
            throw PlatformError(make_error_code(PellatrixError::NameNotCopyable), "copy", path());
        if (folder->pathLength() + 1 + entry.name.size() > kMaxPathLength)
            throw PlatformError(win32ErrorCode(ERROR_FILENAME_EXCED_RANGE), "copy", path());
        // Links are not followed: they may lead anywhere, or back into the tree.
        if ((entry.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            pending.push_back({folder, entry.name});
    }
    return any;
}

} // namespace

bool checkMediumNames(const Text& pattern) {
    const std::size_t separator = pattern.rfind(u'\\');
    const Text folder = separator == Text::npos ? Text(u".") : pattern.substr(0, separator);
    const Text mask = separator == Text::npos ? pattern : pattern.substr(separator + 1);
    auto opened = mask.empty() ? nullptr : openFolderAt(folder);
    if (!opened)
        return false;
    std::vector<PendingFolder> pending;
    const bool any = checkFolder(DirectoryListing(std::move(opened), mask), pending);
    while (!pending.empty()) {
        const PendingFolder next = std::move(pending.back());
        pending.pop_back();
        // Not compared with the listed entry: on a CD an opened folder has another file ID
        // than its listing gave it, by design, and the medium is not where a swap is feared.
        if (auto subfolder = openSubfolder(next.parent, next.name, nullptr, "copy"))
            checkFolder(DirectoryListing(std::move(subfolder), u"*"), pending);
    }
    return any;
}

} // namespace pellatrix::win32
