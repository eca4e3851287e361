// What the copy's progress window shows.
#include "platform/linux/ui/gtk/progress_display.h"

#include "platform/linux/ui/display_text.h"

#include <algorithm>

namespace pellatrix::linuxos::gtk {

std::string fileCountText(const CopyProgress& progress) {
    return linuxos::fileCountText(progress.filesDone, progress.filesTotal);
}

double doneFraction(const CopyProgress& progress) {
    double fraction = 0.0;
    if (progress.bytesTotal > 0)
        fraction = static_cast<double>(progress.bytesDone) / progress.bytesTotal;
    else if (progress.filesTotal > 0)
        fraction = static_cast<double>(progress.filesDone) / progress.filesTotal;
    return std::clamp(fraction, 0.0, 1.0);
}

std::string fileNameOf(const std::string& shownPath) {
    const auto separator = shownPath.rfind('/');
    return separator == std::string::npos ? shownPath : shownPath.substr(separator + 1);
}

std::string folderOf(const std::string& shownPath) {
    const auto separator = shownPath.rfind('/');
    if (separator == std::string::npos)
        return "";
    return separator == 0 ? "/" : shownPath.substr(0, separator);
}

} // namespace pellatrix::linuxos::gtk
