#pragma once

// Loopback helpers shared by the TCP socket tests: a recording delegate, plain blocking peers to
// script the other end, and bounded waits on conditions.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketDelegate.h"
#include "osc/udp/SocketAddress.h"
#include "platform/dispatch/Queue.h"
#include "tests/support/ProcessUsage.h"

namespace tcptest {

using mstest::openDescriptorCount;

using rozuri::Data;
using rozuri::DispatchTcpSocket;
using Socket = std::shared_ptr<DispatchTcpSocket>;
using namespace std::chrono_literals;

inline constexpr auto kWait = 10s;

inline Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}
inline std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

// Records every callback; all of them are implemented unless a mask says otherwise.
class Recorder : public rozuri::DispatchTcpSocketDelegate {
  public:
    explicit Recorder(std::uint32_t mask = 0x3fff) : DispatchTcpSocketDelegate(mask) {}

    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Data&, const Socket&) override {
        return acceptQueue;
    }
    void socketDidAcceptNewSocket(const Socket&, const Socket& accepted) override {
        record([&] { this->accepted.push_back(accepted); });
    }
    void socketDidConnectToHost(const Socket&, const std::string& h, std::uint16_t p) override {
        record([&] {
            ++connects;
            host = h;
            port = p;
        });
    }
    void socketDidConnectToUrl(const Socket&, const foundation::URL& u) override {
        record([&] {
            ++connects;
            url = u;
        });
    }
    void socketDidReadData(const Socket& s, Data data, std::int64_t tag) override {
        record([&] { reads.push_back({tag, std::move(data)}); });
        if (onRead) onRead(s, tag);
    }
    void socketDidReadPartialDataOfLength(const Socket&, std::uint64_t n, std::int64_t) override {
        record([&] { partialReads.push_back(n); });
    }
    double socketShouldTimeoutReadWithTag(const Socket&, std::int64_t tag, double elapsed,
                                          std::uint64_t) override {
        record([&] { readTimeouts.push_back(elapsed); });
        return readTimeoutAnswer ? readTimeoutAnswer(tag, elapsed) : 0;
    }
    void socketDidWriteDataWithTag(const Socket&, std::int64_t tag) override {
        record([&] { writes.push_back(tag); });
    }
    void socketDidWritePartialDataOfLength(const Socket&, std::uint64_t n, std::int64_t) override {
        record([&] { partialWrites.push_back(n); });
    }
    double socketShouldTimeoutWriteWithTag(const Socket&, std::int64_t, double elapsed,
                                           std::uint64_t) override {
        record([&] { writeTimeouts.push_back(elapsed); });
        return 0;
    }
    void socketDidCloseReadStream(const Socket&) override {
        record([&] { ++readStreamCloses; });
    }
    void socketDidDisconnect(const Socket& s,
                             const std::optional<foundation::Error>& error) override {
        record([&] {
            disconnects.push_back(error);
            disconnectHadSocket.push_back(s != nullptr);
        });
    }

    template <class Pred>
    bool waitUntil(Pred predicate, std::chrono::milliseconds timeout = kWait) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, predicate);
    }
    template <class F>
    auto locked(F f) {
        std::lock_guard lock(mutex);
        return f();
    }
    bool waitForDisconnect() {
        return waitUntil([&] { return !disconnects.empty(); });
    }
    // The code of the first disconnect's error; 0 for none, -1 when it has not come.
    std::int64_t disconnectCode() {
        return locked([&]() -> std::int64_t {
            if (disconnects.empty()) return -1;
            return disconnects[0] ? disconnects[0]->code : 0;
        });
    }

    std::mutex mutex;
    std::condition_variable cv;
    std::shared_ptr<dispatch::Queue> acceptQueue;
    std::function<void(const Socket&, std::int64_t)> onRead;
    std::function<double(std::int64_t, double)> readTimeoutAnswer;
    std::vector<Socket> accepted;
    int connects = 0;
    std::string host;
    std::uint16_t port = 0;
    std::optional<foundation::URL> url;
    std::vector<std::pair<std::int64_t, Data>> reads;
    std::vector<std::uint64_t> partialReads;
    std::vector<double> readTimeouts;
    std::vector<std::int64_t> writes;
    std::vector<std::uint64_t> partialWrites;
    std::vector<double> writeTimeouts;
    int readStreamCloses = 0;
    std::vector<std::optional<foundation::Error>> disconnects;
    std::vector<bool> disconnectHadSocket;

  private:
    template <class F>
    void record(F f) {
        std::lock_guard lock(mutex);
        f();
        cv.notify_all();
    }
};

