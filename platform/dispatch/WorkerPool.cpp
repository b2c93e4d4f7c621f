#include "platform/dispatch/WorkerPool.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "platform/dispatch/Immortal.h"

namespace dispatch {

namespace {
using SteadyClock = std::chrono::steady_clock;

constexpr auto kIdleRetirement = std::chrono::seconds(10);
constexpr auto kStallCheck = std::chrono::milliseconds(5);
constexpr std::size_t kKeepIdle = 2;
// How long a worker that ran out of work polls for more before it sleeps: long enough to catch
// a hand-off from the thread it just served, short enough to cost nothing measurable at idle.
constexpr auto kSpin = std::chrono::microseconds(4);

thread_local bool tlsKeepNext = false;

static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

int* futexWord(std::atomic<int>& word) {
    return reinterpret_cast<int*>(&word);
}

// Sleeps while `word` holds `expected`, at most `timeout`; may return early for no reason.
void futexWait(std::atomic<int>& word, int expected, SteadyClock::duration timeout) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::syscall(SYS_futex, futexWord(word), FUTEX_WAIT_PRIVATE, expected, &ts, nullptr, 0);
}

void futexWake(std::atomic<int>& word) {
    ::syscall(SYS_futex, futexWord(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void cpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}
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
    Idler* sleeper = nullptr;
    {
        std::lock_guard lock(mutex_);
        tasks_[static_cast<int>(priority)].push_back(std::move(task));
        ++pending_;
        if (tlsKeepNext) {
            tlsKeepNext = false;
        } else if (!idlers_.empty()) {
            // The most recently idle worker: the likeliest to be still polling, not asleep.
            Idler* idler = idlers_.back();
            idlers_.pop_back();
            if (idler->state.exchange(Idler::claimed, std::memory_order_acq_rel) == Idler::parked) {
                sleeper = idler;
            }
        } else if (threads_ < softLimit_) {
            startWorkerLocked();
        } else {
            if (!monitorStarted_) {
                monitorStarted_ = true;
                std::thread([this] { monitorMain(); }).detach();
            }
            monitorWake_.notify_one();
        }
    }
    // Woken outside the lock, so that it does not wake only to wait for the lock.
    if (sleeper) futexWake(sleeper->state);
}

WorkerPool::KeepNext::KeepNext(bool enabled) {
    tlsKeepNext = enabled;
}

WorkerPool::KeepNext::~KeepNext() {
    tlsKeepNext = false;
}

bool WorkerPool::runOne() {
    std::unique_lock lock(mutex_);
    if (pending_ == 0) return false;
    Task task = takeLocked();
    lock.unlock();
    task();
    task = nullptr;
    lock.lock();
    ++completed_;
    return true;
}

WorkerPool::Task WorkerPool::takeLocked() {
    --pending_;
    for (int p = 2;; --p) {
        if (!tasks_[p].empty()) {
            Task task = std::move(tasks_[p].front());
            tasks_[p].pop_front();
            return task;
        }
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
    pthread_setname_np(pthread_self(), "dispatch-worker");
    std::unique_lock lock(mutex_);
    Idler* self;
    if (spareIdlers_.empty()) {
        ownedIdlers_.push_back(std::make_unique<Idler>());
        self = ownedIdlers_.back().get();
    } else {
        self = spareIdlers_.back();
        spareIdlers_.pop_back();
    }
    for (;;) {
        if (pending_ == 0) {
            if (!idle(*self, lock)) break;
            continue;
        }
        Task task = takeLocked();
        lock.unlock();
        task();
        task = nullptr;  // release captures outside the lock
        lock.lock();
        ++completed_;
    }
    spareIdlers_.push_back(self);
    --threads_;
}

bool WorkerPool::idle(Idler& self, std::unique_lock<std::mutex>& lock) {
    self.state.store(Idler::spinning, std::memory_order_relaxed);
    idlers_.push_back(&self);
    lock.unlock();
    const auto spinUntil = SteadyClock::now() + kSpin;
    while (self.state.load(std::memory_order_acquire) == Idler::spinning &&
           SteadyClock::now() < spinUntil) {
        cpuRelax();
    }
    int expected = Idler::spinning;
    if (self.state.compare_exchange_strong(expected, Idler::parked, std::memory_order_acq_rel)) {
        auto deadline = SteadyClock::now() + kIdleRetirement;
        for (;;) {
            const auto now = SteadyClock::now();
            if (now < deadline) {
                futexWait(self.state, Idler::parked, deadline - now);
                if (self.state.load(std::memory_order_acquire) == Idler::claimed) break;
                continue;
            }
            lock.lock();
            if (self.state.load(std::memory_order_relaxed) == Idler::claimed) return true;
            if (pending_ > 0 || idlers_.size() > kKeepIdle) {
                // Not claimed, so still listed: work to take, or enough others idle to retire.
                std::erase(idlers_, &self);
                return pending_ > 0;
            }
            lock.unlock();
            deadline = now + kIdleRetirement;
        }
    }
    lock.lock();
    return true;
}

void WorkerPool::monitorMain() {
    std::unique_lock lock(mutex_);
    for (;;) {
        monitorWake_.wait(lock, [this] { return pending_ > idlers_.size(); });
        std::size_t seen = completed_;
        // The full interval, whatever submissions arrive meanwhile: bursts are not stalls.
        auto until = SteadyClock::now() + kStallCheck;
        while (monitorWake_.wait_until(lock, until) == std::cv_status::no_timeout) {
        }
        // Still waiting and nothing finished meanwhile: the running tasks block, add a thread.
        if (pending_ > idlers_.size() && completed_ == seen && threads_ < hardLimit_) {
            startWorkerLocked();
        }
    }
}

}  // namespace dispatch
