// What the copy's progress window shows, worked out apart from GTK.
#pragma once

#include "platform/linux/copy/copy_observer.h"

#include <string>

namespace pellatrix::linuxos::gtk {

// "3 of 120 files"
std::string fileCountText(const CopyProgress& progress);
// The share of the bytes copied, from 0 to 1; by files when there are no bytes to copy.
double doneFraction(const CopyProgress& progress);
// The last component of a path as displayPath shows it, and the folder before it.
std::string fileNameOf(const std::string& shownPath);
std::string folderOf(const std::string& shownPath);

} // namespace pellatrix::linuxos::gtk
