#include "platform/dispatch/Queue.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/dispatch/Assert.h"
#include "platform/dispatch/EventLoop.h"
#include "platform/dispatch/Immortal.h"
#include "platform/dispatch/WorkerPool.h"

namespace dispatch {

namespace {

pid_t threadId() {
    thread_local const pid_t id = static_cast<pid_t>(::syscall(SYS_gettid));
    return id;
}

std::atomic<pid_t> gMainThread{0};

// The queues the calling thread holds, innermost first: work it runs from a queue, and the
// queues it entered through nested sync calls.
struct Frame {
    const Queue* queue;
    const Frame* parent;
};
thread_local const Frame* tlsFrame = nullptr;

class FrameScope {
  public:
    FrameScope(const Queue* queue, const Frame* parent) : frame_{queue, parent}, saved_(tlsFrame) {
        tlsFrame = &frame_;
    }
    ~FrameScope() { tlsFrame = saved_; }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;

  private:
    Frame frame_;
    const Frame* saved_;
};

constexpr int kSerialBatch = 64;
constexpr auto kRunUntilPoll = std::chrono::milliseconds(10);

WorkerPool::Priority priorityOf(QoS qos) {
    switch (qos) {
        case QoS::low:
            return WorkerPool::Priority::low;
        case QoS::high:
            return WorkerPool::Priority::high;
        case QoS::normal:
            break;
    }
    return WorkerPool::Priority::normal;
}

void runWork(const Work& work, const std::string& label) {
    try {
        if (work) work();
    } catch (const std::exception& e) {
        DISPATCH_ASSERTION_FAILURE("Uncaught exception in work on queue '" + label +
                                   "': " + e.what());
    } catch (...) {
        DISPATCH_ASSERTION_FAILURE("Uncaught exception in work on queue '" + label + "'");
    }
}

// A thread waiting in sync. On a serial queue it is granted the queue and runs its work
// itself; on the main queue the main thread runs the work and reports back.
struct SyncWaiter {
    const Work* work = nullptr;
    const Frame* callerFrame = nullptr;
    std::exception_ptr error;
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;

    void signal() {
        std::lock_guard lock(mutex);
        done = true;
        cv.notify_one();
    }
    void wait() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [this] { return done; });
    }
};

struct Item {
    Work work;
    SyncWaiter* waiter = nullptr;
};

}  // namespace

void markMainThread() {
    pid_t expected = 0;
    gMainThread.compare_exchange_strong(expected, threadId());
}

bool isMainThread() {
    pid_t main = gMainThread.load();
    return threadId() == (main != 0 ? main : ::getpid());
}

struct Queue::Impl {
    explicit Impl(QoS qos) : priority(priorityOf(qos)) {}

    WorkerPool::Priority priority;

    mutable std::mutex mutex;
    std::condition_variable changed;  // main queue: work arrived
    std::deque<Item> items;
    bool active = false;    // serial: a drainer or a sync caller owns the queue
    bool draining = false;  // main: a drain is running
    std::shared_ptr<const std::function<void()>> waker;

    mutable std::shared_mutex specificsMutex;
    std::unordered_map<SpecificKey, std::shared_ptr<void>> specifics;

    static bool holds(const Queue* queue) {
        for (const Frame* f = tlsFrame; f; f = f->parent) {
            if (f->queue == queue) return true;
        }
        return queue->isMain() && isMainThread();
    }

    // Called after releasing `mutex`, so that the worker it wakes does not wait for it.
    void scheduleDrain(Queue& queue) {
        WorkerPool::shared().submit(
            priority, [self = queue.shared_from_this()] { self->impl_->drainSerial(*self); });
    }

    void drainSerial(Queue& queue) {
        FrameScope scope(&queue, nullptr);
        for (int n = 0;; ++n) {
            std::unique_lock lock(mutex);
            if (items.empty()) {
                active = false;
                return;
            }
            if (n == kSerialBatch) {
                lock.unlock();
                scheduleDrain(queue);  // let other queues' work through
                return;
            }
            Item item = std::move(items.front());
            items.pop_front();
            lock.unlock();
            if (item.waiter) {
                item.waiter->signal();  // the queue now belongs to the sync caller
                return;
            }
            runWork(item.work, queue.label_);
        }
    }

    void releaseOwnership(Queue& queue) {
        std::unique_lock lock(mutex);
        if (items.empty()) {
            active = false;
            return;
        }
        lock.unlock();
        scheduleDrain(queue);
    }

