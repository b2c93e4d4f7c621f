#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "platform/dispatch/Queue.h"

namespace rozuri::net {

// The serial queue that owns a socket's state, marked so that the socket can tell when it is
// already on it (or on a queue that targets it) and run inline instead of waiting on itself.
class SocketQueue {
  public:
    // `queue`: the caller's serial queue, or none for a new one named `owner`. A concurrent
    // queue is misuse: reported through the assertion handler, and a new serial queue is used.
    SocketQueue(std::shared_ptr<dispatch::Queue> queue, const char* owner);
    ~SocketQueue();
    SocketQueue(const SocketQueue&) = delete;
    SocketQueue& operator=(const SocketQueue&) = delete;

    const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

    bool isCurrent() const;
    // Inline when current, else waits for the queue.
    void run(const std::function<void()>& work) const;
    // Inline when current, else queued.
    void async(std::function<void()> work) const;
    template <class F>
    auto result(F&& f) const -> decltype(f()) {
        if (isCurrent()) return f();
        return queue_->syncResult(std::forward<F>(f));
    }

    // Lets work on `queue` (which targets the socket queue) count as on the socket queue.
    void markTarget(dispatch::Queue& queue) const;
    void unmarkTarget(dispatch::Queue& queue) const;

  private:
    std::shared_ptr<dispatch::Queue> queue_;
    // Its address is the queue-specific key.
    const char key_ = 0;
};

}  // namespace rozuri::net
