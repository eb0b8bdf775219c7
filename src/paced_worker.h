// One thread beside the event loop for work that waits on the disk (a
// sync, a file replaced), so that no tick waits for it. The loop hands over
// the newest work; the thread does it at most once per pace, on whatever is
// newest by then, so however often the loop hands work over, the disk sees
// one job per pace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

template <typename Work>
class PacedWorker {
public:
    // Runs on the worker's thread, outside the lock; returns why the work
    // failed, empty after a success.
    using Job = std::string (*)(const Work& work);

    PacedWorker(Job job, std::chrono::milliseconds pace)
        : job_(job)
        , pace_(pace)
    {
    }
    // A worker still running at exit is left to the process's end: joining
    // it among the static destructors could wait on a disk for nothing.
    ~PacedWorker() = default;
    PacedWorker(const PacedWorker&) = delete;
    PacedWorker& operator=(const PacedWorker&) = delete;

    bool running() const { return thread_ != nullptr; }

    // The newest work; starts the thread at the first.
    void post(const Work& work)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_) {
            stop_ = false;
            thread_ = new std::thread([this] { loop(); });
        }
        work_ = work;
        // Only a worker waiting for work needs waking: one that has some
        // waits out its pace, or is working and looks again after, and each
        // tick's wake-up would be a thread switch for nothing.
        if (!std::exchange(pending_, true))
            wake_.notify_one();
    }

    // Why the last job failed; empty after a success.
    std::string problem()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return problem_;
    }

    // Ends the thread. With `finish`, work still pending is done first, at
    // once; without, it is dropped.
    void stop(bool finish)
    {
        if (!thread_)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            finish_ = finish;
        }
        wake_.notify_one();
        thread_->join();
        delete thread_;
        thread_ = nullptr;
        pending_ = false;
    }

private:
    void loop()
    {
        using Clock = std::chrono::steady_clock;
        std::unique_lock<std::mutex> lock(mutex_);
        Clock::time_point last = Clock::now() - pace_;
        for (;;) {
            wake_.wait(lock, [this] { return pending_ || stop_; });
            if (stop_ && !(finish_ && pending_))
                return;
            wake_.wait_until(lock, last + pace_, [this] { return stop_; });
            if (stop_ && !finish_)
                return;
            const Work work = work_;
            pending_ = false;
            lock.unlock();
            std::string why = job_(work);
            last = Clock::now();
            lock.lock();
            problem_ = std::move(why);
        }
    }

    const Job job_;
    const std::chrono::milliseconds pace_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread* thread_ = nullptr;
    Work work_{};
    bool pending_ = false, stop_ = false, finish_ = false;
    std::string problem_;
};
