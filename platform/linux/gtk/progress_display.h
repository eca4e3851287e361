// What the copy's progress window shows, worked out apart from GTK, and how often it is redrawn.
#pragma once

#include "platform/linux/copy_observer.h"

#include <chrono>
#include <string>

namespace pellatrix::linux::gtk {

// "3 of 120 files"
std::string fileCountText(const CopyProgress& progress);
// The share of the bytes copied, from 0 to 1; by files when there are no bytes to copy.
double doneFraction(const CopyProgress& progress);
// The last component of a path as displayPath shows it, and the folder before it.
std::string fileNameOf(const std::string& shownPath);
std::string folderOf(const std::string& shownPath);

// Lets an update through at most once per interval, so that a copy of many small files spends
// its time copying, not drawing. The first update always passes.
class ProgressThrottle {
  public:
    using Clock = std::chrono::steady_clock;
    explicit ProgressThrottle(Clock::duration interval) : interval_(interval) {}

    bool due(Clock::time_point now) {
        if (started_ && now - last_ < interval_)
            return false;
        started_ = true;
        last_ = now;
        return true;
    }

  private:
    Clock::duration interval_;
    Clock::time_point last_{};
    bool started_ = false;
};

} // namespace pellatrix::linux::gtk
