#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace dispatch {

// The elastic pool behind every queue but the main one. Up to a soft limit a thread is started
// whenever work finds no idle thread; past it, a monitor adds a thread whenever work has waited
// without any task finishing, so blocking calls cannot starve the pool. Idle threads retire.
class WorkerPool {
  public:
    enum class Priority { low = 0, normal = 1, high = 2 };
    using Task = std::function<void()>;

    static WorkerPool& shared();

    void submit(Priority priority, Task task);

    std::size_t threadCount() const;
    std::size_t softLimit() const { return softLimit_; }

    WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

  private:
    void startWorkerLocked();
    void workerMain();
    void monitorMain();

    mutable std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::condition_variable monitorWake_;
    std::deque<Task> tasks_[3];
    std::size_t pending_ = 0;
    std::size_t threads_ = 0;
    std::size_t idle_ = 0;
    std::size_t completed_ = 0;
    bool monitorStarted_ = false;
    std::size_t softLimit_;
    std::size_t hardLimit_;
};

}  // namespace dispatch
