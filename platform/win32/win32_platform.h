// The Windows implementation of PlatformServices, through the wide (W) functions.
//
// Contract notes for this platform:
// - openListing returns kInvalidListing when the folder or the pattern's folder is missing,
//   when nothing matches, or when a path component is a file or cannot be a name
//   (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_NO_MORE_FILES, ERROR_DIRECTORY,
//   ERROR_INVALID_NAME, which Wine gives for "file.txt\*.*"); any other failure, such as
//   a folder that may not be read, raises PlatformError, so a walk never passes over a
//   folder without saying so.
// - Paths of 248 characters or more reach the file functions in the "\\?\" form.
// - Form1's window is made on the first call of ownerWindow() (the entry point makes it at
//   start-up); message boxes are unowned, so that each shows in the taskbar.
#pragma once

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
    HINSTANCE instance_;
    std::unique_ptr<HiddenForm> form_;
};

} // namespace pellatrix::win32
