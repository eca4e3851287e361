// The user interface of an unattended install (pellatrix --yes): it asks nobody and needs
// neither a terminal nor a display. A file that cannot be copied is skipped and reported on
// standard error with its path and the reason; the progress goes to standard error only when
// that is a terminal; SIGINT and SIGTERM cancel the copy.
#pragma once

#include "quiet_user_interface.h"

namespace pellatrix::linux {

class UnattendedUserInterface : public QuietUserInterface {
  public:
    // Every message box, never shown, answers Yes (or OK): the person said yes beforehand.
    UnattendedUserInterface() : QuietUserInterface(Reply::Yes) {}
    std::unique_ptr<CopyObserver> beginCopy() override;
};

} // namespace pellatrix::linux
