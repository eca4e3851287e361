// Runs of entries read on two threads.
#include "platform/linux/files/entry_run.h"

#include <cerrno>
#include <utility>

namespace pellatrix::linuxos {
namespace {

constexpr int kFree = 0;
constexpr int kTaken = 1;
constexpr int kRead = 2;

void read(int folder, RunEntry& entry) {
    entry.error = readAttributesAt(folder, entry.name, entry.attributes, &entry.read) ? 0 : errno;
}

// Tells the processor that this is a wait loop.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Waits until `value` is no longer `old`: awake for as long as a read of one entry takes,
// asleep after that (the other thread may have lost its processor).
template <typename T> void waitWhile(const std::atomic<T>& value, T old) {
    for (int spins = 0; spins < 256; ++spins) {
        if (value.load(std::memory_order_acquire) != old)
            return;
        relax();
    }
    value.wait(old, std::memory_order_acquire);
}

} // namespace

RunEntry& takeEntry(EntryRun& run, std::size_t index) {
    RunEntry& entry = run.entries[index];
    int expected = kFree;
    if (entry.state.compare_exchange_strong(expected, kTaken, std::memory_order_acquire)) {
        read(run.folder, entry);
        entry.state.store(kRead, std::memory_order_relaxed); // nobody else waits for it
    } else {
        waitWhile(entry.state, kTaken);
    }
    return entry;
}

EntryRunHelper::EntryRunHelper() : thread_([this] { work(); }) {}

EntryRunHelper::~EntryRunHelper() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    offered_.notify_one();
    thread_.join();
}

void EntryRunHelper::offer(EntryRun& run) {
    {
        const std::lock_guard lock(mutex_);
        run.helperOut.store(false, std::memory_order_relaxed);
        if (EntryRun* replaced = std::exchange(next_, &run))
            replaced->helperOut.store(true, std::memory_order_relaxed); // never begun
    }
    offered_.notify_one();
}

void EntryRunHelper::withdraw(EntryRun& run) {
    // Awake for as long as a read of one entry takes: the helper is usually about to stop.
    for (int spins = 0; spins < 256; ++spins) {
        if (run.helperOut.load(std::memory_order_acquire))
            return;
        relax();
    }
    std::unique_lock lock(mutex_);
    if (next_ == &run) {
        next_ = nullptr;
        run.helperOut.store(true, std::memory_order_relaxed);
    }
    letGo_.wait(lock, [&] { return run.helperOut.load(std::memory_order_relaxed); });
}

void EntryRunHelper::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        offered_.wait(lock, [this] { return stopping_ || next_; });
        if (stopping_)
            return;
        EntryRun& run = *std::exchange(next_, nullptr);
        lock.unlock();
        for (std::size_t i = run.count; i-- > 0;) {
            RunEntry& entry = run.entries[i];
            int expected = kFree;
            if (!entry.state.compare_exchange_strong(expected, kTaken, std::memory_order_acquire))
                break; // the listing's thread has come this far: the rest is its
            read(run.folder, entry);
            entry.state.store(kRead, std::memory_order_release);
            entry.state.notify_one();
        }
        // Under the lock, the run's last touch: once withdraw sees it, the run may go.
        lock.lock();
        run.helperOut.store(true, std::memory_order_release);
        letGo_.notify_all();
    }
}

} // namespace pellatrix::linuxos
