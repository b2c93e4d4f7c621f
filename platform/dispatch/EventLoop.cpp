#include "platform/dispatch/EventLoop.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/dispatch/Immortal.h"
#include "platform/dispatch/WorkerPool.h"

namespace dispatch {

namespace {
constexpr std::uint64_t kTimerToken = 0;
constexpr std::uint32_t kReadEvents = EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR;
constexpr std::uint32_t kWriteEvents = EPOLLOUT | EPOLLHUP | EPOLLERR;
// Two threads wait for events, so that one can run handlers while the other keeps watching.
constexpr int kPollers = 2;
constexpr int kTasksPerWakeUp = 64;

[[noreturn]] void fatalSystem(const char* what) {
    std::fprintf(stderr, "Fatal error: dispatch: %s: %s\n", what, std::strerror(errno));
    std::abort();
}
}  // namespace

void Deferred::run() {
    auto submissions = std::move(this->submissions);
    auto releases = std::move(this->releases);
    this->submissions.clear();
    this->releases.clear();
    for (auto& [queue, work] : submissions) queue->async(std::move(work));
    releases.clear();
}

EventLoop& EventLoop::shared() {
    static Immortal<EventLoop> loop;
    return loop.get();
}

EventLoop::EventLoop() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) fatalSystem("epoll_create1");
    timerfd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timerfd_ < 0) fatalSystem("timerfd_create");
    epoll_event ev{};
    // Edge-triggered, as the descriptors are one-shot: a level-triggered entry would wake the
    // other poller too, for readiness this one is about to consume.
    ev.events = EPOLLIN | EPOLLET;
    ev.data.u64 = kTimerToken;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, timerfd_, &ev) != 0) fatalSystem("epoll_ctl");
    for (int i = 0; i < kPollers; ++i) std::thread([this] { run(); }).detach();
}

void EventLoop::run() {
    pthread_setname_np(pthread_self(), "dispatch-events");
    epoll_event events[64];
    for (;;) {
        polling_.fetch_add(1, std::memory_order_relaxed);
        int n = epoll_wait(epoll_, events, 64, -1);
        // Only one of the pollers can see another one still waiting.
        const bool othersPoll = polling_.fetch_sub(1, std::memory_order_relaxed) > 1;
        if (n < 0) {
            if (errno == EINTR) continue;
            fatalSystem("epoll_wait");
        }
        Deferred deferred;
        {
            std::lock_guard lock(mutex_);
            for (int i = 0; i < n; ++i) {
                if (events[i].data.u64 == kTimerToken) {
                    fireTimers(deferred);
                } else {
                    handleEvent(events[i].data.u64, events[i].events, deferred);
                }
            }
        }
        // While another thread watches the descriptors, this one runs the first delivery it
        // hands over itself: waking a sleeping worker costs more than most handlers.
        {
            WorkerPool::KeepNext keep(othersPoll);
            deferred.run();
        }
        for (int i = 0; othersPoll && i < kTasksPerWakeUp && WorkerPool::shared().runOne(); ++i) {
        }
    }
}

// ---- timers ----

void EventLoop::rearmTimerfd() {
    itimerspec when{};
    if (!timers_.empty()) {
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      timers_.begin()->first.time_since_epoch())
                      .count();
        if (ns < 1) ns = 1;  // a zero value would disarm
        // The kernel refuses times near the end of its range; waking after a century and
        // finding nothing due is harmless.
        constexpr std::int64_t kFarFuture = std::int64_t{1} << 62;
        if (ns > kFarFuture) ns = kFarFuture;
        when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    if (timerfd_settime(timerfd_, TFD_TIMER_ABSTIME, &when, nullptr) != 0) {
        fatalSystem("timerfd_settime");
    }
}

void EventLoop::addTimedWork(Clock::time_point deadline, std::shared_ptr<Queue> queue, Work work) {
    std::lock_guard lock(mutex_);
    auto it = timers_.emplace(deadline, TimedWork{std::move(queue), std::move(work)});
    if (it == timers_.begin()) rearmTimerfd();
}

void EventLoop::armTimer(Source& source, Clock::time_point deadline) {
    auto& st = *source.state_;
    if (st.timerArmed) disarmTimer(source);
    st.timerEntry = timers_.emplace(deadline, &source);
    st.timerArmed = true;
    if (st.timerEntry == timers_.begin()) rearmTimerfd();
}

void EventLoop::disarmTimer(Source& source) {
    auto& st = *source.state_;
    if (!st.timerArmed) return;
    // A stale timerfd wake-up after this is harmless: nothing will be due.
    timers_.erase(st.timerEntry);
    st.timerArmed = false;
}

void EventLoop::fireTimers(Deferred& deferred) {
    std::uint64_t expirations = 0;
    while (read(timerfd_, &expirations, sizeof expirations) < 0 && errno == EINTR) {
    }
    auto now = Clock::now();
    while (!timers_.empty() && timers_.begin()->first <= now) {
        auto node = timers_.extract(timers_.begin());
        if (auto* work = std::get_if<TimedWork>(&node.mapped())) {
            deferred.submissions.emplace_back(std::move(work->queue), std::move(work->work));
        } else {
            Source& source = *std::get<Source*>(node.mapped());
            source.state_->timerArmed = false;
            latch(source, source.state_->latchedData + 1, deferred);
        }
    }
    rearmTimerfd();
}

// ---- descriptors ----

