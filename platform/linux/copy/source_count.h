// Counting what a copy will copy, on a thread of its own, while the copy runs: the progress
// display's totals grow as the count goes and are exact once it is done, and the first file
// is copied at once instead of after a pass over the whole tree.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

namespace pellatrix::linuxos {

class SourceCount {
  public:
    // Counts the files (links and other entries too) below the open folder `folder`, and the
    // bytes of the regular ones, taking only the entries that `matches` at its top.
    // `matches` is called on the counting thread. Reads from its own descriptors.
    SourceCount(int folder, std::function<bool(std::string_view)> matches);
    // Stops counting and waits for the thread.
    ~SourceCount();
    SourceCount(const SourceCount&) = delete;
    SourceCount& operator=(const SourceCount&) = delete;

    std::uint64_t files() const { return files_.load(std::memory_order_relaxed); }
    std::uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }

  private:
    void count(int top);

    std::function<bool(std::string_view)> matches_;
    std::atomic<std::uint64_t> files_{0};
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace pellatrix::linuxos
