// The user interface of an unattended install (pellatrix --yes): it asks nobody and needs
// neither a terminal nor a display. A file that cannot be copied is skipped and reported on
// standard error with its path and the reason; the progress goes to standard error only when
// that is a terminal; SIGINT and SIGTERM cancel the copy.
#pragma once

#include "platform/linux/files/drive_mapping.h"
#include "platform/linux/ui/quiet_user_interface.h"

namespace pellatrix::linuxos {

class UnattendedUserInterface : public QuietUserInterface {
  public:
    // Every message box, never shown, answers Yes (or OK): the person said yes beforehand.
    // drives: how the reports show paths (the native ones).
    explicit UnattendedUserInterface(DriveMapping drives)
        : QuietUserInterface(Reply::Yes), drives_(std::move(drives)) {}
    std::unique_ptr<CopyObserver> beginCopy() override;

  private:
    DriveMapping drives_;
};

} // namespace pellatrix::linuxos