    void wake() {
        std::shared_ptr<const std::function<void()>> w;
        {
            std::lock_guard lock(mutex);
            w = waker;
        }
        if (w && *w) (*w)();
    }
};

Queue::Queue(PrivateTag, std::string label, Kind kind, QoS qos)
    : label_(std::move(label)), kind_(kind), impl_(std::make_unique<Impl>(qos)) {}

Queue::~Queue() = default;

std::shared_ptr<Queue> Queue::createSerial(std::string label) {
    return std::make_shared<Queue>(PrivateTag{}, std::move(label), Kind::serial, QoS::normal);
}

const std::shared_ptr<Queue>& Queue::main() {
    pid_t unbound = 0;
    gMainThread.compare_exchange_strong(unbound, ::getpid());
    // Worker threads may still post to it during static destruction: never destroyed.
    static Immortal<std::shared_ptr<Queue>> queue(
        std::make_shared<Queue>(PrivateTag{}, "main-thread", Kind::main, QoS::high));
    return queue.get();
}

const std::shared_ptr<Queue>& Queue::global(QoS qos) {
    static Immortal<std::shared_ptr<Queue>> low(
        std::make_shared<Queue>(PrivateTag{}, "global-low", Kind::concurrent, QoS::low));
    static Immortal<std::shared_ptr<Queue>> normal(
        std::make_shared<Queue>(PrivateTag{}, "global-normal", Kind::concurrent, QoS::normal));
    static Immortal<std::shared_ptr<Queue>> high(
        std::make_shared<Queue>(PrivateTag{}, "global-high", Kind::concurrent, QoS::high));
    switch (qos) {
        case QoS::low:
            return low.get();
        case QoS::high:
            return high.get();
        case QoS::normal:
            break;
    }
    return normal.get();
}

void Queue::async(Work work) {
    switch (kind_) {
        case Kind::concurrent:
            WorkerPool::shared().submit(impl_->priority, [this, work = std::move(work)] {
                FrameScope scope(this, nullptr);
                runWork(work, label_);
            });
            return;
        case Kind::serial: {
            std::unique_lock lock(impl_->mutex);
            impl_->items.push_back(Item{std::move(work), nullptr});
            if (impl_->active) return;
            impl_->active = true;
            lock.unlock();
            impl_->scheduleDrain(*this);
            return;
        }
        case Kind::main: {
            bool wasEmpty;
            {
                std::lock_guard lock(impl_->mutex);
                wasEmpty = impl_->items.empty();
                impl_->items.push_back(Item{std::move(work), nullptr});
            }
            impl_->changed.notify_all();
            if (wasEmpty) impl_->wake();
            return;
        }
    }
}

void Queue::sync(const Work& work) {
    if (kind_ != Kind::concurrent && Impl::holds(this)) {
        DISPATCH_ASSERTION_FAILURE("sync onto queue '" + label_ +
                                   "' from work already running on it would deadlock");
        return;
    }
    switch (kind_) {
        case Kind::concurrent: {
            FrameScope scope(this, tlsFrame);
            if (work) work();
            return;
        }
        case Kind::serial: {
            auto keepAlive = shared_from_this();  // the caller's reference may go meanwhile
            std::unique_lock lock(impl_->mutex);
            if (!impl_->active && impl_->items.empty()) {
                impl_->active = true;
                lock.unlock();
            } else {
                SyncWaiter waiter;
                impl_->items.push_back(Item{nullptr, &waiter});
                const bool schedule = !impl_->active;
                impl_->active = true;
                lock.unlock();
                if (schedule) impl_->scheduleDrain(*this);
                waiter.wait();
            }
            struct Release {
                Queue& queue;
                ~Release() { queue.impl_->releaseOwnership(queue); }
            } release{*this};
            FrameScope scope(this, tlsFrame);
            if (work) work();
            return;
        }
        case Kind::main: {
            SyncWaiter waiter;
            waiter.work = &work;
            waiter.callerFrame = tlsFrame;
            bool wasEmpty;
            {
                std::lock_guard lock(impl_->mutex);
                wasEmpty = impl_->items.empty();
                impl_->items.push_back(Item{nullptr, &waiter});
            }
            impl_->changed.notify_all();
            if (wasEmpty) impl_->wake();
            waiter.wait();
            if (waiter.error) std::rethrow_exception(waiter.error);
            return;
        }
    }
}

