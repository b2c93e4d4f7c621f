#include "osc/udp/SocketQueue.h"

namespace rozuri::net {

SocketQueue::SocketQueue(std::shared_ptr<dispatch::Queue> queue) : queue_(std::move(queue)) {
    markTarget(*queue_);
}

SocketQueue::~SocketQueue() {
    unmarkTarget(*queue_);
}

bool SocketQueue::isCurrent() const {
    return dispatch::Queue::getSpecific(&key_) != nullptr;
}

void SocketQueue::run(const std::function<void()>& work) const {
    if (isCurrent()) {
        work();
    } else {
        queue_->sync(work);
    }
}

void SocketQueue::async(std::function<void()> work) const {
    if (isCurrent()) {
        work();
    } else {
        queue_->async(std::move(work));
    }
}

void SocketQueue::markTarget(dispatch::Queue& queue) const {
    // The value only marks the queue; it owns nothing.
    queue.setSpecific(&key_, std::shared_ptr<void>(const_cast<char*>(&key_), [](void*) {}));
}

void SocketQueue::unmarkTarget(dispatch::Queue& queue) const {
    queue.setSpecific(&key_, nullptr);
}

}  // namespace rozuri::net
