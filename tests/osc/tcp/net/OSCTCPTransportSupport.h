#pragma once

// Recorders for the OSC TCP client and server tests, with bounded waits on conditions.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "osc/core/OSCMessage.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/udp/OSCHandlerProtocol.h"

namespace osctcptest {

using namespace std::chrono_literals;
inline constexpr auto kWait = 10s;

// A thread-safe log of one kind of callback.
template <class T>
class Log {
  public:
    void add(T item) {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(item));
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return items_.size() >= count; });
    }
    std::vector<T> items() {
        std::lock_guard lock(mutex_);
        return items_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<T> items_;
};

struct Received {
    rozuri::OSCMessage message;
    std::uint64_t tag;
    std::string host;
    std::uint16_t port;
};

struct Inbox : Log<Received> {
    rozuri::OSCReceiveHandler handler() {
        return [this](const rozuri::OSCMessage& m, const rozuri::OSCTimeTag& t,
                      const std::string& host, std::uint16_t port) {
            add({m, t.rawValue(), host, port});
        };
    }
};

// Nagle off: each write leaves as its own segment.
inline bool noDelay(int fd) {
    int one = 1;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) == 0;
}

inline std::uint16_t localPortOf(int fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

}  // namespace osctcptest
