#pragma once

// Loopback helpers shared by the UDP tests: plain sockets to send from, a recording delegate,
// and bounded waits on conditions.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketDelegate.h"
#include "platform/dispatch/Queue.h"

namespace udptest {

using rozuri::Data;
using namespace std::chrono_literals;

inline constexpr auto kWait = 5s;

// A plain UDP socket (IPv4 or IPv6) for sending to, or occupying, a loopback port.
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
    bool bindLoopback(std::uint16_t port = 0) {
        auto a = loopback(port);
        return ::bind(fd_, reinterpret_cast<const sockaddr*>(a.data()),
                      static_cast<socklen_t>(a.size())) == 0;
    }
    // Binds to every address of the family.
    bool bindAny(std::uint16_t port) {
        sockaddr_storage ss{};
        socklen_t len = 0;
        if (family_ == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&ss);
            a->sin_family = AF_INET;
            a->sin_port = htons(port);
            a->sin_addr.s_addr = htonl(INADDR_ANY);
            len = sizeof(sockaddr_in);
        } else {
            auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(port);
            a->sin6_addr = in6addr_any;
            len = sizeof(sockaddr_in6);
        }
        return ::bind(fd_, reinterpret_cast<const sockaddr*>(&ss), len) == 0;
    }
    std::uint16_t port() const {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
        if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
        return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    }
    bool sendTo(std::uint16_t port, const Data& bytes) const {
        auto a = loopback(port);
        return ::sendto(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(a.data()),
                        static_cast<socklen_t>(a.size())) == static_cast<ssize_t>(bytes.size());
    }
    bool sendTo(std::uint16_t port, const std::string& text) const {
        return sendTo(port, Data(text.begin(), text.end()));
    }

    Data loopback(std::uint16_t port) const {
        if (family_ == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
            return Data(p, p + sizeof a);
        }
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_loopback;
        const auto* p = reinterpret_cast<const std::uint8_t*>(&a);
        return Data(p, p + sizeof a);
    }

  private:
    int family_;
    int fd_ = -1;
};

// IPv6 loopback usable on this host.
inline bool hasIPv6Loopback() {
    PlainSocket s(AF_INET6);
    return s.valid() && s.bindLoopback(0);
}

// Waits, bounded, for `predicate` under `mutex`.
template <class Pred>
bool waitFor(std::mutex& mutex, std::condition_variable& cv, Pred predicate,
             std::chrono::milliseconds timeout = kWait) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, timeout, predicate);
}

// Records every callback it is given.
class RecordingDelegate : public rozuri::DispatchUdpSocketDelegate {
  public:
    struct Datagram {
        Data data;
        Data address;
        std::any context;
    };

    RecordingDelegate() : DispatchUdpSocketDelegate(didReceiveData | didClose) {}

    void udpSocketDidReceiveData(const std::shared_ptr<rozuri::DispatchUdpSocket>&, Data data,
                                 const Data& address, const std::any& context) override {
        std::lock_guard lock(mutex);
        datagrams.push_back({std::move(data), address, context});
        cv.notify_all();
    }
    void udpSocketDidClose(const std::shared_ptr<rozuri::DispatchUdpSocket>& socket,
                           const std::optional<foundation::Error>& error) override {
        std::lock_guard lock(mutex);
        closes.push_back(error);
        closedWithSocket.push_back(socket != nullptr);
        cv.notify_all();
    }

    bool waitForDatagrams(std::size_t count, std::chrono::milliseconds timeout = kWait) {
        return waitFor(
            mutex, cv, [&] { return datagrams.size() >= count; }, timeout);
    }
    std::size_t datagramCount() {
        std::lock_guard lock(mutex);
        return datagrams.size();
    }
    std::size_t closeCount() {
        std::lock_guard lock(mutex);
        return closes.size();
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Datagram> datagrams;
    std::vector<std::optional<foundation::Error>> closes;
    std::vector<bool> closedWithSocket;
};

// Runs everything queued on `queue` so far (a serial queue) before returning.
inline void barrier(const std::shared_ptr<dispatch::Queue>& queue) {
    queue->sync([] {});
}

}  // namespace udptest
