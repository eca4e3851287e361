// Folders held open and listed through their handles.
//
// A folder is reached either by its path (the root of what is reached from it) or by one name
// from a folder already held, never by joining a listed name into a path: a name is opened as
// it was listed, relative to its folder's handle, and what opens must be the object the
// listing showed (same file ID, not a reparse point). A folder held open keeps its own path
// only as its name and a link to its parent, so deep trees cost memory in proportion to depth.
#pragma once

#include "nt_file.h"

#include <memory>

namespace pellatrix::win32 {

// The longest path Windows takes (a "\\?\" path's limit): a deeper tree is refused, never
// walked until the stack runs out.
inline constexpr std::size_t kMaxPathLength = 32767;

// One folder held open.
class FolderNode {
  public:
    FolderNode(std::shared_ptr<const FolderNode> parent, Text name, FileHandle handle);

    HANDLE handle() const { return handle_.get(); }
    // The folder's whole path, rebuilt from the names ("C:" stands for "C:\").
    Text path() const;
    std::size_t pathLength() const { return length_; }
    // The same folder through a handle of its own (a listing needs one).
    std::shared_ptr<const FolderNode> reopened() const;

  private:
    std::shared_ptr<const FolderNode> parent_; // null for a folder opened by its path
    Text name_;                                // one name; a root's whole path
    std::size_t length_;                       // of the whole path
    FileHandle handle_;
};

// Whether two names are the same name, ignoring case as Windows does.
bool sameName(std::u16string_view a, std::u16string_view b);

// What a listing said of one entry.
struct ListedEntry {
    Text name;
    std::uint64_t id = 0;
    std::uint32_t attributes = 0;
};

// The folder at `path`, opened by its path (following links: it is the root the caller named).
// Null when nothing, or a file, stands there; raises PlatformError otherwise.
std::shared_ptr<const FolderNode> openFolderAt(const Text& path);

// The subfolder `name` of `parent`, opened relative to it, never through a reparse point.
// `listed` is what a listing of `parent` showed for `name`, or null. Null when it is gone (or,
// when nothing was listed, a file); raises PlatformError when it is a reparse point, when it is
// not what was listed, or when it cannot be opened.
std::shared_ptr<const FolderNode> openSubfolder(const std::shared_ptr<const FolderNode>& parent,
                                                const Text& name, const ListedEntry* listed,
                                                const char* operation);

// Raises PlatformError when `opened`, reached at `path`, is not the object the listing showed.
void requireListedObject(HANDLE opened, const ListedEntry& listed, const char* operation,
                         const Text& path);

// Raises PlatformError when `opened` is not a folder, or is a reparse point (Windows opens a
// junction or a link itself, with FILE_OPEN_REPARSE_POINT, not what it points at).
void requireRealFolder(HANDLE opened, const char* operation, const Text& path);

// Raises PlatformError unless a listing of `parent` shows `name` as the folder `opened`, and
// not as a reparse point: Wine opens through a link whatever it is asked, and shows it for what
// it is only in a listing.
void requireListedAsFolder(const std::shared_ptr<const FolderNode>& parent, const Text& name,
                           HANDLE opened, const char* operation);

// Whether `name` may be opened relative to its folder: not empty, not "." or "..", without
// "\", "/" or ":" (a stream), without NUL, and short enough for a listed name.
bool isSafeName(std::u16string_view name);

// One listing of a folder through its own handle: the entries whose names match the mask
// (DOS wildcards; "*.*" matches every name, as FindFirstFileW has it).
class DirectoryListing {
  public:
    DirectoryListing(std::shared_ptr<const FolderNode> folder, std::u16string_view mask);

    // Fills data with the first entry; false when nothing matches.
    bool first(FindData& data);
    // Fills data with the next entry; false when none is left.
    bool next(FindData& data);

    const ListedEntry& current() const { return current_; }
    const std::shared_ptr<const FolderNode>& folder() const { return folder_; }

  private:
    NTSTATUS read(bool first);
    void take(FindData& data);

    std::shared_ptr<const FolderNode> folder_;
    Text mask_;
    std::unique_ptr<std::byte[]> buffer_;
    ULONG offset_ = 0;
    bool bufferHasMore_ = false;
    ListedEntry current_;
};

} // namespace pellatrix::win32
