// The Linux implementation of the platform services.
#pragma once

#include "directory_listing.h"
#include "drive_mapping.h"
#include "user_interface.h"

#include <map>
#include <memory>

namespace pellatrix::linux {

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
    DriveMapping drives_;
    UniqueFd cRoot_;
    UniqueFd zRoot_;
    std::unique_ptr<UserInterface> ui_;
    std::map<ListingHandle, std::unique_ptr<DirectoryListing>> listings_;
    ListingHandle nextListing_ = 1;
};

// The shell's result codes that the Linux copy gives.
inline constexpr int kShellCopyFailed = 1;
inline constexpr int kShellBadRequest = 2;

} // namespace pellatrix::linux
