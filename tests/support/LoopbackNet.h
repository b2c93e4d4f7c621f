#pragma once

// Loopback networking helpers shared by the network tests and benchmarks: socket-address
// builders, a plain UDP socket to send from or to occupy a port, a free port and whether a port
// is free, the bytes waiting in a port's receive queue, and a bounded wait on a condition.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace mstest {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

inline constexpr auto kWait = 5s;

// A whole socket address (sockaddr_in or sockaddr_in6) as bytes.
inline Bytes socketAddress(int family, std::uint16_t port, bool loopback = true) {
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
        return Bytes(p, p + sizeof a);
    }
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = loopback ? in6addr_loopback : in6addr_any;
    const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

inline Bytes loopbackAddress(int family, std::uint16_t port) {
    return socketAddress(family, port, true);
}

// The IPv4 address `text` (e.g. "224.0.0.1") with `port`.
inline Bytes address4(const char* text, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, text, &a.sin_addr);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

// The IPv6 address `text` (e.g. "::1") with `port`.
inline Bytes address6(const char* text, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    ::inet_pton(AF_INET6, text, &a.sin6_addr);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
    return Bytes(p, p + sizeof a);
}

// A plain UDP socket (IPv4 or IPv6; IPv6 only) for sending to, or occupying, a port.
class PlainSocket {
  public:
    explicit PlainSocket(int family) : family_(family) {
        fd_ = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ >= 0 && family == AF_INET6) {
            int one = 1;
            ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        }
    }
    ~PlainSocket() {
        if (fd_ >= 0) ::close(fd_);
    }
    PlainSocket(const PlainSocket&) = delete;
    PlainSocket& operator=(const PlainSocket&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // Binds to loopback; port 0 picks one.
    bool bindLoopback(std::uint16_t port = 0) { return bindTo(loopbackAddress(family_, port)); }
    // Binds to every address of the family.
    bool bindAny(std::uint16_t port) { return bindTo(socketAddress(family_, port, false)); }
    bool bindTo(const Bytes& a) {
        return ::bind(fd_, reinterpret_cast<const sockaddr*>(a.data()),
                      static_cast<socklen_t>(a.size())) == 0;
    }
    std::uint16_t port() const {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
        if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
        return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    }
    bool sendTo(std::uint16_t port, const Bytes& bytes) const {
        const auto a = loopbackAddress(family_, port);
        return ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(a.data()),
                        static_cast<socklen_t>(a.size())) == static_cast<ssize_t>(bytes.size());
    }
    bool sendTo(std::uint16_t port, const std::string& text) const {
        return sendTo(port, Bytes(text.begin(), text.end()));
    }
    // One datagram, waiting at most `timeout`; empty when none came.
    Bytes receive(std::chrono::milliseconds timeout = kWait) const {
        timeval tv{static_cast<time_t>(timeout.count() / 1000),
                   static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        Bytes buffer(65536);
        const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), 0);
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return buffer;
    }

    Bytes loopback(std::uint16_t port) const { return loopbackAddress(family_, port); }

  private:
    int family_;
    int fd_ = -1;
};

// IPv6 loopback usable on this host.
inline bool hasIPv6Loopback() {
    PlainSocket s(AF_INET6);
    return s.valid() && s.bindLoopback(0);
}

// A UDP port free on loopback a moment ago (for peers that must be told a port up front).
inline std::uint16_t freeUdpPort(int family = AF_INET) {
    PlainSocket s(family);
    return s.bindLoopback(0) ? s.port() : 0;
}

// Whether no socket holds UDP `port` on any address of the family (as a bind to every address,
// what a listening peer does, would find it).
inline bool udpPortIsFree(std::uint16_t port, int family = AF_INET) {
    PlainSocket s(family);
    return s.valid() && s.bindAny(port);
}

// Bytes waiting in the receive queues of the UDP sockets bound to `port` (IPv4 and IPv6), as the
// kernel's tables show them: 0 once a receiver has taken all that was sent to it.
inline std::size_t udpReceiveQueue(std::uint16_t port) {
    std::size_t total = 0;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line);  // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues;
            fields >> slot >> local >> remote >> state >> queues;
            const auto colon = local.rfind(':');
            const auto split = queues.find(':');
            if (colon == std::string::npos || split == std::string::npos) continue;
            if (std::stoul(local.substr(colon + 1), nullptr, 16) != port) continue;
            total += std::stoul(queues.substr(split + 1), nullptr, 16);
        }
    }
    return total;
}

// Waits, bounded, for `predicate` under `mutex`.
template <class Pred>
bool waitFor(std::mutex& mutex, std::condition_variable& cv, Pred predicate,
             std::chrono::milliseconds timeout = kWait) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, timeout, predicate);
}

}  // namespace mstest
