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

  private:
    DriveMapping drives_;
    std::unique_ptr<UserInterface> ui_;
    std::map<ListingHandle, std::unique_ptr<DirectoryListing>> listings_;
    ListingHandle nextListing_ = 1;
};

// The shell's result codes that the Linux copy gives.
inline constexpr int kShellCopyFailed = 1;
inline constexpr int kShellBadRequest = 2;

} // namespace pellatrix::linux
