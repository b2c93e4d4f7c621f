#pragma once

// Plain loopback TCP ends for the framing interop tests: a connection that writes framed bytes,
// and a listener whose accepted connection is read through the stream de-framer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/OSCTCPStreamDeframer.h"

namespace framingtest {

using rozuri::Data;
using namespace std::chrono_literals;
inline constexpr auto kWait = 5s;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

inline sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// Connects to 127.0.0.1:port with Nagle off, so that each write leaves as its own segment.
inline Fd connectTo(std::uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = loopback(port);
    int one = 1;
    if (!fd.valid() || ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0 ||
        ::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return Fd();
    return fd;
}

// Writes all bytes, `step` bytes per write.
inline bool writeAll(const Fd& fd, const Data& bytes, std::size_t step) {
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t n = std::min(step, bytes.size() - at);
        ssize_t w = ::send(fd.get(), bytes.data() + at, n, MSG_NOSIGNAL);
        if (w <= 0) return false;
        at += static_cast<std::size_t>(w);
    }
    return true;
}

class Listener {
  public:
    Listener() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        if (fd_.valid() && ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(fd_.get(), 4) == 0 &&
            ::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    std::uint16_t port() const { return port_; }

    // Accepts one connection and de-frames what it sends until `count` frames have come, the
    // peer closes, or the wait runs out. `raw` collects the bytes as they came.
    std::vector<Data> receive(rozuri::OSCTCPFramingMode mode, std::size_t count,
                              Data* raw = nullptr) {
        std::vector<Data> frames;
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, int(std::chrono::milliseconds(kWait).count())) != 1) return frames;
        Fd conn(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        rozuri::OSCTCPStreamDeframer deframer(mode);
        auto deadline = std::chrono::steady_clock::now() + kWait;
        std::uint8_t buffer[4096];
        while (frames.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd c{conn.get(), POLLIN, 0};
            if (::poll(&c, 1, 100) != 1) continue;
            ssize_t n = ::recv(conn.get(), buffer, sizeof buffer, 0);
            if (n <= 0) break;
            if (raw) raw->insert(raw->end(), buffer, buffer + n);
            deframer.feed(rozuri::DataView(buffer, std::size_t(n)), frames);
        }
        return frames;
    }

  private:
    Fd fd_;
    std::uint16_t port_ = 0;
};

}  // namespace framingtest
