#include "osc/tcp/DispatchTcpGracefulClose.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "osc/udp/SocketAddress.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace rozuri::tcp_detail {

namespace {

// How often a lingering connection looks at what it still has on its way.
constexpr std::chrono::milliseconds kDrainCheck{200};

// Reads and drops what is readable, at most 1 MiB a call so that a peer that keeps sending
// cannot hold the thread; true once the descriptor is done with (end of input or an error),
// false while the peer may still send.
bool discardInput(int fd) {
    std::uint8_t scrap[16384];
    for (int i = 0; i < 64; ++i) {
        const ssize_t n = ::recv(fd, scrap, sizeof scrap, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n == 0) return true;
        return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
    }
    return false;
}

// Bytes of ours the peer has not acknowledged yet (our end of stream counts as one); 0 when
// the system cannot say.
int unacknowledged(int fd) {
    int n = 0;
    if (::ioctl(fd, SIOCOUTQ, &n) != 0) return 0;
    return std::max(n, 0);
}

const std::shared_ptr<dispatch::Queue>& lingerQueue() {
    static const auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("rozuri.tcp.linger"));
    return *queue;
}

// Taken when a close decides to linger, given back when the descriptor is closed: the bound
// is checked on the closing thread, before the linger queue hears of it.
std::atomic<std::size_t> lingering{0};

using Clock = std::chrono::steady_clock;

// Owns the descriptor until the peer ends or the wait runs out. Lives in the registry; its
// sources' handlers, which run on the linger queue, reach it through a plain pointer.
struct Lingering {
    int fd = -1;
    std::chrono::milliseconds linger{};
    std::chrono::milliseconds stallLimit{};
    std::shared_ptr<dispatch::Source> input;
    std::shared_ptr<dispatch::Source> timer;
    int lastOutstanding = 0;
    Clock::time_point lastProgress;
    std::optional<Clock::time_point> drainedSince;

    void start();
    void check();
    void finish();
};

// On the linger queue only.
std::unordered_map<Lingering*, std::shared_ptr<Lingering>>& registry() {
    static auto* map = new std::unordered_map<Lingering*, std::shared_ptr<Lingering>>();
    return *map;
}

void Lingering::start() {
    input = dispatch::Source::createRead(fd, lingerQueue());
    timer = dispatch::Source::createTimer(lingerQueue());
    input->setEventHandler([this] {
        if (fd != -1 && discardInput(fd)) finish();
    });
    timer->setEventHandler([this] { check(); });
    lastOutstanding = unacknowledged(fd);
    lastProgress = Clock::now();
    input->resume();
    timer->resume();
    check();
}

void Lingering::check() {
    if (fd == -1) return;
    const auto now = Clock::now();
    const int outstanding = unacknowledged(fd);
    if (outstanding == 0) {
        // Everything of ours has arrived: the peer has a short while to end before a reset
        // would cost it nothing but the end of its own input.
        if (!drainedSince) drainedSince = now;
        if (now - *drainedSince >= linger) {
            finish();
            return;
        }
        timer->scheduleAt(*drainedSince + linger);
        return;
    }
    if (outstanding < lastOutstanding) lastProgress = now;
    lastOutstanding = outstanding;
    if (now - lastProgress >= stallLimit) {
        finish();
        return;
    }
    timer->scheduleAfter(std::min<std::chrono::nanoseconds>(kDrainCheck, stallLimit));
}

void Lingering::finish() {
    if (fd == -1) return;
    input->cancel();
    timer->cancel();
    ::close(fd);
    fd = -1;
    lingering.fetch_sub(1, std::memory_order_relaxed);
    // A handler of this object may be running: it goes in a later block.
    auto node = registry().extract(this);
    std::shared_ptr<Lingering> held = node ? std::move(node.mapped()) : nullptr;
    lingerQueue()->async([held = std::move(held)] {});
}

// Takes a place among the lingering, or false when the bound is reached.
bool reserveLinger() {
    const std::size_t bound = lingerBound();
    std::size_t now = lingering.load(std::memory_order_relaxed);
    do {
        if (now >= bound) return false;
    } while (!lingering.compare_exchange_weak(now, now + 1, std::memory_order_relaxed));
    return true;
}

}  // namespace

std::size_t lingerBound() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kMostLingering;
    }
    return std::min<std::size_t>(limit.rlim_cur / 4, kMostLingering);
}

std::size_t lingeringCount() {
    return lingering.load(std::memory_order_relaxed);
}

std::size_t closeLingeringNow() {
    if (lingeringCount() == 0) return 0;
    std::size_t closed = 0;
    // After every start queued so far.
    lingerQueue()->sync([&] {
        std::vector<Lingering*> all;
        all.reserve(registry().size());
        for (const auto& entry : registry()) all.push_back(entry.first);
        for (auto* state : all) state->finish();
        closed = all.size();
    });
    return closed;
}

bool outOfDescriptors(int err) {
    return err == EMFILE || err == ENFILE;
}

int createStreamSocket(int family, foundation::Error* error) {
    foundation::Error failure;
    int fd = net::createSocket(family, SOCK_STREAM, &failure);
    if (fd == -1 && failure.domain == foundation::Error::kPOSIXDomain &&
        outOfDescriptors(static_cast<int>(failure.code)) && closeLingeringNow() > 0) {
        fd = net::createSocket(family, SOCK_STREAM, &failure);
    }
    if (fd == -1) foundation::setError(error, std::move(failure));
    return fd;
}

void closeAfterPeerEnds(int fd, std::chrono::milliseconds linger,
                        std::chrono::milliseconds stallLimit) {
    if (fd < 0) return;
    ::shutdown(fd, SHUT_WR);
    // A peer that has ended needs no wait; past the bound the descriptors matter more.
    if (discardInput(fd) || !reserveLinger()) {
        ::close(fd);
        return;
    }
    auto state = std::make_shared<Lingering>();
    state->fd = fd;
    state->linger = linger;
    state->stallLimit = stallLimit;
    lingerQueue()->async([state = std::move(state)]() mutable {
        auto* raw = state.get();
        registry().emplace(raw, std::move(state));
        raw->start();
    });
}

}  // namespace rozuri::tcp_detail
