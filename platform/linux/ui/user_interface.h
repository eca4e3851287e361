// How the Linux platform talks to the person at it: on the terminal, or with desktop dialogs.
#pragma once

#include "platform/linux/copy/copy_observer.h"
#include "platform/linux/files/drive_mapping.h"
#include "platform/platform_services.h"

#include <memory>

namespace pellatrix::linuxos {

class UserInterface {
  public:
    virtual ~UserInterface() = default;
    // Modal. style is a Windows message box style: MessageBoxStyle::YesNo or Ok, plus an icon.
    // Returns Reply::Yes, Reply::No or Reply::Ok. Raises PlatformError when it cannot ask.
    virtual int messageBox(const Text& text, const Text& title, int style) = 0;
    // The progress display and error questions of one copy, owned by the hidden main window.
    virtual std::unique_ptr<CopyObserver> beginCopy() = 0;
    // Handles the pending events, then returns.
    virtual void processMessages() = 0;
    // Closes every window.
    virtual void close() = 0;
};

// The desktop dialogs when a display can be opened, else the terminal. Both show paths as
// displayPath does with these drives.
std::unique_ptr<UserInterface> makeUserInterface(const DriveMapping& drives);

} // namespace pellatrix::linuxos
