#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "TcpTestSupport.h"
#include "osc/tcp/DispatchTcpSocketError.h"

extern char** environ;

namespace {

using namespace tcptest;
using Code = rozuri::DispatchTcpSocketError::Code;

struct Fixture : ::testing::Test {
    std::shared_ptr<dispatch::Queue> delegateQueue = dispatch::Queue::createSerial("test.delegate");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    Socket socket = DispatchTcpSocket::create(recorder, delegateQueue);
};

using DispatchTcpSocketAccept = Fixture;
using DispatchTcpSocketConnect = Fixture;
using DispatchTcpSocketUnix = Fixture;

// Which families an interface listens on, proved by plain clients of each family.
TEST_F(DispatchTcpSocketAccept, InterfacesListenOnTheirFamilies) {
    const bool six = hasIPv6Loopback();
    struct Case {
        std::optional<std::string> interface;
        bool ipv4, ipv6;
    };
    const Case cases[] = {
        {std::nullopt, true, six},
        {std::string("localhost"), true, six},
        {std::string("::1"), false, six},
        {std::string("[::1]"), false, six},
        {std::string("127.0.0.1"), true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interface.value_or("<none>"));
        if (!c.ipv4 && !c.ipv6) continue;
        auto r = std::make_shared<Recorder>();
        auto s = DispatchTcpSocket::create(r, delegateQueue);
        foundation::Error error;
        ASSERT_TRUE(s->acceptOnInterface(c.interface, 0, &error)) << error.localizedDescription();
        EXPECT_EQ(s->isIPv4(), c.ipv4);
        EXPECT_EQ(s->isIPv6(), c.ipv6);
        const auto port = s->localPort();
        if (c.ipv4 && c.ipv6) {
            EXPECT_EQ(s->localPort4(), s->localPort6());
        }
        std::size_t expected = 0;
        for (int family : {AF_INET, AF_INET6}) {
            if (family == AF_INET6 && !six) continue;
            auto client = Plain::connectTo(family, port);
            const bool listening = family == AF_INET ? c.ipv4 : c.ipv6;
            EXPECT_EQ(client.valid(), listening) << family;
            if (listening) {
                ++expected;
                ASSERT_TRUE(r->waitUntil([&] { return r->accepted.size() == expected; }));
                auto accepted = r->locked([&] { return r->accepted.back(); });
                EXPECT_TRUE(accepted->isConnected());
                EXPECT_EQ(accepted->localPort(), port);
            }
        }
        s->disconnect();
        EXPECT_FALSE(Plain::connectTo(AF_INET, port).valid());
    }
}

// The accept checks, in their order; each leaves the socket idle.
TEST_F(DispatchTcpSocketAccept, MisuseTexts) {
    struct Case {
        bool delegate, queue, ipv4, ipv6, busy;
        Code code;
        const char* text;
    };
    const Case cases[] = {
        {false, false, false, false, true, Code::badConfig,
         "Attempting to accept without a delegate. Set a delegate first."},
        {true, false, false, false, true, Code::badConfig,
         "Attempting to accept without a delegate queue. Set a delegate queue first."},
        {true, true, false, false, true, Code::badConfig,
         "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
        {true, true, true, true, true, Code::badConfig,
         "Attempting to accept while connected or accepting connections. Disconnect first."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto s = DispatchTcpSocket::create(c.delegate ? recorder : nullptr,
                                           c.queue ? delegateQueue : nullptr);
        if (c.busy && c.delegate && c.queue) {
            ASSERT_TRUE(s->acceptOnInterface("localhost", 0));
        }
        s->setIPv4Enabled(c.ipv4);
        s->setIPv6Enabled(c.ipv6);
        foundation::Error error;
        EXPECT_FALSE(s->acceptOnInterface("localhost", 0, &error));
        EXPECT_EQ(error.code, static_cast<int>(c.code));
        EXPECT_EQ(error.localizedDescription(), c.text);
    }
    foundation::Error error;
    EXPECT_FALSE(socket->acceptOnInterface("no-such-if0", 0, &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::badParam));
    EXPECT_FALSE(socket->acceptOnInterface(std::string("lo\0x", 4), 0, &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::badParam));
    EXPECT_TRUE(socket->isDisconnected());
}

TEST_F(DispatchTcpSocketConnect, RefusedAtOnce) {
    struct Case {
        std::function<bool(DispatchTcpSocket&, foundation::Error*)> start;
        Code code;
        const char* text;
    };
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    Data v4 = rozuri::net::makeAddress4(lo, 9);
    Data v6AsShort = Plain::loopback(AF_INET6, 9);
    v6AsShort.resize(16);
    const char* invalidAddress = "A valid IPv4 or IPv6 address was not given";
    const Case cases[] = {
        {[](auto& s, auto* e) { return s.connectToHost("", 1, e); }, Code::badParam,
         "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
        {[](auto& s, auto* e) { return s.connectToHost(std::string("a\0b", 3), 1, e); },
         Code::badParam,
         "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
        {[](auto& s, auto* e) { return s.connectToAddress(Data(), e); }, Code::badParam,
         invalidAddress},
        {[](auto& s, auto* e) { return s.connectToAddress(Data(10, 2), e); }, Code::badParam,
         invalidAddress},
        {[=](auto& s, auto* e) { return s.connectToAddress(v6AsShort, e); }, Code::badParam,
         invalidAddress},
        {[=](auto& s, auto* e) {
             s.setIPv4Enabled(false);
             return s.connectToAddress(v4, e);
         },
         Code::badParam, "IPv4 has been disabled and an IPv4 address was passed."},
        {[](auto& s, auto* e) { return s.connectToHost("localhost", 1, "no-such-if0", -1, e); },
         Code::badParam,
         "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
        {[](auto& s, auto* e) {
             s.acceptOnInterface("localhost", 0);
             s.setIPv4Enabled(false);
             s.setIPv6Enabled(false);
             return s.connectToHost("localhost", 1, e);
         },
         Code::badConfig,
         "Attempting to connect while connected or accepting connections. Disconnect first."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto s = DispatchTcpSocket::create(recorder, delegateQueue);
        foundation::Error error;
        EXPECT_FALSE(c.start(*s, &error));
        EXPECT_EQ(error.code, static_cast<int>(c.code));
        EXPECT_EQ(error.localizedDescription(), c.text);
    }
    delegateQueue->sync([] {});
    // Only the listening socket of the busy row was started (and closed when released).
    EXPECT_EQ(recorder->locked([&] { return recorder->disconnects.size(); }), 1u);
}

TEST_F(DispatchTcpSocketConnect, RefusedLaterAsOneDisconnect) {
    auto closed = Plain::listener(AF_INET);
    const auto port = closed.port();
    closed.reset();
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", port));
    ASSERT_TRUE(recorder->waitForDisconnect());
    const auto error = recorder->locked([&] { return recorder->disconnects[0]; });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, foundation::Error::kPOSIXDomain);
    EXPECT_EQ(error->code, ECONNREFUSED);
    EXPECT_EQ(error->localizedFailureReason(), "Error in connect() function");
    EXPECT_TRUE(socket->isDisconnected());
}

// "localhost" races both families; the one listening wins, whichever is tried first.
TEST_F(DispatchTcpSocketConnect, FamilyRace) {
    if (!hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 on this host";
    struct Case {
        int listening;
        bool preferIPv4;
        double delay;
        const char* host;
    };
    const Case cases[] = {
        {AF_INET, true, 0.3, "127.0.0.1"}, {AF_INET, false, 0.3, "127.0.0.1"},
        {AF_INET6, true, 0.3, "::1"},      {AF_INET, false, 0, "127.0.0.1"},
        {AF_INET6, true, NAN, "::1"},      {AF_INET, true, INFINITY, "127.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        auto r = std::make_shared<Recorder>();
        auto s = DispatchTcpSocket::create(r, delegateQueue);
        s->setIPv4PreferredOverIPv6(c.preferIPv4);
        s->setAlternateAddressDelay(c.delay);
        auto listener = Plain::listener(c.listening);
        ASSERT_TRUE(s->connectToHost("localhost", listener.port(), 5.0));
        ASSERT_TRUE(r->waitUntil([&] { return r->connects == 1; }));
        EXPECT_EQ(r->locked([&] { return r->host; }), c.host);
        EXPECT_EQ(s->isIPv6(), c.listening == AF_INET6);
        EXPECT_EQ(s->isIPv4(), c.listening == AF_INET);
        EXPECT_EQ(s->connectedAddress()->size(), c.listening == AF_INET6 ? 28u : 16u);
        s->disconnect();
        ASSERT_TRUE(r->waitForDisconnect());
        EXPECT_EQ(r->disconnectCode(), 0);
        EXPECT_EQ(r->locked([&] { return r->connects; }), 1);
    }
}

// A listener whose backlog is full: SYNs are dropped and connects hang.
struct FullBacklog {
    Plain listener = Plain::listener(AF_INET, 0);
    std::vector<Plain> fillers;
    FullBacklog() {
        for (int i = 0; i < 64; ++i) {
            Plain p(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            auto a = Plain::loopback(AF_INET, listener.port());
            ::connect(p.fd(), reinterpret_cast<const sockaddr*>(a.data()), sizeof(sockaddr_in));
            pollfd pfd{p.fd(), POLLOUT, 0};
            const bool completed = ::poll(&pfd, 1, 100) == 1;
            fillers.push_back(std::move(p));
            if (!completed) return;
        }
    }
};

// Connects never hold a thread or a descriptor: time-outs and disconnects free them, and late
// results of old attempts touch nothing newer.
TEST_F(DispatchTcpSocketConnect, TimeoutsAndDisconnectsOfHangingConnectsFreeEverything) {
    FullBacklog full;
    auto live = Plain::listener(AF_INET);
    const int descriptors = openDescriptorCount();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        auto r = std::make_shared<Recorder>();
        socket->synchronouslySetDelegate(r);
        const bool waitForTimeout = round % 20 == 0;
        ASSERT_TRUE(
            socket->connectToHost("127.0.0.1", full.listener.port(), waitForTimeout ? 0.05 : -1));
        if (waitForTimeout) {
            ASSERT_TRUE(r->waitForDisconnect());
            EXPECT_EQ(r->disconnectCode(), static_cast<int>(Code::connectTimeout));
        } else {
            socket->disconnect();
        }
        ASSERT_TRUE(socket->connectToHost("127.0.0.1", live.port(), 5.0));
        auto peer = live.accept();
        ASSERT_TRUE(peer.valid());
        ASSERT_TRUE(r->waitUntil([&] { return r->connects == 1; }));
        socket->disconnect();
        ASSERT_TRUE(
            r->waitUntil([&] { return r->disconnects.size() == (waitForTimeout ? 2 : 2); }));
    }
    // A closed connection lets go of its descriptor once the peer's end arrives.
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (openDescriptorCount() > descriptors + 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    EXPECT_LE(openDescriptorCount(), descriptors + 2);
}

TEST_F(DispatchTcpSocketConnect, AdoptionOfADescriptor) {
    int unconnected = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    foundation::Error error;
    EXPECT_FALSE(DispatchTcpSocket::socketFromConnectedSocketFD(unconnected, recorder,
                                                                delegateQueue, nullptr, &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::other));
    EXPECT_TRUE(error.localizedDescription().ends_with("getpeername() failed"));
    EXPECT_EQ(::fcntl(unconnected, F_GETFD), FD_CLOEXEC) << "still open, still the caller's";
    ::close(unconnected);

    auto listener = Plain::listener(AF_INET);
    auto client = Plain::connectTo(AF_INET, listener.port());
    auto server = listener.accept();
    auto adopted = DispatchTcpSocket::socketFromConnectedSocketFD(client.fd(), recorder,
                                                                  delegateQueue, nullptr, &error);
    ASSERT_TRUE(adopted);
    client.release();  // the socket owns it now
    ASSERT_TRUE(recorder->waitUntil([&] { return recorder->connects == 1; }));
    EXPECT_EQ(recorder->locked([&] { return recorder->port; }), listener.port());
    EXPECT_EQ(adopted->socketFD(), -1) << "only on the socket queue";
    adopted->performBlock([&] { EXPECT_NE(adopted->socketFD(), -1); });
    adopted->readDataWithTimeout(-1, 1);
    ASSERT_TRUE(server.send("hi"));
    ASSERT_TRUE(recorder->waitUntil([&] { return recorder->reads.size() == 1; }));
    adopted.reset();
    ASSERT_TRUE(recorder->waitForDisconnect());
    EXPECT_FALSE(recorder->locked([&] { return recorder->disconnectHadSocket[0]; }));
    EXPECT_TRUE(server.readsEOF());
}

// Writing to a peer gone: no SIGPIPE (the default action would end the process).
TEST_F(DispatchTcpSocketConnect, WritingToAClosedPeerIsAnErrorNotASignal) {
    std::signal(SIGPIPE, SIG_DFL);
    Pair pair;
    ASSERT_TRUE(pair.connect());
    pair.peer.abort();
    for (int i = 0;
         i < 50 && !pair.recorder->locked([&] { return !pair.recorder->disconnects.empty(); });
         ++i) {
        pair.socket->writeData(Data(65536, 'x'), -1, i);
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(pair.recorder->waitForDisconnect());
    const auto error = pair.recorder->locked([&] { return pair.recorder->disconnects[0]; });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, foundation::Error::kPOSIXDomain);
}

// ---- Unix-domain sockets ----

struct TempDir {
    std::string path;
    TempDir() {
        char templ[] = "/tmp/mstcpXXXXXX";
        path = ::mkdtemp(templ);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

TEST_F(DispatchTcpSocketUnix, ListeningPaths) {
    TempDir dir;
    const std::string document = dir.path + "/document";
    std::ofstream(document) << "keep me";
    foundation::Error error;
    // A user's file is never removed.
    EXPECT_FALSE(socket->acceptOnUrl(foundation::URL::fileURL(document), &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::other));
    EXPECT_EQ(error.localizedDescription(),
              "Could not remove previous unix domain socket at given url.");
    std::string content;
    std::getline(std::ifstream(document), content);
    EXPECT_EQ(content, "keep me");
    // A path longer than the address holds is refused, and nothing is made.
    const std::string tooLong = dir.path + "/" + std::string(108 - dir.path.size() - 1, 'a');
    ASSERT_EQ(tooLong.size(), 108u);
    EXPECT_FALSE(socket->acceptOnUrl(foundation::URL::fileURL(tooLong), &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::badParam));
    struct stat st {};
    EXPECT_NE(::lstat(tooLong.c_str(), &st), 0);
    EXPECT_NE(::lstat(tooLong.substr(0, 107).c_str(), &st), 0);
    EXPECT_FALSE(socket->connectToUrl(foundation::URL::fileURL(tooLong), -1, &error));
    EXPECT_EQ(error.code, static_cast<int>(Code::badParam));
    // 107 bytes fit; a stale socket file there is replaced.
    const auto url = foundation::URL::fileURL(tooLong.substr(0, 107));
    ASSERT_TRUE(socket->acceptOnUrl(url, &error)) << error.localizedDescription();
    socket->disconnect();
    ASSERT_EQ(::lstat(url.path().c_str(), &st), 0) << "a closed listener leaves its file";
    ASSERT_TRUE(socket->acceptOnUrl(url, &error)) << error.localizedDescription();

    auto r = std::make_shared<Recorder>();
    auto client = DispatchTcpSocket::create(r, delegateQueue);
    ASSERT_TRUE(client->connectToUrl(url, 5, &error));
    ASSERT_TRUE(r->waitUntil([&] { return r->connects == 1; }));
    EXPECT_EQ(r->locked([&] { return r->url; }), url);
    ASSERT_TRUE(recorder->waitUntil([&] { return recorder->accepted.size() == 1; }));
    auto accepted = recorder->locked([&] { return recorder->accepted[0]; });
    EXPECT_FALSE(accepted->connectedUrl()) << "an unnamed peer has no URL";
    EXPECT_EQ(accepted->socketFD(), -1);
}

// A failed connect must not remove a path this socket once listened on: another socket may
// own it by then.
TEST_F(DispatchTcpSocketUnix, AFailedConnectLeavesOtherSocketsFilesAlone) {
    TempDir dir;
    const auto url = foundation::URL::fileURL(dir.path + "/shared");
    ASSERT_TRUE(socket->acceptOnUrl(url));
    socket->disconnect();
    auto r = std::make_shared<Recorder>();
    auto other = DispatchTcpSocket::create(r, delegateQueue);
    ASSERT_TRUE(other->acceptOnUrl(url));
    ASSERT_TRUE(socket->connectToUrl(foundation::URL::fileURL(dir.path + "/nobody"), -1));
    ASSERT_TRUE(recorder->waitUntil([&] { return recorder->disconnects.size() == 2; }));
    EXPECT_EQ(recorder->locked([&] { return recorder->disconnects[1]->localizedFailureReason(); }),
              "Error in connect() function");
    auto client = DispatchTcpSocket::create(recorder, delegateQueue);
    ASSERT_TRUE(client->connectToUrl(url, 5));
    ASSERT_TRUE(r->waitUntil([&] { return r->accepted.size() == 1; }));
}

// A Unix listener with a full backlog makes a connect wait, as a blocking connect would: it
// connects once there is room, or ends with the connect time-out.
TEST_F(DispatchTcpSocketUnix, FullBacklogWaitsForRoomOrTheTimeout) {
    for (bool roomLater : {true, false}) {
        SCOPED_TRACE(roomLater ? "room later" : "time-out");
        TempDir dir;
        const auto url = foundation::URL::fileURL(dir.path + "/full");
        const auto address = *DispatchTcpSocket::getInterfaceAddressFromUrl(url);
        Plain listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_EQ(::bind(listener.fd(), reinterpret_cast<const sockaddr*>(address.data()),
                         static_cast<socklen_t>(address.size())),
                  0);
        ASSERT_EQ(::listen(listener.fd(), 0), 0);
        std::vector<Plain> fillers;
        for (int i = 0; i < 16; ++i) {
            Plain p(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            const bool queued =
                ::connect(p.fd(), reinterpret_cast<const sockaddr*>(address.data()),
                          static_cast<socklen_t>(address.size())) == 0;
            fillers.push_back(std::move(p));
            if (!queued) break;
        }
        auto r = std::make_shared<Recorder>();
        auto client = DispatchTcpSocket::create(r, delegateQueue);
        ASSERT_TRUE(client->connectToUrl(url, roomLater ? -1 : 0.3));
        if (!roomLater) {
            ASSERT_TRUE(r->waitForDisconnect());
            EXPECT_EQ(r->disconnectCode(), static_cast<int>(Code::connectTimeout));
            continue;
        }
        EXPECT_FALSE(r->waitUntil([&] { return !r->disconnects.empty(); }, 100ms));
        std::vector<Plain> taken;
        while (r->locked([&] { return r->connects == 0 && r->disconnects.empty(); })) {
            Plain next = listener.accept(50ms);
            if (next.valid()) taken.push_back(std::move(next));
            ASSERT_LT(taken.size(), 64u);
        }
        EXPECT_EQ(r->locked([&] { return r->connects; }), 1);
        EXPECT_TRUE(r->locked([&] { return r->disconnects.empty(); }));
    }
}

// Connecting again from the same fixed local port right after our own disconnect.
TEST_F(DispatchTcpSocketConnect, AFixedLocalPortCanBeUsedAgainAtOnce) {
    const std::uint16_t local = [] {
        Plain probe = Plain::listener(AF_INET);
        return probe.port();
    }();
    const std::string via = "127.0.0.1:" + std::to_string(local);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        auto r = std::make_shared<Recorder>();
        auto s = DispatchTcpSocket::create(r, delegateQueue);
        Plain listener = Plain::listener(AF_INET);
        foundation::Error error;
        ASSERT_TRUE(s->connectToHost("127.0.0.1", listener.port(), via, 5, &error))
            << error.localizedDescription();
        Plain peer = listener.accept();
        ASSERT_TRUE(r->waitUntil([&] { return r->connects == 1 || !r->disconnects.empty(); }));
        ASSERT_EQ(r->locked([&] { return r->connects; }), 1)
            << r->locked([&] { return r->disconnects[0]->localizedDescription(); });
        EXPECT_EQ(s->localPort(), local);
        s->disconnect();
    }
}

// ---- Running out of descriptors while accepting ----

// Runs in a child process with a low descriptor limit; the parent makes the connections.
TEST(DispatchTcpSocketStorm, AcceptPausesWhenDescriptorsRunOut) {
#ifdef __SANITIZE_ADDRESS__
    // UBSan's type checks open descriptors themselves, and fail once the limit is reached.
    GTEST_SKIP() << "needs descriptors the sanitizer runtime would take";
#endif
    const char* portFile = std::getenv("MS_TCP_STORM_PORT_FILE");
    if (portFile) GTEST_SKIP() << "child side runs in StormChild";
    const std::string file = "/tmp/mstcp-storm-" + std::to_string(::getpid());
    const std::string env = "MS_TCP_STORM_PORT_FILE=" + file;
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=DispatchTcpSocketStormChild.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    std::string envCopy = env;
    envp.push_back(envCopy.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    std::uint16_t port = 0;
    for (int i = 0; i < 500 && port == 0; ++i) {
        std::ifstream(file) >> port;
        if (port == 0) std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(port, 0);
    std::vector<Plain> clients;
    for (int i = 0; i < 40; ++i) clients.push_back(Plain::connectTo(AF_INET, port));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::unlink(file.c_str());
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(DispatchTcpSocketStormChild, Run) {
    const char* portFile = std::getenv("MS_TCP_STORM_PORT_FILE");
    if (!portFile) GTEST_SKIP() << "run by DispatchTcpSocketStorm";
    auto queue = dispatch::Queue::createSerial("storm.delegate");
    auto r = std::make_shared<Recorder>();
    auto listener = DispatchTcpSocket::create(r, queue);
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(openDescriptorCount() + 13);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    std::ofstream(portFile) << listener->localPort() << std::endl;
    ASSERT_TRUE(r->waitUntil([&] { return r->accepted.size() >= 5; }));
    // The limit is reached with connections still pending: a spinning source would burn a core.
    std::this_thread::sleep_for(300ms);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(1s);
    ::getrusage(RUSAGE_SELF, &after);
    auto seconds = [](const rusage& u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    EXPECT_LT(seconds(after) - seconds(before), 0.5);
    // Freed descriptors let the rest in.
    r->locked([&] { r->accepted.clear(); });
    ASSERT_TRUE(r->waitUntil([&] { return r->accepted.size() >= 5; }));
}

}  // namespace
