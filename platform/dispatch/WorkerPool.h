#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace dispatch {

// The elastic pool behind every queue but the main one. Up to a soft limit a thread is started
// whenever work finds no idle thread; past it, a monitor adds a thread whenever work has waited
// without any task finishing, so blocking calls cannot starve the pool. Idle threads retire.
// An idle thread polls for a few microseconds, then sleeps on a word of its own; work wakes the
// most recently idle one, after the pool's lock is released.
class WorkerPool {
  public:
    enum class Priority { low = 0, normal = 1, high = 2 };
    using Task = std::function<void()>;

    static WorkerPool& shared();

    void submit(Priority priority, Task task);
    // Runs one waiting task on the calling thread, if there is one: a thread that is awake
    // anyway takes the work it just handed over before the worker woken for it arrives.
    bool runOne();

    // While one is alive, the next task the calling thread submits wakes no worker: the thread
    // promises to call runOne() right after.
    class KeepNext {
      public:
        explicit KeepNext(bool enabled);
        ~KeepNext();
        KeepNext(const KeepNext&) = delete;
        KeepNext& operator=(const KeepNext&) = delete;
    };

    std::size_t threadCount() const;
    std::size_t softLimit() const { return softLimit_; }

    WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

  private:
    // An idle worker's wake-up word. Owned by the pool and reused, never freed: a waker may
    // still touch it just after its worker went on.
    struct Idler {
        enum : int { spinning = 0, claimed = 1, parked = 2 };
        std::atomic<int> state{spinning};
    };

    Task takeLocked();  // requires pending_ > 0
    void startWorkerLocked();
    void workerMain();
    // Waits, registered as idle, until submit() claims this worker (true) or it retires (false).
    bool idle(Idler& self, std::unique_lock<std::mutex>& lock);
    void monitorMain();

    mutable std::mutex mutex_;
    std::condition_variable monitorWake_;
    std::deque<Task> tasks_[3];
    std::vector<Idler*> idlers_;  // unclaimed idle workers, the most recent last
    std::vector<std::unique_ptr<Idler>> ownedIdlers_;
    std::vector<Idler*> spareIdlers_;  // of retired workers
    std::size_t pending_ = 0;
    std::size_t threads_ = 0;
    std::size_t completed_ = 0;
    bool monitorStarted_ = false;
    std::size_t softLimit_;
    std::size_t hardLimit_;
};

}  // namespace dispatch
