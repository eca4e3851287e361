// How often a copy's progress is shown, in the terminal, unattended and in the progress window.
#pragma once

#include <chrono>

namespace pellatrix::linuxos {

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

} // namespace pellatrix::linuxos