void Queue::asyncAfter(Clock::time_point deadline, Work work) {
    EventLoop::shared().addTimedWork(deadline, shared_from_this(), std::move(work));
}

void Queue::asyncAfter(std::chrono::nanoseconds delay, Work work) {
    asyncAfter(deadlineAfter(delay), std::move(work));
}

void Queue::setSpecific(SpecificKey key, std::shared_ptr<void> value) {
    std::shared_ptr<void> old;
    std::unique_lock lock(impl_->specificsMutex);
    auto it = impl_->specifics.find(key);
    if (it != impl_->specifics.end()) {
        old = std::move(it->second);
        if (value) {
            it->second = std::move(value);
        } else {
            impl_->specifics.erase(it);
        }
    } else if (value) {
        impl_->specifics.emplace(key, std::move(value));
    }
    lock.unlock();
    // `old` goes here, outside the lock.
}

std::shared_ptr<void> Queue::specific(SpecificKey key) const {
    std::shared_lock lock(impl_->specificsMutex);
    auto it = impl_->specifics.find(key);
    return it != impl_->specifics.end() ? it->second : nullptr;
}

std::shared_ptr<void> Queue::getSpecific(SpecificKey key) {
    for (const Frame* f = tlsFrame; f; f = f->parent) {
        if (auto value = f->queue->specific(key)) return value;
    }
    if (isMainThread()) return main()->specific(key);
    return nullptr;
}

std::shared_ptr<Queue> Queue::current() {
    if (tlsFrame) {
        return std::const_pointer_cast<Queue>(tlsFrame->queue->shared_from_this());
    }
    if (isMainThread()) return main();
    return nullptr;
}

bool Queue::isCurrent() const {
    return Impl::holds(this);
}

void Queue::setWaker(std::function<void()> waker) {
    if (kind_ != Kind::main) {
        DISPATCH_ASSERTION_FAILURE("setWaker on queue '" + label_ +
                                   "': only the main queue has a waker");
        return;
    }
    auto fresh = waker ? std::make_shared<const std::function<void()>>(std::move(waker)) : nullptr;
    std::unique_lock lock(impl_->mutex);
    std::swap(impl_->waker, fresh);
    lock.unlock();
}

std::size_t Queue::drain() {
    if (kind_ != Kind::main) {
        DISPATCH_ASSERTION_FAILURE("drain on queue '" + label_ + "': only the main queue drains");
        return 0;
    }
    if (!isMainThread()) {
        DISPATCH_ASSERTION_FAILURE("The main queue drains only on the main thread");
        return 0;
    }
    std::unique_lock lock(impl_->mutex);
    if (impl_->draining) return 0;
    impl_->draining = true;
    std::size_t due = impl_->items.size();
    std::size_t ran = 0;
    {
        FrameScope scope(this, tlsFrame);
        while (ran < due && !impl_->items.empty()) {
            Item item = std::move(impl_->items.front());
            impl_->items.pop_front();
            lock.unlock();
            ++ran;
            if (item.waiter) {
                FrameScope callerScope(this, item.waiter->callerFrame);
                try {
                    (*item.waiter->work)();
                } catch (...) {
                    item.waiter->error = std::current_exception();
                }
                item.waiter->signal();
            } else {
                runWork(item.work, label_);
            }
            item.work = nullptr;  // captures go before the lock is taken again
            lock.lock();
        }
    }
    impl_->draining = false;
    bool left = !impl_->items.empty();
    lock.unlock();
    if (left) impl_->wake();
    return ran;
}

bool Queue::runUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    if (kind_ != Kind::main || !isMainThread()) {
        DISPATCH_ASSERTION_FAILURE("runUntil runs the main queue on the main thread only");
        return false;
    }
    {
        std::lock_guard lock(impl_->mutex);
        if (impl_->draining) {
            DISPATCH_ASSERTION_FAILURE("runUntil from work running on the main queue");
            return predicate && predicate();
        }
    }
    auto deadline = deadlineAfter(timeout);
    for (;;) {
        drain();
        if (!predicate || predicate()) return true;
        auto now = Clock::now();
        if (now >= deadline) return false;
        std::unique_lock lock(impl_->mutex);
        // Poll too: the predicate may turn true without any main-queue work.
        impl_->changed.wait_until(lock, std::min(deadline, now + kRunUntilPoll),
                                  [this] { return !impl_->items.empty(); });
    }
}

}  // namespace dispatch
