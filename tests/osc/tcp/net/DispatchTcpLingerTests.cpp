// Closed connections that wait for their peers: what they hold, and what they keep from loss.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TcpTestSupport.h"
#include "osc/tcp/DispatchTcpGracefulClose.h"
#include "tests/support/Poll.h"

extern char** environ;

namespace {

using namespace tcptest;
using namespace std::chrono_literals;
using rozuri::tcp_detail::closeAfterPeerEnds;
using rozuri::tcp_detail::lingerBound;
using rozuri::tcp_detail::lingeringCount;

constexpr int kConnections = 800;
constexpr const char* kPortFileVariable = "MS_TCP_LINGER_PORT_FILE";

// Opens `count` descriptors at once and closes them again; how many opens failed.
int failedOpens(int count) {
    std::vector<int> fds;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            ++failed;
        } else {
            fds.push_back(fd);
        }
    }
    for (int fd : fds) ::close(fd);
    return failed;
}

// Closes every connection as soon as it is accepted, then runs `afterClose`.
class Closer : public rozuri::DispatchTcpSocketDelegate {
  public:
    explicit Closer(std::function<void()> afterClose)
        : DispatchTcpSocketDelegate(didAcceptNewSocket), afterClose_(std::move(afterClose)) {}
    void socketDidAcceptNewSocket(const Socket&, const Socket& accepted) override {
        accepted->disconnect();
        afterClose_();
        std::lock_guard lock(mutex_);
        ++closed_;
        cv_.notify_all();
    }
    bool waitForClosed(int count, std::chrono::milliseconds timeout = kWait) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return closed_ >= count; });
    }
    int closed() {
        std::lock_guard lock(mutex_);
        return closed_;
    }

  private:
    std::function<void()> afterClose_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int closed_ = 0;
};

