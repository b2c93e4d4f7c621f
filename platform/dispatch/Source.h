#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "platform/dispatch/Queue.h"

namespace dispatch {

struct Deferred;

// Readiness of a file descriptor, or a one-shot timer, delivered to a handler on a queue.
// Sources are created suspended; resume() starts delivery. Readiness is level-triggered: the
// handler is called again while the condition holds. Handlers of one source never overlap.
class Source : public std::enable_shared_from_this<Source> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

  public:
    enum class Kind { read, write, timer };

    Source(PrivateTag, Kind kind, int fd, std::shared_ptr<Queue> queue);

    static std::shared_ptr<Source> createRead(int fd, std::shared_ptr<Queue> queue);
    static std::shared_ptr<Source> createWrite(int fd, std::shared_ptr<Queue> queue);
    static std::shared_ptr<Source> createTimer(std::shared_ptr<Queue> queue);

    ~Source();
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    Kind kind() const { return kind_; }
    int fd() const { return fd_; }
    const std::shared_ptr<Queue>& queue() const { return queue_; }

    void setEventHandler(Work handler);
    // Runs once, on the source's queue, after cancel() and after any running event handler,
    // once the source is not suspended (or when a cancelled source is released while suspended).
    void setCancelHandler(Work handler);

    // Counted. Resuming a source that is not suspended is misuse.
    void resume();
    void suspend();

    // Stops monitoring before it returns: the owner may close the descriptor at once. No event
    // handler starts after cancel() returns.
    void cancel();
    bool isCancelled() const;

    // Read: bytes readable when the event was seen. Write: an estimate of free buffer space
    // (at least 1). Timer: how many times it fired since the last handler call.
    std::size_t data() const;

    // Timer only: one-shot, re-armable; re-arming replaces a pending deadline.
    void scheduleAfter(std::chrono::nanoseconds delay);
    void scheduleAt(Clock::time_point deadline);

    struct State;

  private:
    static std::shared_ptr<Source> make(Kind kind, int fd, std::shared_ptr<Queue> queue);
    // The work queued to hand a latched event to the handler.
    static Work delivery(std::shared_ptr<Source> self);
    void submitCancelIfDueLocked(Deferred& deferred);

    Kind kind_;
    int fd_;
    std::shared_ptr<Queue> queue_;
    std::unique_ptr<State> state_;

    friend class EventLoop;
};

}  // namespace dispatch
