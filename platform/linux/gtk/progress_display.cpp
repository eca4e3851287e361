// What the copy's progress window shows.
#include "progress_display.h"

#include <algorithm>

namespace pellatrix::linux::gtk {

std::string fileCountText(const CopyProgress& progress) {
    return std::to_string(progress.filesDone) + " of " + std::to_string(progress.filesTotal) +
           (progress.filesTotal == 1 ? " file" : " files");
}

double doneFraction(const CopyProgress& progress) {
    double fraction = 0.0;
    if (progress.bytesTotal > 0)
        fraction = static_cast<double>(progress.bytesDone) / progress.bytesTotal;
    else if (progress.filesTotal > 0)
        fraction = static_cast<double>(progress.filesDone) / progress.filesTotal;
    return std::clamp(fraction, 0.0, 1.0);
}

Text fileNameOf(const Text& windowsPath) {
    const auto separator = windowsPath.find_last_of(u'\\');
    return separator == Text::npos ? windowsPath : windowsPath.substr(separator + 1);
}

Text folderOf(const Text& windowsPath) {
    const auto separator = windowsPath.find_last_of(u'\\');
    return separator == Text::npos ? Text() : windowsPath.substr(0, separator);
}

} // namespace pellatrix::linux::gtk