bool EventLoop::wantsEvents(const Source& source) {
    const auto& st = *source.state_;
    return !st.cancelled && st.suspendCount == 0 && !st.latched && !st.scheduled;
}

void EventLoop::latch(Source& source, std::size_t data, Deferred& deferred) {
    auto& st = *source.state_;
    if (st.cancelled) return;
    st.latched = true;
    st.latchedData = data;
    if (st.suspendCount > 0 || st.scheduled) return;
    // Taken only to hand over: a reference dropped here, under the lock, could destroy the source.
    auto self = source.weak_from_this().lock();
    if (!self) return;  // being destroyed
    st.scheduled = true;
    deferred.submissions.emplace_back(source.queue_, Source::delivery(std::move(self)));
}

void EventLoop::attach(Source& source) {
    auto& st = *source.state_;
    int fd = source.fd_;
    int type = 0, listening = 0;
    socklen_t len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0) {
        st.datagram = type == SOCK_DGRAM;
        len = sizeof listening;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0) {
            st.listening = listening != 0;
        }
    }
    Registration* reg;
    auto found = byFd_.find(fd);
    if (found != byFd_.end()) {
        reg = found->second;
    } else {
        auto owned = std::make_unique<Registration>();
        owned->token = nextToken_++;
        owned->fd = fd;
        reg = owned.get();
        byToken_.emplace(reg->token, std::move(owned));
        byFd_.emplace(fd, reg);
    }
    reg->sources.push_back(&source);
    st.registration = reg;
}

void EventLoop::removeRegistration(Registration& reg) {
    if (reg.inEpoll) epoll_ctl(epoll_, EPOLL_CTL_DEL, reg.fd, nullptr);
    byFd_.erase(reg.fd);
    byToken_.erase(reg.token);  // destroys reg
}

void EventLoop::detach(Source& source, Deferred& deferred) {
    auto& st = *source.state_;
    Registration* reg = st.registration;
    if (!reg) return;
    st.registration = nullptr;
    std::erase(reg->sources, &source);
    if (reg->sources.empty()) {
        removeRegistration(*reg);
    } else {
        updateInterest(*reg, deferred);
    }
}

static std::size_t writableEstimate(int fd) {
    int sndbuf = 0, queued = 0;
    socklen_t len = sizeof sndbuf;
    if (getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sndbuf, &len) == 0 &&
        ioctl(fd, TIOCOUTQ, &queued) == 0 && sndbuf > queued) {
        return static_cast<std::size_t>(sndbuf - queued);
    }
    return 1;
}

static std::size_t readableEstimate(int fd, const Source::State& st) {
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) n = 0;
    if (n <= 0 && (st.listening || st.datagram)) {
        // A pending connection or an empty datagram: there is still something to take.
        return 1;
    }
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void EventLoop::updateInterest(Registration& reg, Deferred& deferred) {
    std::uint32_t mask = 0;
    for (Source* s : reg.sources) {
        if (!wantsEvents(*s)) continue;
        mask |= s->kind_ == Source::Kind::read ? EPOLLIN | EPOLLRDHUP : EPOLLOUT;
    }
    if (reg.alwaysReady) {
        for (Source* s : reg.sources) {
            if (wantsEvents(*s)) latch(*s, 1, deferred);
        }
        return;
    }
    // A zero mask with the descriptor still in epoll is a one-shot entry that has fired: it
    // stays silent until re-armed.
    if (mask == reg.mask && (mask == 0 || reg.inEpoll)) return;
    if (mask == 0) {
        epoll_ctl(epoll_, EPOLL_CTL_DEL, reg.fd, nullptr);
        reg.inEpoll = false;
        reg.mask = 0;
        return;
    }
    epoll_event ev{};
    ev.events = mask | EPOLLONESHOT;
    ev.data.u64 = reg.token;
    int op = reg.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    int rc = epoll_ctl(epoll_, op, reg.fd, &ev);
    if (rc != 0 && errno == ENOENT) rc = epoll_ctl(epoll_, EPOLL_CTL_ADD, reg.fd, &ev);
    if (rc != 0 && errno == EEXIST) rc = epoll_ctl(epoll_, EPOLL_CTL_MOD, reg.fd, &ev);
    if (rc == 0) {
        reg.inEpoll = true;
        reg.mask = mask;
        return;
    }
    if (errno == EPERM) {
        reg.alwaysReady = true;
        reg.inEpoll = false;
        reg.mask = 0;
        updateInterest(reg, deferred);
        return;
    }
    std::fprintf(stderr, "dispatch: cannot monitor descriptor %d: %s\n", reg.fd,
                 std::strerror(errno));
    reg.inEpoll = false;
    reg.mask = 0;
}

void EventLoop::handleEvent(std::uint64_t token, std::uint32_t events, Deferred& deferred) {
    auto found = byToken_.find(token);
    if (found == byToken_.end()) return;  // cancelled since epoll_wait returned
    Registration& reg = *found->second;
    reg.mask = 0;  // one-shot: the event disarmed it
    for (Source* s : reg.sources) {
        if (!wantsEvents(*s)) continue;
        if (s->kind_ == Source::Kind::read && (events & kReadEvents)) {
            latch(*s, readableEstimate(reg.fd, *s->state_), deferred);
        } else if (s->kind_ == Source::Kind::write && (events & kWriteEvents)) {
            latch(*s, writableEstimate(reg.fd), deferred);
        }
    }
    updateInterest(reg, deferred);
}

}  // namespace dispatch
