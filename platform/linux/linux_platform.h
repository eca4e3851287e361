// The Linux implementation of the platform services.
//
// Paths reach what is held through HeldPaths (platform/held_paths.h): a path in the folder of
// an open listing is reached from that listing's descriptor; any other from its drive's root,
// held for the whole run and opened once. Listings are the levels of tree walks
// (sys/folder_stack.h): a listing of the entry that the innermost listing has just given out is
// opened from it, as the next level of the same walk, and one bound on open levels applies.
#pragma once

#include "platform/held_paths.h"
#include "platform/linux/files/directory_listing.h"
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/sys/folder_stack.h"
#include "platform/linux/ui/user_interface.h"

#include <list>
#include <unordered_map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

namespace pellatrix::linuxos {

class LinuxPlatform : public PlatformServices {
  public:
    LinuxPlatform(DriveMapping drives, std::unique_ptr<UserInterface> ui);
    ~LinuxPlatform() override;

    int messageBox(const Text& text, const Text& title, int style) override;
    Text currentDirectory() override;
    Text executableFolder() override;
    WindowHandle ownerWindow() override;
    int shellFileOperation(FileOpStruct& op) override;
    ListingHandle openListing(const Text& pattern, FindData& data) override;
    bool advanceListing(ListingHandle listing, FindData& data) override;
    void closeListing(ListingHandle listing) override;
    std::uint32_t readAttributes(const Text& path) override;
    void setAttributes(const Text& path, std::uint32_t attributes) override;
    void processMessages() override;
    void endProgram() override;

    const DriveMapping& drives() const { return drives_; }

  private:
    // A walk: listings, each opened on the entry that the one around it gave out last.
    struct Walk {
        Text top; // the path of its outermost folder
        FolderStack levels;
        std::vector<ListingHandle> handles; // the listing of each level, outermost first
    };
    struct OpenListing {
        std::unique_ptr<DirectoryListing> listing; // null for a listing of one named entry
        Walk* walk = nullptr;
        bool closed = false; // closed while listings below it were open: kept for them
    };
    // Where a Windows path leads: an open folder and a name in it.
    struct Place {
        UniqueFd held;    // the folder, when it had to be opened for this
        int folder = -1;  // the folder's descriptor: held, or an open listing's
        std::string name; // the native name in it; "." for the folder itself
    };

    // The folder that holds the last component of windowsPath, and that component. False
    // with errno set when it cannot be reached; ENODEV for a path on no drive.
    bool place(const Text& windowsPath, Place& where);
    // Opens the folder `at` leads to, for listing or O_PATH. An invalid UniqueFd with errno set.
    UniqueFd openFolder(const HeldPaths::Place& at, int flags);
    // The held root of the drive that `windowsPath` lies on, and the native path below it; -1
    // with errno set when it lies on no drive or the root cannot be opened.
    int rootOf(std::u16string_view windowsPath, std::string& relative, bool makeIfMissing);
    // The descriptor of a drive's root (u'C' or u'Z'), opened once and held for the run: with
    // makeIfMissing a missing C: root is made first. -1 with errno set when it cannot be opened.
    int root(char16_t drive, bool makeIfMissing);
    HeldPaths::Place placeOfFolder(std::u16string_view windowsFolder) const;
    DirectoryListing* listingOf(HeldPaths::Id id) const;
    // Opens a walk's next level on `folder` and the listing that reads it.
    DirectoryListing& addLevel(Walk& walk, ListingHandle handle, UniqueFd folder,
                               const DirectoryListing* parent, Text pattern, bool dots);
    EntryRunHelper* helper();
    // Notes that an entry of the open folder `folder` (opened for this one change, or a
    // listing's) was changed: its file system is synced when the walk ends.
    void noteChange(int folder, bool openedForThis);
    // Writes out the changes noted so far; a failure is kept for raiseFailedSync().
    void syncChanges(const Text& walked);
    // A walk ends as its listings close, which raise nothing (they close as a walk unwinds, an
    // error included): the next operation raises a sync that failed at its end.
    void raiseFailedSync();

    DriveMapping drives_;
    UniqueFd roots_[2]; // C:\ and Z:\, once opened
    std::unique_ptr<UserInterface> ui_;
    // Reads entries ahead for the listings (made with the first one, where there is more than
    // one processor); declared before them, so that it outlives them.
    std::unique_ptr<EntryRunHelper> helper_;
    bool helperTried_ = false;
    HeldPaths held_;
    std::list<Walk> walks_;
    std::unordered_map<ListingHandle, OpenListing> listings_;
    // The listing that has just given out an entry, until anything else happens: the
    // attributes it read for that entry answer readAttributes, which a walk calls next.
    ListingHandle justListed_ = 0;
    // The file systems with changes not yet synced, each with a folder open on it.
    std::vector<std::pair<dev_t, UniqueFd>> changed_;
    int notedFolder_ = -1; // the listing's folder whose change was noted last
    std::optional<PlatformError> failedSync_;
    ListingHandle nextListing_ = 1;
};

// The shell's result codes that the Linux copy gives.
inline constexpr int kShellCopyFailed = 1;
inline constexpr int kShellBadRequest = 2;

} // namespace pellatrix::linuxos