// A plain blocking TCP socket for scripting the other end.
class Plain {
  public:
    explicit Plain(int fd = -1) : fd_(fd) {}
    ~Plain() { reset(); }
    Plain(Plain&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Plain& operator=(Plain&& o) noexcept {
        reset();
        fd_ = o.fd_;
        o.fd_ = -1;
        return *this;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    bool valid() const { return fd_ >= 0; }

    static Plain listener(int family, int backlog = 16) {
        Plain p(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (family == AF_INET6) {
            int one = 1;
            ::setsockopt(p.fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        }
        auto a = loopback(family, 0);
        if (::bind(p.fd_, reinterpret_cast<const sockaddr*>(a.data()),
                   static_cast<socklen_t>(a.size())) != 0 ||
            ::listen(p.fd_, backlog) != 0) {
            p.reset();
        }
        return p;
    }
    static Plain connectTo(int family, std::uint16_t port) {
        Plain p(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        auto a = loopback(family, port);
        if (::connect(p.fd_, reinterpret_cast<const sockaddr*>(a.data()),
                      static_cast<socklen_t>(a.size())) != 0) {
            p.reset();
        }
        return p;
    }
    Plain accept(std::chrono::milliseconds timeout = kWait) const {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(timeout.count())) != 1) return Plain();
        return Plain(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    }
    std::uint16_t port() const {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
        if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
        return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    }
    bool send(const Data& data) const {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool send(const std::string& s) const { return send(bytes(s)); }
    // Reads until `count` bytes or end of input or the time-out; what arrived.
    Data receive(std::size_t count, std::chrono::milliseconds timeout = kWait) const {
        Data out;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::vector<std::uint8_t> chunk(65536);
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd pfd{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) != 1) break;
            const ssize_t n =
                ::recv(fd_, chunk.data(), std::min(chunk.size(), count - out.size()), 0);
            if (n <= 0) break;
            out.insert(out.end(), chunk.begin(), chunk.begin() + n);
        }
        return out;
    }
    // True once the peer's end of input is read (after any bytes before it).
    bool readsEOF(std::chrono::milliseconds timeout = kWait) const {
        receive(SIZE_MAX, timeout);
        pollfd pfd{fd_, POLLIN, 0};
        std::uint8_t b;
        return ::poll(&pfd, 1, 0) == 1 && ::recv(fd_, &b, 1, MSG_DONTWAIT) == 0;
    }
    // Closes with a reset instead of an orderly end.
    void abort() {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        reset();
    }

    static Data loopback(int family, std::uint16_t port) {
        if (family == AF_INET) {
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            return rozuri::net::bytesOf(&a, sizeof a);
        }
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_loopback;
        return rozuri::net::bytesOf(&a, sizeof a);
    }

  private:
    int fd_;
};

inline bool hasIPv6Loopback() {
    return Plain::listener(AF_INET6).valid();
}

// A socket connected by `socket` to a plain listener, and the plain end it reached.
struct Pair {
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<dispatch::Queue> delegateQueue = dispatch::Queue::createSerial("test.delegate");
    Socket socket = DispatchTcpSocket::create(recorder, delegateQueue);
    Plain listener = Plain::listener(AF_INET);
    Plain peer;

    bool connect() {
        if (!socket->connectToHost("127.0.0.1", listener.port())) return false;
        peer = listener.accept();
        return peer.valid() && recorder->waitUntil([&] { return recorder->connects == 1; });
    }
};

}  // namespace tcptest
