// Form1: the hidden start-up form whose load handler runs the whole job.
#pragma once

#include "install_log.h"
#include "platform/platform_services.h"

#include <cstdint>

namespace pellatrix {

// How the job runs; the entry point reads it from the command line.
struct StartOptions {
    bool ask = true;                   // ask "May I copy the Model file?"; otherwise copy at once
    bool showMessages = true;          // "Processing end", and an error report in a message box
    std::uint16_t extraShellFlags = 0; // added to the shell copy's ShellFlag::NoConfirmation
    bool ownedCopy = true;     // the shell copy's windows owned by the form; else no owner at all
    InstallLog* log = nullptr; // where the job's events go; none when null
};

// An unattended install: no question and no message box, and a shell copy that shows
// nothing and asks nothing, so it needs no owner window: none is made.
inline constexpr StartOptions kUnattended{
    false, false, ShellFlag::Silent | ShellFlag::NoErrorUI | ShellFlag::NoConfirmMkDir, false};

class Form1 {
  public:
    explicit Form1(PlatformServices& platform, const StartOptions& options = {})
        : platform_(platform), options_(options) {}

    // Asks the question (unless told not to); on Yes copies the Model folder, makes the copies
    // writable and says "Processing end" (unless told not to). Ends the program either way.
    // Errors escape to the entry point.
    void Form_Load();

    // The program's exit status once Form_Load has returned (Mdl2::kExit...).
    int exitStatus() const { return exitStatus_; }

  private:
    // Writes the line that line() gives to the log, if there is one.
    template <typename Line> void log(Line line) {
        if (options_.log)
            options_.log->write(line());
    }

    PlatformServices& platform_;
    const StartOptions options_;
    int exitStatus_ = 0;
};

// The source pattern for a current directory: exactly one "\" before "Model\*.*".
Text sourcePatternFor(const Text& currentDirectory);

// Raises an error when a folder on the way to the destination is a link or junction, which
// could redirect the copy and the walk outside it.
void refuseRedirectedDestination(PlatformServices& platform);

} // namespace pellatrix
