// The install log that /LOG=FILE (Windows) and --log=FILE (Linux) ask for, as unattended
// installers keep one: one UTF-8 line per event, each after the UTC time it happened at.
#pragma once

#include "platform/platform_error.h"

#include <filesystem>
#include <fstream>

namespace pellatrix {

class InstallLog {
  public:
    // Opens `file`, emptying it; showPath gives the form in which lines show paths. A file
    // that cannot be opened raises PlatformError at the first write, which the start-up makes
    // before anything is copied.
    explicit InstallLog(std::filesystem::path file, PathDisplay showPath = {});

    // Writes one line, "2026-01-31T12:00:00Z text", and flushes it. Raises PlatformError
    // (errno's code, the log's path) when it cannot be written.
    void write(const Text& text);

    // A path in quotes, as the lines show it.
    Text quoted(const Text& path) const;

  private:
    std::filesystem::path file_;
    PathDisplay showPath_;
    std::ofstream out_;
    int openError_ = 0; // errno of a failed open
};

} // namespace pellatrix
