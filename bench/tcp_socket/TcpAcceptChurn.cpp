// A busy server: a DispatchTcpSocket listener with the usual limit of 1,024 descriptors accepts
// 3,000 connections and closes each at once, while their peers (another process) never close.
// Meanwhile another thread of the server opens and closes a file every 5 ms, as the rest of a
// process does. Reported: the time to accept all, the opens that failed, the most descriptors
// held, descriptors and RSS before and after, and how long the descriptors take to come back.

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "osc/tcp/DispatchTcpGracefulClose.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "tests/support/ProcessUsage.h"

namespace {

using rozuri::DispatchTcpSocket;
using Socket = std::shared_ptr<DispatchTcpSocket>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kConnections = 3000;
constexpr rlim_t kServerLimit = 1024;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Closer : rozuri::DispatchTcpSocketDelegate {
    Closer() : DispatchTcpSocketDelegate(didAcceptNewSocket) {}
    void socketDidAcceptNewSocket(const Socket&, const Socket& s) override {
        s->disconnect();
        std::lock_guard lock(mutex);
        if (++accepted == 1) first = Clock::now();
        if (accepted == kConnections) last = Clock::now();
        cv.notify_all();
    }
    std::mutex mutex;
    std::condition_variable cv;
    int accepted = 0;
    Clock::time_point first;
    Clock::time_point last;
};

int server() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min(kServerLimit, limit.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    auto closer = std::make_shared<Closer>();
    auto listener = DispatchTcpSocket::create(closer, dispatch::Queue::createSerial("churn"));
    if (!listener->acceptOnInterface("127.0.0.1", 0)) return 1;
    const int fdsBefore = mstest::openDescriptorCount();
    const long rssBefore = mstest::residentKiB();
    std::atomic<bool> stop{false};
    std::atomic<int> opens{0};
    std::atomic<int> failedOpens{0};
    std::atomic<int> mostHeld{0};
    std::atomic<std::size_t> mostLingering{0};
    std::thread elsewhere([&] {
        while (!stop.load()) {
            const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            ++opens;
            if (fd < 0) {
                ++failedOpens;
            } else {
                ::close(fd);
            }
            const int held = mstest::openDescriptorCount();
            if (held > mostHeld.load()) mostHeld = held;
            const std::size_t lingering = rozuri::tcp_detail::lingeringCount();
            if (lingering > mostLingering.load()) mostLingering = lingering;
            std::this_thread::sleep_for(5ms);
        }
    });
    std::printf("%u\n", listener->localPort());
    std::fflush(stdout);
    {
        std::unique_lock lock(closer->mutex);
        closer->cv.wait_for(lock, 120s, [&] { return closer->accepted == kConnections; });
    }
    const auto allAccepted = Clock::now();
    // The descriptors come back (the peers stay: only the server's own waits end).
    while (mstest::openDescriptorCount() > fdsBefore + 1 && since(allAccepted) < 30) {
        std::this_thread::sleep_for(10ms);
    }
    const double backAfter = since(allAccepted);
    stop = true;
    elsewhere.join();
    std::lock_guard lock(closer->mutex);
    std::fprintf(stderr, "accepted and closed   %d of %d in %.2f s (descriptor limit %lu)\n",
                 closer->accepted, kConnections,
                 std::chrono::duration<double>(closer->last - closer->first).count(),
                 static_cast<unsigned long>(limit.rlim_cur));
    std::fprintf(stderr, "open() elsewhere      %d of %d failed\n", failedOpens.load(),
                 opens.load());
    std::fprintf(stderr,
                 "descriptors           %d before, at most %d, %d after (back %.2f s after the "
                 "last accept)\n",
                 fdsBefore, mostHeld.load(), mstest::openDescriptorCount(), backAfter);
    std::fprintf(stderr, "waiting for peers     at most %zu (bound %zu)\n", mostLingering.load(),
                 rozuri::tcp_detail::lingerBound());
    std::fprintf(stderr, "RSS                   %ld KiB before, %ld KiB after\n", rssBefore,
                 mstest::residentKiB());
    listener->disconnect();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--server") == 0) return server();
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, kConnections + 256);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string command =
        (n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string(argv[0])) +
        " --server";
    FILE* child = ::popen(command.c_str(), "r");
    unsigned port = 0;
    if (!child || std::fscanf(child, "%u", &port) != 1 || port == 0) {
        std::fprintf(stderr, "the server did not start\n");
        return 1;
    }
    std::vector<int> peers;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < kConnections; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::fprintf(stderr, "peer %d could not connect: %s\n", i, std::strerror(errno));
            if (fd >= 0) ::close(fd);
            break;
        }
        peers.push_back(fd);
    }
    const int status = ::pclose(child);
    for (int fd : peers) ::close(fd);
    return status == 0 ? 0 : 1;
}
