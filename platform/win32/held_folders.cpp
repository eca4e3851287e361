// The held destination, the open listings, and paths reached from them.
#include "held_folders.h"

#include "long_path.h"
#include "win32_error.h"

namespace pellatrix::win32 {
namespace {

// The length of the root of an absolute path: 2 for "C:", that of "\\server\share" for a
// network path; 0 for a relative path.
std::size_t rootLength(std::u16string_view path) {
    if (path.size() >= 2 && path[1] == u':')
        return 2;
    if (path.starts_with(u"\\\\")) {
        const std::size_t server = path.find(u'\\', 2);
        if (server != std::u16string_view::npos)
            return std::min(path.find(u'\\', server + 1), path.size());
    }
    return 0;
}

// Splits at the first separator: the first name, and what follows it.
std::pair<std::u16string_view, std::u16string_view> firstName(std::u16string_view names) {
    const std::size_t separator = names.find(u'\\');
    if (separator == std::u16string_view::npos)
        return {names, {}};
    return {names.substr(0, separator), names.substr(separator + 1)};
}

[[noreturn]] void refuseLength(const char* operation, const Text& path) {
    throw PlatformError(win32ErrorCode(ERROR_FILENAME_EXCED_RANGE), operation, path);
}

} // namespace

HeldFolders::HeldFolders() : paths_(sameName) {}

void HeldFolders::holdDestination(const Text& folder, bool make) {
    Text path(HeldPaths::withoutTrailingSeparators(folder));
    if (rootLength(path) == 0)
        path = Text(HeldPaths::withoutTrailingSeparators(absolutePath(path)));
    const std::size_t root = rootLength(path);
    const auto heldAt = [this](std::u16string_view at) -> std::shared_ptr<const FolderNode> {
        const HeldPaths::Place place = paths_.place(at);
        return !place.isListing && place.from && place.below.empty()
                   ? held_[static_cast<std::size_t>(place.from - 1)]
                   : nullptr;
    };
    const auto hold = [this](std::shared_ptr<const FolderNode> folder, std::u16string_view at) {
        held_.push_back(std::move(folder));
        paths_.hold(static_cast<HeldPaths::Id>(held_.size()), at);
    };

    std::shared_ptr<const FolderNode> node = heldAt(std::u16string_view(path).substr(0, root));
    if (!node) {
        node = openFolderAt(path.substr(0, root));
        if (!node)
            throw PlatformError(win32ErrorCode(ERROR_PATH_NOT_FOUND), "copy into",
                                path.substr(0, root));
        hold(node, std::u16string_view(path).substr(0, root));
    }
    for (std::size_t end = root; end < path.size();) {
        const std::size_t start = end + 1;
        end = std::min(path.find(u'\\', start), path.size());
        const Text name = path.substr(start, end - start);
        const Text reached = path.substr(0, end);
        if (auto already = heldAt(reached)) {
            node = std::move(already);
            continue;
        }
        if (!isSafeName(name) || name.find_first_of(u"*?<>\"") != Text::npos)
            throw PlatformError(win32ErrorCode(ERROR_INVALID_NAME), "copy into", reached);

        // Shared for reading and writing only: no one may rename or remove it while we hold it.
        FileHandle handle;
        const NTSTATUS status =
            openRelative(node->handle(), name,
                         {kFolderAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          make ? ULONG{FILE_OPEN_IF} : ULONG{FILE_OPEN}, FILE_DIRECTORY_FILE},
                         handle);
        if (!make && (status == Status::ObjectNameNotFound || status == Status::ObjectPathNotFound))
            return; // nothing to copy: hold what is there
        if (status == Status::NotADirectory || status == Status::NoSuchFile ||
            status == Status::ObjectNameNotFound)
            throw PlatformError(make_error_code(PellatrixError::NotAFolder), "copy into", reached);
        if (status < 0)
            throwStatus(status, "copy into", reached);
        requireRealFolder(handle.get(), "copy into", reached);
        requireListedAsFolder(node, name, handle.get(), "copy into");
        node = std::make_shared<const FolderNode>(node, name, std::move(handle));
        hold(node, reached);
    }
}

const ListedEntry* HeldFolders::listedFirst(const HeldPaths::Place& at) const {
    return at.listedLast ? &listings_.at(at.from).current() : nullptr;
}

std::shared_ptr<const FolderNode>
HeldFolders::folderAt(const HeldPaths::Place& at, const char* operation, bool ownHandle) const {
    if (!at.from)
        return openFolderAt(Text(at.below));
    std::shared_ptr<const FolderNode> node = at.isListing
                                                 ? listings_.at(at.from).folder()
                                                 : held_[static_cast<std::size_t>(at.from - 1)];
    if (at.below.empty())
        return ownHandle ? node->reopened() : node;
    auto [name, rest] = firstName(at.below);
    const ListedEntry* listed = listedFirst(at);
    for (;;) {
        node = openSubfolder(node, Text(name), listed, operation);
        if (!node || rest.empty())
            return node;
        std::tie(name, rest) = firstName(rest);
        listed = nullptr;
    }
}

ListingHandle HeldFolders::openListing(const Text& pattern, FindData& data) {
    if (pattern.size() > kMaxPathLength)
        refuseLength("list", pattern);
    const std::size_t separator = pattern.rfind(u'\\');
    const std::u16string_view folder = separator == Text::npos
                                           ? u"."
                                           : HeldPaths::withoutTrailingSeparators(
                                                 std::u16string_view(pattern).substr(0, separator));
    const std::u16string_view mask = separator == Text::npos
                                         ? std::u16string_view(pattern)
                                         : std::u16string_view(pattern).substr(separator + 1);
    if (mask.empty())
        return kInvalidListing;
    const HeldPaths::Place at = paths_.place(folder);
    auto node = folderAt(at, "list", true);
    if (!node)
        return kInvalidListing;
    DirectoryListing listing(std::move(node), mask);
    if (!listing.first(data))
        return kInvalidListing;
    const ListingHandle handle = nextListing_++;
    paths_.opened(handle, folder, at);
    paths_.gave(handle, listing.current().name);
    listings_.emplace(handle, std::move(listing));
    return handle;
}

bool HeldFolders::advanceListing(ListingHandle listing, FindData& data) {
    const auto it = listings_.find(listing);
    if (it == listings_.end() || !it->second.next(data))
        return false;
    paths_.gave(listing, it->second.current().name);
    return true;
}

void HeldFolders::closeListing(ListingHandle listing) {
    paths_.closed(listing);
    listings_.erase(listing);
}

FileHandle HeldFolders::openEntry(const Text& path, ACCESS_MASK access, const char* operation) {
    if (path.size() > kMaxPathLength)
        refuseLength(operation, path);
    const std::u16string_view whole = HeldPaths::withoutTrailingSeparators(path);
    const std::size_t separator = whole.rfind(u'\\');
    if (separator == std::u16string_view::npos || whole.size() == rootLength(whole)) {
        // A drive root, or a name in the current folder: nothing held lies on its way.
        const Text target = whole.size() == rootLength(whole) ? Text(whole) + u"\\" : Text(whole);
        const HANDLE opened =
            CreateFileW(systemPath(target).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (opened == INVALID_HANDLE_VALUE)
            throwLastError(operation, path);
        return FileHandle(opened);
    }
    const std::u16string_view folder = whole.substr(0, separator);
    const Text name(whole.substr(separator + 1));
    const HeldPaths::Place at = paths_.place(folder);
    const ListedEntry* listed =
        paths_.isListedLast(at, name) ? &listings_.at(at.from).current() : nullptr;
    const auto node = folderAt(at, operation, false);
    if (!node)
        throw PlatformError(win32ErrorCode(ERROR_PATH_NOT_FOUND), operation, path);
    if (!isSafeName(name))
        throw PlatformError(make_error_code(PellatrixError::NameLeavesFolder), operation, path);
    FileHandle handle;
    const NTSTATUS status =
        openRelative(node->handle(), name, {access, kShareAll, FILE_OPEN, 0}, handle);
    if (status < 0)
        throwStatus(status, operation, path);
    if (listed)
        requireListedObject(handle.get(), *listed, operation, path);
    return handle;
}

} // namespace pellatrix::win32
