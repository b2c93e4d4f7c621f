#include "osc/udp/SocketQueue.h"

#include "platform/foundation/Assert.h"

namespace rozuri::net {

SocketQueue::SocketQueue(std::shared_ptr<dispatch::Queue> queue, const char* owner) {
    if (queue && queue->isConcurrent()) {
        foundation::assertionFailure(
            "The given socketQueue parameter must not be a concurrent queue.", owner, __LINE__);
        queue = nullptr;
    }
    queue_ = queue ? std::move(queue) : dispatch::Queue::createSerial(owner);
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
