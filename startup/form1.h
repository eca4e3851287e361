// Form1: the hidden start-up form whose load handler runs the whole job.
#pragma once

#include "platform/platform_services.h"

namespace pellatrix {

class Form1 {
  public:
    explicit Form1(PlatformServices& platform) : platform_(platform) {}

    // Asks the question; on Yes copies the Model folder, makes the copies writable and says
    // "Processing end". Ends the program either way. Errors escape to the entry point.
    void Form_Load();

    // The program's exit status once Form_Load has returned (Mdl2::kExit...).
    int exitStatus() const { return exitStatus_; }

  private:
    PlatformServices& platform_;
    int exitStatus_ = 0;
};

// The source pattern for a current directory: exactly one "\" before "Model\*.*".
Text sourcePatternFor(const Text& currentDirectory);

// Raises an error when a folder on the way to the destination is a link or junction, which
// could redirect the copy and the walk outside it.
void refuseRedirectedDestination(PlatformServices& platform);

} // namespace pellatrix
