// The Linux implementation of the platform services.
#pragma once

#include "platform/linux/files/directory_listing.h"
#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/ui/user_interface.h"

#include <map>
#include <memory>
#include <string_view>
#include <vector>

namespace pellatrix::linuxos {

class LinuxPlatform : public PlatformServices {
  public:
    LinuxPlatform(DriveMapping drives, std::unique_ptr<UserInterface> ui);

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

    // The descriptor of a drive's root (u'C' or u'Z'), opened once and held for the run:
    // everything below it is reached from it, never by a path resolved anew. With
    // makeIfMissing a missing C: root is made first. Raises PlatformError when it cannot be
    // opened.
    int heldRoot(char16_t drive, bool makeIfMissing = false);

  private:
    // Where a Windows path leads: an open folder and a name in it.
    struct Place {
        UniqueFd held;    // the folder, when it had to be opened for this
        int folder = -1;  // the folder's descriptor: held, or an open listing's
        std::string name; // the native name in it; "." for the folder itself
    };
    // The folder that holds the last component of windowsPath, and that component. The
    // innermost open listing answers for a path in its folder; any other path is resolved
    // below its drive's held root. False with errno set when it cannot be reached; ENODEV for
    // a path on no drive.
    bool place(const Text& windowsPath, Place& where);
    // True when windowsFolder (ending in "\") is the folder of the innermost open listing.
    bool isInnermostFolder(std::u16string_view windowsFolder);
    // Opens windowsFolder (ending in "") for listing: below the innermost open listing when
    // it is the entry that listing gave out last (parent set to it), else from the drive's
    // held root. An invalid UniqueFd with errno set on failure.
    UniqueFd openFolder(std::u16string_view windowsFolder, DirectoryListing*& parent);
    // The held root of windowsPath's drive, with the native path below it in relative; -1 with
    // errno set when there is no such drive or its root cannot be opened.
    int rootOf(const Text& windowsPath, std::string& relative);
    // heldRoot, with -1 and errno set instead of an exception.
    int heldRootOrErrno(char16_t drive, bool makeIfMissing);
    // Keeps the descriptors of a deep walk bounded: puts aside the listing kOpenListings
    // levels above a new one.
    void boundOpenListings(DirectoryListing& newest);
    static constexpr std::size_t kOpenListings = 16;
    DirectoryListing* innermost() const { return open_.empty() ? nullptr : open_.back(); }

    DriveMapping drives_;
    UniqueFd cRoot_;
    UniqueFd zRoot_;
    std::unique_ptr<UserInterface> ui_;
    // Reads entries ahead for the listings (made with the first one, where there is more than
    // one processor); declared before them, so that it outlives them.
    std::unique_ptr<EntryRunHelper> helper_;
    bool helperTried_ = false;
    // nullptr for a listing of one named entry, which has given it out already.
    std::map<ListingHandle, std::unique_ptr<DirectoryListing>> listings_;
    std::vector<DirectoryListing*> open_; // the listings, in the order they were opened
    // The listing that has just given out an entry, until anything else happens: the
    // attributes it read for that entry answer readAttributes, which a walk calls next.
    DirectoryListing* justListed_ = nullptr;
    // The Windows path of the innermost listing's folder, once a path has been found to lie
    // in it: one path, whatever the depth.
    const DirectoryListing* pathKnownFor_ = nullptr;
    Text innermostPath_;
    ListingHandle nextListing_ = 1;
};

// The shell's result codes that the Linux copy gives.
inline constexpr int kShellCopyFailed = 1;
inline constexpr int kShellBadRequest = 2;

} // namespace pellatrix::linuxos
