// Reading the attributes of a run of entries of one folder on two threads: the listing's own,
// which takes the entries in order as the walk asks for them, and a helper, which takes them
// from the last one back. They meet in the middle, each entry read once, by whichever came
// first; the walk then finds most entries read already.
//
// A run ends at the first entry that may be a folder: the walk may go into it, and the entries
// after it are read when the walk is back, not long before it uses them.
#pragma once

#include "platform/linux/files/file_attributes.h"
#include "platform/platform_services.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace pellatrix::linuxos {

// One entry of a run and what reading it found.
struct RunEntry {
    std::string name;
    Text windowsName;
    int error = 0; // errno when it could not be read
    std::uint32_t attributes = 0;
    EntryRead read;
    std::atomic<int> state{0}; // kFree, kTaken or kRead
};

struct EntryRun {
    int folder = -1; // the open folder the entries are in
    std::unique_ptr<RunEntry[]> entries;
    std::size_t count = 0;
    // The helper does not touch the run. Set by the helper under its lock, as its last touch.
    std::atomic<bool> helperOut{true};
};

// Reads one entry of a run here, unless the helper has taken it: then waits until it has read
// it. Call in order, from the listing's thread only.
RunEntry& takeEntry(EntryRun& run, std::size_t index);

// The helper thread, one for all listings of a platform; it helps with one run at a time.
class EntryRunHelper {
  public:
    EntryRunHelper();
    ~EntryRunHelper();
    EntryRunHelper(const EntryRunHelper&) = delete;
    EntryRunHelper& operator=(const EntryRunHelper&) = delete;

    // Offers the run to the helper, in place of any run offered before and not begun.
    void offer(EntryRun& run);
    // Returns once the helper no longer touches the run: before its entries or its folder go.
    void withdraw(EntryRun& run);

  private:
    void work();

    std::mutex mutex_;
    std::condition_variable offered_;
    // A run let go of: the helper's own, so that waking its waiter touches no run.
    std::condition_variable letGo_;
    EntryRun* next_ = nullptr;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace pellatrix::linuxos