// A server that closes every connection it accepts, whose peers never close and arrive in one
// burst, runs in a child with a low descriptor limit (DispatchTcpLingerChild); this side holds
// the peers open. Neither the closes waiting for their peers nor the connections waiting to be
// handed over may take the descriptors the rest of the process needs.
TEST(DispatchTcpLinger, ABusyServerLeavesDescriptorsForTheRestOfTheProcess) {
    if (std::getenv(kPortFileVariable)) GTEST_SKIP() << "child side runs in DispatchTcpLingerChild";
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max < static_cast<rlim_t>(kConnections + 200)) {
        GTEST_SKIP() << "descriptor limit too low for the peers";
    }
    if (limit.rlim_cur < static_cast<rlim_t>(kConnections + 200)) {
        limit.rlim_cur = static_cast<rlim_t>(kConnections + 200);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    }
    const std::string file = "/tmp/mstcp-linger-" + std::to_string(::getpid());
    std::string variable = std::string(kPortFileVariable) + "=" + file;
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=DispatchTcpLingerChild.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    std::uint16_t port = 0;
    for (int i = 0; i < 1000 && port == 0; ++i) {
        std::ifstream(file) >> port;
        if (port == 0) std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(port, 0);
    std::vector<Plain> peers;
    for (int i = 0; i < kConnections; ++i) {
        peers.push_back(Plain::connectTo(AF_INET, port));
        ASSERT_TRUE(peers.back().valid()) << i;
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::unlink(file.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DispatchTcpLingerChild, Run) {
    const char* portFile = std::getenv(kPortFileVariable);
    if (!portFile) GTEST_SKIP() << "run by DispatchTcpLinger";
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const int base = openDescriptorCount();
    limit.rlim_cur = static_cast<rlim_t>(base + 512);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    const std::size_t bound = lingerBound();
    EXPECT_EQ(bound, std::min<std::size_t>(limit.rlim_cur / 4, rozuri::tcp_detail::kMostLingering));
    const int probe = static_cast<int>(limit.rlim_cur / 8);

    auto queue = dispatch::Queue::createSerial("linger.delegate");
    std::atomic<int> failures{0};
    std::atomic<std::size_t> mostLingering{0};
    auto closer = std::make_shared<Closer>([&] {
        // Whatever the closes hold, the rest of the process can still open what it needs.
        failures += failedOpens(probe);
        const std::size_t now = lingeringCount();
        std::size_t most = mostLingering.load();
        while (now > most && !mostLingering.compare_exchange_weak(most, now)) {
        }
    });
    auto listener = DispatchTcpSocket::create(closer, queue);
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    std::ofstream(portFile) << listener->localPort() << std::endl;
    ASSERT_TRUE(closer->waitForClosed(kConnections, 60s))
        << closer->closed() << " of " << kConnections << " accepted";
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(mostLingering.load(), bound);
    EXPECT_GT(mostLingering.load(), 0u);

    // Out of descriptors, an accept takes back those still lingering.
    std::vector<Plain> ownPeers;
    for (int i = 0; i < 8; ++i)
        ownPeers.push_back(Plain::connectTo(AF_INET, listener->localPort()));
    ASSERT_TRUE(closer->waitForClosed(kConnections + 8));
    std::vector<int> fillers;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) fillers.push_back(fd);
    ASSERT_FALSE(fillers.empty());
    ::close(fillers.back());
    fillers.pop_back();
    const std::size_t lingeringBefore = lingeringCount();
    ownPeers.push_back(Plain::connectTo(AF_INET, listener->localPort()));
    ASSERT_TRUE(ownPeers.back().valid());
    const bool acceptedAgain = closer->waitForClosed(kConnections + 9);
    for (int fd : fillers) ::close(fd);
    if (lingeringBefore != 0) {
        EXPECT_TRUE(acceptedAgain) << lingeringBefore << " were lingering";
    }
    listener->disconnect();
    ownPeers.clear();
    // Every descriptor comes back once the peers are gone or the wait for them ends.
    EXPECT_TRUE(mstest::pollUntil([&] { return lingeringCount() == 0; }, 10s)) << lingeringCount();
}

// How a closed connection's wait for its peer ends, with short limits.
TEST(DispatchTcpLinger, TheWaitEndsWithThePeerOrItsLimits) {
    struct Case {
        const char* name;
        bool peerEndedFirst;  // the peer's end is there before the close
        std::size_t unread;   // bytes of ours the peer never reads (0: it reads all)
        bool peerEndsLater;   // the peer ends once it has our end
        bool lingers;
    };
    const Case cases[] = {
        {"peer already ended", true, 0, false, false},
        {"peer ends after ours", false, 0, true, true},
        {"everything arrived, peer stays", false, 0, false, true},
        {"peer stops reading", false, 8 << 20, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(mstest::pollUntil([] { return lingeringCount() == 0; }, 15s));
        Plain listener = Plain::listener(AF_INET);
        Plain peer = Plain::connectTo(AF_INET, listener.port());
        Plain ours = listener.accept();
        ASSERT_TRUE(ours.valid());
        ASSERT_TRUE(peer.send("unread input"));
        if (c.unread > 0) {
            // Sent without waiting: the rest stays in our send buffer.
            const Data chunk(c.unread, 'x');
            (void)::send(ours.fd(), chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        }
        if (c.peerEndedFirst) {
            ::shutdown(peer.fd(), SHUT_WR);
            ASSERT_TRUE(mstest::pollUntil(
                [&] {
                    pollfd pfd{ours.fd(), POLLIN | POLLRDHUP, 0};
                    return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLRDHUP);
                },
                kWait));
        }
        closeAfterPeerEnds(ours.release(), 300ms, 300ms);
        EXPECT_EQ(lingeringCount(), c.lingers ? 1u : 0u);
        if (c.unread == 0) {
            EXPECT_TRUE(peer.readsEOF());
        }
        if (c.peerEndsLater) peer.reset();
        EXPECT_TRUE(mstest::pollUntil([] { return lingeringCount() == 0; }, 5s));
    }
}

// The peer takes its time and keeps sending meanwhile: our bytes still on their way hold the
// close open for as long as they drain, and the peer gets every byte reported written, then an
// orderly end.
TEST(DispatchTcpLinger, ASlowPeerThatKeepsSendingGetsEveryByteWritten) {
    Pair pair;
    // A small window keeps most of what is written in our own send buffer.
    const int window = 64 << 10;
    ASSERT_EQ(::setsockopt(pair.listener.fd(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
    ASSERT_TRUE(pair.connect());
    const std::size_t total = 6 << 20;
    pair.socket->writeData(Data(total, 'w'), -1, 1);
    std::atomic<bool> pausing{false};
    std::atomic<bool> done{false};
    std::thread chatter([&] {
        while (!done.load()) {
            pair.peer.send("ping");
            std::this_thread::sleep_for(20ms);
        }
    });
    std::size_t received = 0;
    std::vector<std::uint8_t> buffer(1 << 16);
    bool reset = false;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (;;) {
        if (!pausing.load() &&
            pair.recorder->locked([&] { return !pair.recorder->writes.empty(); })) {
            // Written as far as the socket can tell: close after it, then read nothing for
            // longer than a closed connection used to wait.
            pair.socket->disconnectAfterWriting();
            pausing = true;
            std::this_thread::sleep_for(2500ms);
        }
        pollfd pfd{pair.peer.fd(), POLLIN, 0};
        if (::poll(&pfd, 1, 50) != 1) {
            if (std::chrono::steady_clock::now() > deadline) break;
            continue;
        }
        const ssize_t n = ::recv(pair.peer.fd(), buffer.data(), buffer.size(), 0);
        if (n < 0) reset = true;
        if (n <= 0) break;
        received += static_cast<std::size_t>(n);
        // Slowly until the pause, so that bytes are still on their way when it starts.
        if (!pausing.load()) std::this_thread::sleep_for(2ms);
    }
    done = true;
    chatter.join();
    EXPECT_FALSE(reset);
    EXPECT_EQ(received, total);
    pair.peer.reset();
    ASSERT_TRUE(pair.recorder->waitForDisconnect());
    EXPECT_EQ(pair.recorder->disconnectCode(), 0);
    EXPECT_TRUE(mstest::pollUntil([] { return lingeringCount() == 0; }, 15s));
}

}  // namespace
