// What every entry point does once it has a platform: run the job, report an error that
// escaped it, and give the exit status.
#pragma once

#include "form1.h"
#include "platform/platform_error.h"

#include <functional>

namespace pellatrix {

// reportLastResort is called with the report when it is not to be shown in a message box
// (options.showMessages is false) or when even the error message box fails (no terminal and
// no display); it writes to standard error or the system log. showPath gives the form in
// which the report shows a path (describeError).
int runProgram(PlatformServices& platform, const StartOptions& options,
               const std::function<void(const Text&)>& reportLastResort,
               const PathDisplay& showPath = {});

} // namespace pellatrix
