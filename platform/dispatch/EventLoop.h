#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace dispatch {

// now + delay, saturated: a delay past the clock's range means "never", a huge negative one
// the clock's epoch (long due), instead of wrapping around.
template <class Rep, class Period>
Clock::time_point deadlineAfter(std::chrono::duration<Rep, Period> delay) {
    using Seconds = std::chrono::duration<double>;
    const auto now = Clock::now();
    const Seconds wanted(delay);
    if (wanted >= Seconds(Clock::time_point::max() - now)) return Clock::time_point::max();
    if (wanted <= -Seconds(now.time_since_epoch())) return Clock::time_point{};
    return now + std::chrono::duration_cast<Clock::duration>(delay);
}

// Work collected under the event loop's lock and carried out after it is released, so that
// handler captures are destroyed and queues are entered without holding it.
struct Deferred {
    std::vector<std::pair<std::shared_ptr<Queue>, Work>> submissions;
    std::vector<std::shared_ptr<const Work>> releases;

    Deferred() = default;
    Deferred(const Deferred&) = delete;
    Deferred& operator=(const Deferred&) = delete;
    ~Deferred() { run(); }
    void run();
};

// One epoll registration per descriptor, shared by all its sources; events find it by token.
struct Registration {
    std::uint64_t token = 0;
    int fd = -1;
    std::vector<Source*> sources;
    std::uint32_t mask = 0;  // armed events; one-shot, so an event leaves none armed
    bool inEpoll = false;
    bool alwaysReady = false;  // epoll refuses the descriptor (a regular file): always ready
};

struct TimedWork {
    std::shared_ptr<Queue> queue;
    Work work;
};

using TimerEntry = std::variant<TimedWork, Source*>;
using TimerMap = std::multimap<Clock::time_point, TimerEntry>;

// Everything guarded by EventLoop::mutex().
struct Source::State {
    unsigned suspendCount = 1;
    bool cancelled = false;
    bool latched = false;    // an event was seen and not yet handed to the handler
    bool scheduled = false;  // a delivery is queued or running
    bool running = false;    // the event handler runs
    bool cancelSubmitted = false;
    std::shared_ptr<const Work> handler;
    std::shared_ptr<const Work> cancelHandler;
    std::size_t latchedData = 0;
    std::size_t data = 0;
    // descriptor sources
    Registration* registration = nullptr;
    bool datagram = false;
    bool listening = false;
    // timers
    bool timerArmed = false;
    TimerMap::iterator timerEntry;
};

// The background event threads: epoll for descriptors, one timerfd for every deadline.
class EventLoop {
  public:
    static EventLoop& shared();

    std::mutex& mutex() { return mutex_; }

    void addTimedWork(Clock::time_point deadline, std::shared_ptr<Queue> queue, Work work);

    // The rest requires mutex().
    void attach(Source& source);
    void detach(Source& source, Deferred& deferred);
    void updateInterest(Registration& registration, Deferred& deferred);
    void armTimer(Source& source, Clock::time_point deadline);
    void disarmTimer(Source& source);

    // Latches an event on a source and queues its delivery when it may run.
    static void latch(Source& source, std::size_t data, Deferred& deferred);
    static bool wantsEvents(const Source& source);

    EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

  private:
    void run();
    void fireTimers(Deferred& deferred);
    void handleEvent(std::uint64_t token, std::uint32_t events, Deferred& deferred);
    void rearmTimerfd();
    void removeRegistration(Registration& registration);

    std::mutex mutex_;
    std::atomic<int> polling_{0};  // pollers in epoll_wait
    int epoll_ = -1;
    int timerfd_ = -1;
    std::uint64_t nextToken_ = 1;
    TimerMap timers_;
    std::unordered_map<std::uint64_t, std::unique_ptr<Registration>> byToken_;
    std::unordered_map<int, Registration*> byFd_;
};

}  // namespace dispatch
