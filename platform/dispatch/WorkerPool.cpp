#include "platform/dispatch/WorkerPool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/dispatch/Immortal.h"

namespace dispatch {

namespace {
constexpr auto kIdleRetirement = std::chrono::seconds(10);
constexpr auto kStallCheck = std::chrono::milliseconds(5);
constexpr std::size_t kKeepIdle = 2;
}  // namespace

WorkerPool& WorkerPool::shared() {
    static Immortal<WorkerPool> pool;
    return pool.get();
}

WorkerPool::WorkerPool() {
    std::size_t cpus = std::max(1u, std::thread::hardware_concurrency());
    softLimit_ = std::max<std::size_t>(4, cpus * 2);
    hardLimit_ = std::max<std::size_t>(256, softLimit_);
}

std::size_t WorkerPool::threadCount() const {
    std::lock_guard lock(mutex_);
    return threads_;
}

void WorkerPool::submit(Priority priority, Task task) {
    std::lock_guard lock(mutex_);
    tasks_[static_cast<int>(priority)].push_back(std::move(task));
    ++pending_;
    if (idle_ > 0) workAvailable_.notify_one();
    if (pending_ <= idle_) return;
    if (threads_ < softLimit_) {
        startWorkerLocked();
    } else {
        if (!monitorStarted_) {
            monitorStarted_ = true;
            std::thread([this] { monitorMain(); }).detach();
        }
        monitorWake_.notify_one();
    }
}

void WorkerPool::startWorkerLocked() {
    try {
        std::thread([this] { workerMain(); }).detach();
        ++threads_;
    } catch (const std::system_error& e) {
        // Out of threads: the work stays queued for the threads that exist.
        std::fprintf(stderr, "dispatch: could not start a worker thread: %s\n", e.what());
    }
}

void WorkerPool::workerMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        while (pending_ == 0) {
            ++idle_;
            bool timedOut =
                !workAvailable_.wait_for(lock, kIdleRetirement, [this] { return pending_ > 0; });
            --idle_;
            if (timedOut && pending_ == 0 && idle_ >= kKeepIdle) {
                --threads_;
                return;
            }
        }
        Task task;
        for (int p = 2; p >= 0; --p) {
            if (!tasks_[p].empty()) {
                task = std::move(tasks_[p].front());
                tasks_[p].pop_front();
                break;
            }
        }
        --pending_;
        lock.unlock();
        task();
        task = nullptr;  // release captures outside the lock
        lock.lock();
        ++completed_;
    }
}

void WorkerPool::monitorMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        monitorWake_.wait(lock, [this] { return pending_ > idle_; });
        std::size_t seen = completed_;
        // The full interval, whatever submissions arrive meanwhile: bursts are not stalls.
        auto until = std::chrono::steady_clock::now() + kStallCheck;
        while (monitorWake_.wait_until(lock, until) == std::cv_status::no_timeout) {
        }
        // Still waiting and nothing finished meanwhile: the running tasks block, add a thread.
        if (pending_ > idle_ && completed_ == seen && threads_ < hardLimit_) {
            startWorkerLocked();
        }
    }
}

}  // namespace dispatch
