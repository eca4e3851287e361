// The read-only removal walk.
//
// Each level keeps its own listing open while it walks its subfolders, so every entry is
// handled exactly once however the folder changes meanwhile, and the cost is linear in the
// number of entries. Links and junctions (reparse points) are never entered nor changed: they
// may lead outside the tree, or back into it.
#include "lost_read_only_dir.h"

namespace pellatrix {
namespace {

// Owns an open listing and closes it on every way out, errors included.
class ListingGuard {
  public:
    ListingGuard(PlatformServices& platform, ListingHandle handle)
        : platform_(platform), handle_(handle) {}
    ~ListingGuard() {
        if (handle_ != kInvalidListing)
            platform_.closeListing(handle_);
    }
    ListingGuard(const ListingGuard&) = delete;
    ListingGuard& operator=(const ListingGuard&) = delete;
    ListingHandle get() const { return handle_; }

  private:
    PlatformServices& platform_;
    ListingHandle handle_;
};

// Cuts a path back to a length on every way out, errors included.
class PathCut {
  public:
    PathCut(Text& path, std::size_t length) : path_(path), length_(length) {}
    ~PathCut() { path_.resize(length_); }
    PathCut(const PathCut&) = delete;
    PathCut& operator=(const PathCut&) = delete;

  private:
    Text& path_;
    std::size_t length_;
};

bool isDotOrDotDot(const Text& name) {
    return name == u"." || name == u"..";
}

} // namespace

void LostReadOnlyDir::Change(Text str_Path) {
    if (str_Path.empty())
        str_Path = platform_.executableFolder();
    sub_M_Get_File(str_Path);
}

void LostReadOnlyDir::sub_M_Get_File(Text& str_Path) {
    platform_.processMessages();
    // One path for the whole walk: each level appends to it and cuts it back to its folder,
    // and nothing copies it, so a deep tree costs one path's length, not one path per level.
    if (str_Path.empty() || str_Path.back() != u'\\')
        str_Path = AddSeparator(str_Path);
    const std::size_t folderLength = str_Path.size();
    FindData entry;
    str_Path += u"*.*";
    ListingGuard listing(platform_, platform_.openListing(str_Path, entry));
    str_Path.resize(folderLength);
    if (listing.get() == kInvalidListing)
        return; // a missing folder, or nothing in it
    do {
        const Text name = Chop(Text(entry.cFileName.data(), entry.cFileName.size()));
        const std::uint32_t attributes = entry.dwFileAttributes;
        if (isDotOrDotDot(name) || (attributes & FileAttribute::ReparsePoint))
            continue;
        if (attributes & FileAttribute::Directory) {
            str_Path += name;
            str_Path += u'\\';
            sub_M_Get_File(str_Path);
            str_Path.resize(folderLength);
        } else {
            LoseReadOnly(name, str_Path);
        }
    } while (platform_.advanceListing(listing.get(), entry));
}

Text LostReadOnlyDir::Chop(const Text& str_A) {
    const auto nul = str_A.find(u'\0');
    return nul == Text::npos ? str_A : str_A.substr(0, nul);
}

Text LostReadOnlyDir::AddSeparator(const Text& str_Path) {
    if (!str_Path.empty() && str_Path.back() == u'\\')
        return str_Path;
    return str_Path + u"\\";
}

void LostReadOnlyDir::LoseReadOnly(const Text& str_Name, Text& str_Folder) {
    // The full path is the folder's path with the name appended for the moment.
    const std::size_t folderLength = str_Folder.size();
    str_Folder += str_Name;
    const PathCut restore(str_Folder, folderLength);
    const std::uint32_t attributes = platform_.readAttributes(str_Folder);
    if (attributes & FileAttribute::ReparsePoint)
        return; // replaced by a link since it was listed: leave it alone
    if (attributes & FileAttribute::ReadOnly)
        platform_.setAttributes(str_Folder, attributes & ~FileAttribute::ReadOnly);
}

} // namespace pellatrix
