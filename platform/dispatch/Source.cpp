#include "platform/dispatch/Source.h"

#include <exception>
#include <string>

#include "platform/dispatch/Assert.h"
#include "platform/dispatch/EventLoop.h"

namespace dispatch {

namespace {
const char* kindName(Source::Kind kind) {
    switch (kind) {
        case Source::Kind::read:
            return "read";
        case Source::Kind::write:
            return "write";
        case Source::Kind::timer:
            return "timer";
    }
    return "?";
}

void runHandler(const Work& work, const char* what) {
    try {
        work();
    } catch (const std::exception& e) {
        DISPATCH_ASSERTION_FAILURE(std::string("Uncaught exception in a ") + what +
                                   " handler: " + e.what());
    } catch (...) {
        DISPATCH_ASSERTION_FAILURE(std::string("Uncaught exception in a ") + what + " handler");
    }
}
}  // namespace

Source::Source(PrivateTag, Kind kind, int fd, std::shared_ptr<Queue> queue)
    : kind_(kind), fd_(fd), queue_(std::move(queue)), state_(std::make_unique<State>()) {}

Source::~Source() {
    auto& loop = EventLoop::shared();
    Deferred deferred;
    std::unique_lock lock(loop.mutex());
    if (kind_ == Kind::timer) {
        loop.disarmTimer(*this);
    } else {
        loop.detach(*this, deferred);
    }
    // Cancelled but still suspended: nobody can resume it any more, and owners commonly close
    // the descriptor in the cancel handler, so run it rather than lose it.
    if (state_->cancelled && !state_->cancelSubmitted) {
        state_->suspendCount = 0;
        submitCancelIfDueLocked(deferred);
    }
    lock.unlock();
    // Handlers (and their captures) go with state_, outside the lock.
}

std::shared_ptr<Source> Source::make(Kind kind, int fd, std::shared_ptr<Queue> queue) {
    if (!queue) {
        DISPATCH_ASSERTION_FAILURE(std::string("A ") + kindName(kind) + " source needs a queue");
        queue = Queue::global();
    }
    auto source = std::make_shared<Source>(PrivateTag{}, kind, fd, std::move(queue));
    if (kind != Kind::timer) {
        if (fd < 0) {
            DISPATCH_ASSERTION_FAILURE("Invalid file descriptor " + std::to_string(fd) + " for a " +
                                       kindName(kind) + " source");
            // An inert source: it never fires, but can be resumed and cancelled.
            return source;
        }
        auto& loop = EventLoop::shared();
        std::lock_guard lock(loop.mutex());
        loop.attach(*source);
    }
    return source;
}

std::shared_ptr<Source> Source::createRead(int fd, std::shared_ptr<Queue> queue) {
    return make(Kind::read, fd, std::move(queue));
}

std::shared_ptr<Source> Source::createWrite(int fd, std::shared_ptr<Queue> queue) {
    return make(Kind::write, fd, std::move(queue));
}

std::shared_ptr<Source> Source::createTimer(std::shared_ptr<Queue> queue) {
    return make(Kind::timer, -1, std::move(queue));
}

void Source::setEventHandler(Work handler) {
    auto fresh = handler ? std::make_shared<const Work>(std::move(handler)) : nullptr;
    Deferred deferred;
    std::lock_guard lock(EventLoop::shared().mutex());
    if (state_->cancelSubmitted) {
        deferred.releases.push_back(std::move(fresh));  // too late to run
        return;
    }
    deferred.releases.push_back(std::move(state_->handler));
    state_->handler = std::move(fresh);
}

void Source::setCancelHandler(Work handler) {
    auto fresh = handler ? std::make_shared<const Work>(std::move(handler)) : nullptr;
    Deferred deferred;
    std::lock_guard lock(EventLoop::shared().mutex());
    if (state_->cancelSubmitted) {
        deferred.releases.push_back(std::move(fresh));
        return;
    }
    deferred.releases.push_back(std::move(state_->cancelHandler));
    state_->cancelHandler = std::move(fresh);
}

void Source::resume() {
    auto& loop = EventLoop::shared();
    Deferred deferred;
    std::unique_lock lock(loop.mutex());
    auto& st = *state_;
    if (st.suspendCount == 0) {
        lock.unlock();
        DISPATCH_ASSERTION_FAILURE(std::string("Over-resume of a ") + kindName(kind_) +
                                   " source: it is not suspended");
        return;
    }
    if (--st.suspendCount > 0) return;
    if (st.cancelled) {
        submitCancelIfDueLocked(deferred);
    } else if (st.latched && !st.scheduled) {
        st.scheduled = true;
        deferred.submissions.emplace_back(queue_, delivery(shared_from_this()));
    } else if (st.registration) {
        loop.updateInterest(*st.registration, deferred);
    }
}

void Source::suspend() {
    auto& loop = EventLoop::shared();
    Deferred deferred;
    std::lock_guard lock(loop.mutex());
    auto& st = *state_;
    ++st.suspendCount;
    if (st.suspendCount == 1 && st.registration) loop.updateInterest(*st.registration, deferred);
}

void Source::cancel() {
    auto& loop = EventLoop::shared();
    Deferred deferred;
    std::lock_guard lock(loop.mutex());
    auto& st = *state_;
    if (st.cancelled) return;
    st.cancelled = true;
    st.latched = false;
    if (kind_ == Kind::timer) {
        loop.disarmTimer(*this);
    } else {
        loop.detach(*this, deferred);
    }
    submitCancelIfDueLocked(deferred);
}

bool Source::isCancelled() const {
    std::lock_guard lock(EventLoop::shared().mutex());
    return state_->cancelled;
}

std::size_t Source::data() const {
    std::lock_guard lock(EventLoop::shared().mutex());
    return state_->data;
}

void Source::scheduleAfter(std::chrono::nanoseconds delay) {
    scheduleAt(deadlineAfter(delay));
}

void Source::scheduleAt(Clock::time_point deadline) {
    if (kind_ != Kind::timer) {
        DISPATCH_ASSERTION_FAILURE(std::string("scheduleAt on a ") + kindName(kind_) +
                                   " source: only timers have a deadline");
        return;
    }
    auto& loop = EventLoop::shared();
    std::lock_guard lock(loop.mutex());
    auto& st = *state_;
    if (st.cancelled) return;
    // A fire not yet handed to the handler belongs to the old deadline.
    st.latched = false;
    st.latchedData = 0;
    loop.armTimer(*this, deadline);
}

void Source::submitCancelIfDueLocked(Deferred& deferred) {
    auto& st = *state_;
    if (!st.cancelled || st.suspendCount > 0 || st.running || st.cancelSubmitted) return;
    st.cancelSubmitted = true;
    deferred.releases.push_back(std::move(st.handler));
    auto handler = std::move(st.cancelHandler);
    if (handler) {
        deferred.submissions.emplace_back(queue_, [handler] { runHandler(*handler, "cancel"); });
    }
}

Work Source::delivery(std::shared_ptr<Source> self) {
    return [self = std::move(self)] {
        auto& loop = EventLoop::shared();
        auto& st = *self->state_;
        std::shared_ptr<const Work> handler;
        {
            Deferred deferred;
            std::lock_guard lock(loop.mutex());
            if (st.cancelled || st.suspendCount > 0 || !st.latched) {
                st.scheduled = false;
                if (st.cancelled) {
                    self->submitCancelIfDueLocked(deferred);
                } else if (st.registration && st.suspendCount == 0) {
                    loop.updateInterest(*st.registration, deferred);
                }
                return;
            }
            st.latched = false;
            st.data = st.latchedData;
            st.latchedData = 0;
            st.running = true;
            handler = st.handler;
        }
        if (handler && *handler) runHandler(*handler, kindName(self->kind_));
        Deferred deferred;
        std::lock_guard lock(loop.mutex());
        st.running = false;
        st.scheduled = false;
        if (st.cancelled) {
            self->submitCancelIfDueLocked(deferred);
        } else if (st.latched && st.suspendCount == 0) {
            st.scheduled = true;  // fired again while the handler ran
            deferred.submissions.emplace_back(self->queue_, delivery(self));
        } else if (st.registration && st.suspendCount == 0) {
            loop.updateInterest(*st.registration, deferred);
        }
        deferred.releases.push_back(std::move(handler));
    };
}

}  // namespace dispatch
