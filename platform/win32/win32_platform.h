// The Windows implementation of PlatformServices, through the wide (W) functions.
//
// Contract notes for this platform:
// - Listings and attributes go through handles (held_folders.h): the destination that a copy
//   writes into is held from the copy to the end, and a path inside it or inside an open
//   listing is reached one name at a time from that handle, as listed, never through a link,
//   a junction or the path parser; what opens must be what the listing showed.
// - openListing returns kInvalidListing only when the folder is missing (or is a file) or
//   nothing matches; any other failure, a listing that fails part-way included, raises
//   PlatformError naming the path, so a walk never passes over a folder without saying so.
//   So does a listed name that could lead out of its folder ("..\", "\", "/", ":").
// - No path longer than 32,767 characters (the longest a Windows path may be) is walked.
// - Form1's window is made on the first call of ownerWindow() (the entry point makes it at
//   start-up); message boxes are unowned, so that each shows in the taskbar.
#pragma once

#include "held_folders.h"
#include "hidden_form.h"
#include "platform/platform_services.h"

#include <memory>

namespace pellatrix::win32 {

class Win32Platform : public PlatformServices {
  public:
    // `instance` holds the icon (resource 1) that Form1's window carries.
    explicit Win32Platform(HINSTANCE instance);
    ~Win32Platform() override;

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

  private:
    // The entry that readAttributes opened last, kept for a setAttributes of the same path
    // that follows it with no listing call between.
    struct LastRead {
        Text path;
        FileHandle handle;
    };

    HINSTANCE instance_;
    std::unique_ptr<HiddenForm> form_;
    HeldFolders held_;
    LastRead lastRead_;
};

} // namespace pellatrix::win32
