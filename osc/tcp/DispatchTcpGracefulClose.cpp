#include "osc/tcp/DispatchTcpGracefulClose.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>

#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"

namespace rozuri::tcp_detail {

namespace {

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

const std::shared_ptr<dispatch::Queue>& lingerQueue() {
    static const auto* queue =
        new std::shared_ptr<dispatch::Queue>(dispatch::Queue::createSerial("rozuri.tcp.linger"));
    return *queue;
}

// Owns the descriptor until the peer ends or the linger runs out; its sources hold it alive.
struct Lingering {
    int fd = -1;
    std::shared_ptr<dispatch::Source> input;
    std::shared_ptr<dispatch::Source> timer;

    // On the linger queue.
    void finish() {
        if (fd == -1) return;
        // Both handlers hold this object: dropping the sources ends it once this block returns.
        input->cancel();
        timer->cancel();
        ::close(fd);
        fd = -1;
        lingerQueue()->async([input = std::move(input), timer = std::move(timer)] {});
    }
};

}  // namespace

void closeAfterPeerEnds(int fd, std::chrono::milliseconds linger) {
    if (fd < 0) return;
    ::shutdown(fd, SHUT_WR);
    if (discardInput(fd)) {
        ::close(fd);
        return;
    }
    auto state = std::make_shared<Lingering>();
    state->fd = fd;
    state->input = dispatch::Source::createRead(fd, lingerQueue());
    state->timer = dispatch::Source::createTimer(lingerQueue());
    state->input->setEventHandler([state] {
        if (state->fd != -1 && discardInput(state->fd)) state->finish();
    });
    state->timer->setEventHandler([state] { state->finish(); });
    state->timer->scheduleAfter(linger);
    state->timer->resume();
    state->input->resume();
}

}  // namespace rozuri::tcp_detail
