// Folders held open, subfolders reached from them, listings through their handles.
#include "directory_listing.h"

#include "platform/text_encoding.h"
#include "wide_text.h"
#include "win32_error.h"

#include <algorithm>

namespace pellatrix::win32 {
namespace {

// Enough for a few entries of the longest name; small, since every level of a walk keeps one.
constexpr ULONG kListingBufferSize = 4096;

} // namespace

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a == b)
        return true; // the usual case, and quick: the walk asks with the names it was given
    return a.size() == b.size() &&
           CompareStringOrdinal(reinterpret_cast<LPCWCH>(a.data()), static_cast<int>(a.size()),
                                reinterpret_cast<LPCWCH>(b.data()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

namespace {

bool meansGone(NTSTATUS status) {
    return status == Status::ObjectNameNotFound || status == Status::ObjectPathNotFound ||
           status == Status::NoSuchFile;
}

} // namespace

FolderNode::FolderNode(std::shared_ptr<const FolderNode> parent, Text name, FileHandle handle)
    : parent_(std::move(parent)), name_(std::move(name)),
      length_(parent_ ? parent_->length_ + 1 + name_.size() : name_.size()),
      handle_(std::move(handle)) {}

Text FolderNode::path() const {
    Text path(length_, u'\\'); // the separators are in place already
    std::size_t end = length_;
    for (const FolderNode* node = this; node; node = node->parent_.get()) {
        end -= node->name_.size();
        std::copy(node->name_.begin(), node->name_.end(), path.begin() + end);
        if (node->parent_)
            --end;
    }
    return path;
}

std::shared_ptr<const FolderNode> openFolderAt(const Text& path) {
    FileHandle handle;
    // "C:" alone would be the current folder of drive C; the root is "C:\".
    const bool driveRoot = path.size() == 2 && path[1] == u':';
    if (openFolderByPath(driveRoot ? path + u"\\" : path, handle) < 0)
        return nullptr;
    return std::make_shared<const FolderNode>(nullptr, path, std::move(handle));
}

std::shared_ptr<const FolderNode> FolderNode::reopened() const {
    FileHandle handle;
    const NTSTATUS status = openRelative(handle_.get(), u"", kOpenFolder, handle);
    if (status < 0)
        throwStatus(status, "list", path());
    return std::make_shared<const FolderNode>(parent_, name_, std::move(handle));
}

bool isSafeName(std::u16string_view name) {
    return !name.empty() && name != u"." && name != u".." && name.size() < kMaxFileName &&
           name.find_first_of(std::u16string_view(u"\\/:\0", 4)) == std::u16string_view::npos;
}

void requireListedObject(HANDLE opened, const ListedEntry& listed, const char* operation,
                         const Text& path) {
    if (fileIdOf(opened, path) != listed.id)
        throw PlatformError(make_error_code(PellatrixError::ReplacedSinceListed), operation, path);
}

namespace {

// requireRealFolder, with the path (a function that builds it) only for the report.
template <typename PathOf>
void requireRealFolderAt(HANDLE opened, const char* operation, const PathOf& path) {
    std::uint32_t attributes = 0;
    if (!queryAttributes(opened, attributes))
        throwLastError("read the attributes of", path());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), operation, path());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw PlatformError(make_error_code(PellatrixError::NotAFolder), operation, path());
}

} // namespace

void requireRealFolder(HANDLE opened, const char* operation, const Text& path) {
    requireRealFolderAt(opened, operation, [&] { return path; });
}

void requireListedAsFolder(const std::shared_ptr<const FolderNode>& parent, const Text& name,
                           HANDLE opened, const char* operation) {
    const Text path = parent->path() + u"\\" + name;
    // A literal mask lists that name (and, on NTFS, any entry whose short name it is).
    DirectoryListing listing(parent->reopened(), name);
    FindData data;
    for (bool more = listing.first(data); more; more = listing.next(data)) {
        const ListedEntry& entry = listing.current();
        if (!sameName(entry.name, name))
            continue;
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), operation,
                                path);
        requireListedObject(opened, entry, operation, path);
        return;
    }
    // Wine leaves out of listings a link that leads nowhere.
    throw PlatformError(make_error_code(PellatrixError::NotAFolder), operation, path);
}

std::shared_ptr<const FolderNode> openSubfolder(const std::shared_ptr<const FolderNode>& parent,
                                                const Text& name, const ListedEntry* listed,
                                                const char* operation) {
    // Built only for a report or an ID check: a walk through deep folders would otherwise
    // take time in the square of their depth.
    const auto path = [&] { return parent->path() + u"\\" + name; };
    if (!isSafeName(name))
        throw PlatformError(make_error_code(PellatrixError::NameLeavesFolder), operation, path());
    if (listed && (listed->attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw PlatformError(make_error_code(PellatrixError::DestinationIsLink), operation, path());
    FileHandle handle;
    const NTSTATUS status = openRelative(parent->handle(), name, kOpenFolder, handle);
    if (status == Status::NotADirectory && listed)
        throw PlatformError(make_error_code(PellatrixError::ReplacedSinceListed), operation,
                            path());
    if (meansGone(status) || status == Status::NotADirectory)
        return nullptr;
    if (status < 0)
        throwStatus(status, operation, path());
    requireRealFolderAt(handle.get(), operation, path);
    // Wine opens through links whatever it is asked: the file ID shows a swap.
    if (listed)
        requireListedObject(handle.get(), *listed, operation, path());
    return std::make_shared<const FolderNode>(parent, name, std::move(handle));
}

DirectoryListing::DirectoryListing(std::shared_ptr<const FolderNode> folder,
                                   std::u16string_view mask)
    : folder_(std::move(folder)), mask_(mask == u"*.*" ? u"*" : mask),
      buffer_(std::make_unique<std::byte[]>(kListingBufferSize)) {}

NTSTATUS DirectoryListing::read(bool first) {
    offset_ = 0;
    const NTSTATUS status =
        queryDirectory(folder_->handle(), buffer_.get(), kListingBufferSize, mask_, first);
    return status;
}

bool DirectoryListing::first(FindData& data) {
    const NTSTATUS status = read(true);
    if (status == Status::NoSuchFile || status == Status::NoMoreFiles)
        return false;
    if (status < 0)
        throwStatus(status, "list", folder_->path());
    take(data);
    return true;
}

bool DirectoryListing::next(FindData& data) {
    if (!bufferHasMore_) {
        const NTSTATUS status = read(false);
        if (status == Status::NoMoreFiles)
            return false;
        if (status < 0)
            throwStatus(status, "go on listing", folder_->path());
    }
    take(data);
    return true;
}

void DirectoryListing::take(FindData& data) {
    const auto* record =
        reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(buffer_.get() + offset_);
    current_.name.assign(reinterpret_cast<const char16_t*>(record->FileName),
                         record->FileNameLength / sizeof(char16_t));
    current_.id = static_cast<std::uint64_t>(record->FileId.QuadPart);
    current_.attributes = record->FileAttributes;
    bufferHasMore_ = record->NextEntryOffset != 0;
    offset_ += record->NextEntryOffset;

    const bool dots = current_.name == u"." || current_.name == u"..";
    if (!dots && !isSafeName(current_.name)) {
        throw PlatformError(make_error_code(PellatrixError::NameLeavesFolder),
                            "use the name \"" + toUtf8(current_.name) + "\" listed in",
                            folder_->path());
    }
    data.dwFileAttributes = current_.attributes;
    data.cFileName.fill(u'\0');
    std::copy(current_.name.begin(), current_.name.end(), data.cFileName.begin());
}

} // namespace pellatrix::win32
