// A few threads that run jobs handed to them by one owner thread, and hand them back done.
//
// Only the owner submits and collects, so everything that must happen on one thread (asking
// the person, updating the display) happens where the owner handles what it collects. The
// pool holds no more jobs than the owner lets it: the owner counts what it has submitted and
// not collected yet.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pellatrix::linuxos {

template <typename Job> class WorkerPool {
  public:
    // Starts up to `threads` threads that call run(job) for each job submitted. Fewer start
    // when the system refuses more; threads() tells how many did.
    WorkerPool(unsigned threads, std::function<void(Job&)> run) : run_(std::move(run)) {
        for (unsigned i = 0; i < threads; ++i) {
            try {
                threads_.emplace_back([this] { work(); });
            } catch (const std::system_error&) {
                break;
            }
        }
    }
    // Waits for the jobs that are running; the ones still queued are dropped unrun.
    ~WorkerPool() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
            queued_.clear();
        }
        workToDo_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t threads() const { return threads_.size(); }
    // Jobs submitted and not collected yet.
    std::size_t pending() const { return pending_; }

    void submit(std::unique_ptr<Job> job) {
        {
            const std::lock_guard lock(mutex_);
            queued_.push_back(std::move(job));
        }
        ++pending_;
        workToDo_.notify_one();
    }

    // The jobs done since the last call; waits up to `wait` for one when none is done yet.
    std::vector<std::unique_ptr<Job>> collect(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        if (done_.empty() && wait.count() > 0)
            jobDone_.wait_for(lock, wait, [this] { return !done_.empty(); });
        std::vector<std::unique_ptr<Job>> done;
        done.swap(done_);
        lock.unlock();
        pending_ -= done.size();
        return done;
    }

  private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            workToDo_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
            if (stopping_)
                return;
            std::unique_ptr<Job> job = std::move(queued_.front());
            queued_.pop_front();
            lock.unlock();
            run_(*job);
            lock.lock();
            done_.push_back(std::move(job));
            jobDone_.notify_one();
        }
    }

    std::function<void(Job&)> run_;
    std::mutex mutex_;
    std::condition_variable workToDo_, jobDone_;
    std::deque<std::unique_ptr<Job>> queued_;
    std::vector<std::unique_ptr<Job>> done_;
    bool stopping_ = false;
    std::size_t pending_ = 0; // the owner's count
    std::vector<std::thread> threads_;
};

} // namespace pellatrix::linuxos
