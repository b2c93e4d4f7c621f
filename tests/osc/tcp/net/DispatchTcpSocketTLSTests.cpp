#include <gtest/gtest.h>

#include <openssl/ssl.h>

#include <random>

#include "TcpTestSupport.h"
#include "platform/foundation/Assert.h"
#include "platform/tls/Session.h"
#include "tests/support/TlsPki.h"

namespace {

using namespace tcptest;
using tlstest::Pki;

constexpr std::int64_t kOther = 8;
constexpr std::int64_t kClosed = 7;

const tls::Settings kClient{{tls::kCFStreamSSLPeerName, "localhost"}};

tls::Settings serverWith(const tls::Identity& identity, tls::Settings more = {}) {
    more.emplace(tls::kCFStreamSSLIsServer, true);
    return tlstest::serverWith(identity, std::move(more));
}

class TlsRecorder : public Recorder {
  public:
    explicit TlsRecorder(std::uint32_t mask = 0x3fff) : Recorder(mask) {}
    void socketDidSecure(const Socket&) override {
        locked([&] { ++secured; });
        cv.notify_all();
    }
    void socketDidReceiveTrust(const Socket&, const std::shared_ptr<const tls::Trust>& t,
                               std::function<void(bool)> handler) override {
        locked([&] { trust = t; });
        cv.notify_all();
        for (bool answer : answers) handler(answer);
    }
    // Secure (0), or the code of the disconnect.
    std::int64_t outcome() {
        waitUntil([&] { return secured > 0 || !disconnects.empty(); });
        return locked([&]() -> std::int64_t {
            if (!disconnects.empty()) return disconnects[0] ? disconnects[0]->code : 0;
            return secured > 0 ? 0 : -1;
        });
    }
    std::string disconnectText() {
        return locked([&] {
            return !disconnects.empty() && disconnects[0] ? disconnects[0]->localizedDescription()
                                                          : std::string();
        });
    }

    int secured = 0;
    std::shared_ptr<const tls::Trust> trust;
    std::vector<bool> answers;
};

// A connected client socket and the socket its listener accepted.
struct Sockets {
    std::shared_ptr<TlsRecorder> serverRec = std::make_shared<TlsRecorder>();
    std::shared_ptr<TlsRecorder> clientRec;
    std::shared_ptr<dispatch::Queue> serverQueue = dispatch::Queue::createSerial("test.tls.s");
    std::shared_ptr<dispatch::Queue> clientQueue = dispatch::Queue::createSerial("test.tls.c");
    Socket listener = DispatchTcpSocket::create(serverRec, serverQueue);
    Socket client, server;

    explicit Sockets(std::uint32_t clientMask = 0x3fff)
        : clientRec(std::make_shared<TlsRecorder>(clientMask)),
          client(DispatchTcpSocket::create(clientRec, clientQueue)) {}
    bool connect() {
        if (!listener->acceptOnInterface("127.0.0.1", 0)) return false;
        client->connectToHost("127.0.0.1", listener->localPort());
        if (!serverRec->waitUntil([&] { return !serverRec->accepted.empty(); })) return false;
        server = serverRec->locked([&] { return serverRec->accepted[0]; });
        return clientRec->waitUntil([&] { return clientRec->connects == 1; });
    }
};

// A blocking TLS end on a plain descriptor, to script the socket's peer. While `hold` is set
// its output is kept in `held` and reads would block.
struct RawTls {
    int fd;
    bool hold = false;
    Data held;
    std::shared_ptr<tls::Session> session;

    RawTls(int fd, const tls::Settings& settings) : fd(fd) {
        session = tls::Session::create(
            settings,
            [this](std::uint8_t* b, std::size_t n) {
                pollfd pfd{this->fd, POLLIN, 0};
                if (hold) return tls::IOResult::wouldBlock();
                if (::poll(&pfd, 1, 10000) != 1) return tls::IOResult::failed();
                const ssize_t r = ::recv(this->fd, b, n, 0);
                return r > 0    ? tls::IOResult::transferred(static_cast<std::size_t>(r))
                       : r == 0 ? tls::IOResult::endOfStream()
                                : tls::IOResult::failed();
            },
            [this](const std::uint8_t* b, std::size_t n) {
                if (hold) {
                    held.insert(held.end(), b, b + n);
                    return tls::IOResult::transferred(n);
                }
                const ssize_t r = ::send(this->fd, b, n, MSG_NOSIGNAL);
                return r > 0 ? tls::IOResult::transferred(static_cast<std::size_t>(r))
                             : tls::IOResult::failed();
            });
    }
    std::string read(std::size_t n) {
        std::string out(n, '\0');
        std::size_t got = 0;
        while (got < n) {
            auto r = session->read(reinterpret_cast<std::uint8_t*>(out.data()) + got, n - got);
            if (r.status != tls::status::ok) break;
            got += r.bytes;
        }
        return out.substr(0, got);
    }
};

Data pattern(std::size_t n, unsigned seed) {
    Data d(n);
    std::mt19937 gen(seed);
    for (auto& b : d) b = static_cast<std::uint8_t>(gen());
    return d;
}

TEST(DispatchTcpSocketTLS, HandshakeThenMebibyteEcho) {
    const auto& pki = Pki::shared();
    Sockets t;
    ASSERT_TRUE(t.connect());
    const Data payload = pattern(1 << 20, 1);
    t.serverRec->onRead = [&](const Socket& s, std::int64_t) {
        s->writeData(t.serverRec->locked([&] { return t.serverRec->reads[0].second; }), -1, 1);
    };
    t.server->startTLS(serverWith(pki.good));
    t.server->readDataToLength(payload.size(), -1, 1);
    t.client->startTLS(kClient);
    t.client->startTLS({{tls::kCFStreamSSLPeerName, "elsewhere"}});  // only the first counts
    ASSERT_EQ(t.clientRec->outcome(), 0);
    // A TLS 1.3 key update asked of the server: its reads must answer it without stalling.
    t.client->performBlock(
        [&] { ASSERT_EQ(SSL_key_update(t.client->sslContext(), SSL_KEY_UPDATE_REQUESTED), 1); });
    t.client->writeData(payload, -1, 2);
    t.client->readDataToLength(payload.size(), -1, 3);
    ASSERT_TRUE(t.clientRec->waitUntil([&] { return !t.clientRec->reads.empty(); }));
    EXPECT_TRUE(t.clientRec->locked([&] { return t.clientRec->reads[0].second == payload; }));
    EXPECT_TRUE(t.client->isSecure());
    EXPECT_EQ(t.client->sslContext(), nullptr);  // off the socket queue
}

TEST(DispatchTcpSocketTLS, WritesBeforeTheStartGoInClearLaterOnesSecured) {
    const auto& pki = Pki::shared();
    Pair p;
    ASSERT_TRUE(p.connect());
    p.socket->writeData(bytes("hello\n"), -1, 1);
    p.socket->startTLS(kClient);
    p.socket->writeData(bytes("secret"), -1, 2);
    EXPECT_EQ(text(p.peer.receive(6)), "hello\n");
    RawTls raw(p.peer.fd(), serverWith(pki.good));
    ASSERT_EQ(raw.session->handshake().status, 0);
    EXPECT_EQ(raw.read(6), "secret");
}

TEST(DispatchTcpSocketTLS, ServerCertificateVerdicts) {
    const auto& pki = Pki::shared();
    const struct {
        const char* name;
        tls::Identity Pki::*identity;
        bool peerName;
        std::int64_t outcome;
    } cases[] = {
        {"good", &Pki::good, true, 0},
        {"wrong host", &Pki::wrongHost, true, tls::status::hostNameMismatch},
        // Callers that connect by address to a certificate by name rely on this.
        {"wrong host, no peer name", &Pki::wrongHost, false, 0},
        {"expired", &Pki::expired, true, tls::status::certExpired},
        {"not yet valid", &Pki::notYetValid, true, tls::status::certNotYetValid},
        {"unknown issuer", &Pki::selfSigned, true, tls::status::xCertChainInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sockets t;
        ASSERT_TRUE(t.connect());
        t.server->startTLS(serverWith(pki.*c.identity));
        t.client->startTLS(c.peerName ? kClient : tls::Settings{});
        EXPECT_EQ(t.clientRec->outcome(), c.outcome);
    }
}

TEST(DispatchTcpSocketTLS, GarbageInsteadOfAHelloIsAProtocolErrorOnBothSides) {
    const auto& pki = Pki::shared();
    const Data garbage[] = {bytes("GET / HTTP/1.0\r\n\r\n"), pattern(4096, 7)};
    for (const auto& junk : garbage) {
        {
            SCOPED_TRACE("server side");
            auto rec = std::make_shared<TlsRecorder>();
            auto listener = DispatchTcpSocket::create(rec, dispatch::Queue::createSerial("t.g"));
            ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
            Plain peer = Plain::connectTo(AF_INET, listener->localPort());
            ASSERT_TRUE(rec->waitUntil([&] { return !rec->accepted.empty(); }));
            rec->accepted[0]->startTLS(serverWith(pki.good));
            peer.send(junk);
            EXPECT_EQ(rec->outcome(), tls::status::protocol);
        }
        {
            SCOPED_TRACE("client side");
            Pair p;
            ASSERT_TRUE(p.connect());
            p.socket->startTLS(kClient);
            EXPECT_EQ(p.peer.receive(5).size(), 5u);
            p.peer.send(junk);
            ASSERT_TRUE(p.recorder->waitForDisconnect());
            EXPECT_EQ(p.recorder->disconnectCode(), tls::status::protocol);
        }
    }
}

TEST(DispatchTcpSocketTLS, SilentPeerEndsCleanlyOnDisconnect) {
    Pki::shared();
    {
        Pair warm;  // the dispatch machinery opens its own descriptors once
        ASSERT_TRUE(warm.connect());
    }
    for (bool server : {false, true}) {
        SCOPED_TRACE(server ? "server waits for a hello" : "client waits for the answer");
        const int descriptors = openDescriptorCount();
        {
            Pair p;
            ASSERT_TRUE(p.connect());
            p.socket->startTLS(server ? serverWith(Pki::shared().good) : kClient);
            if (!server) {
                EXPECT_EQ(p.peer.receive(5).size(), 5u);
            }
            p.socket->performBlock([] {});
            p.socket->disconnect();
            EXPECT_TRUE(p.peer.readsEOF());
            ASSERT_TRUE(p.recorder->waitForDisconnect());
            // Everything posted before the close has run: nothing else may follow it.
            p.socket->performBlock([] {});
            p.delegateQueue->sync([] {});
            p.recorder->locked([&] {
                EXPECT_EQ(p.recorder->disconnects.size(), 1u);
                EXPECT_FALSE(p.recorder->disconnects[0].has_value());
                EXPECT_TRUE(p.recorder->reads.empty());
            });
        }
        // Worker threads may still be letting go of a closed descriptor's registration.
        const auto deadline = std::chrono::steady_clock::now() + kWait;
        while (openDescriptorCount() > descriptors && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_LE(openDescriptorCount(), descriptors);
    }
}

TEST(DispatchTcpSocketTLS, EndOfStreamInTheHandshakeIsAnAbort) {
    Pki::shared();
    Pair p;
    ASSERT_TRUE(p.connect());
    p.socket->startTLS(kClient);
    EXPECT_EQ(p.peer.receive(5).size(), 5u);
    ::shutdown(p.peer.fd(), SHUT_WR);
    ASSERT_TRUE(p.recorder->waitForDisconnect());
    EXPECT_EQ(p.recorder->disconnectCode(), tls::status::closedAbort);
}

// Only a close_notify is a clean close; a stream cut without one is -9806, whether a read was
// waiting, nothing was asked, or a data record came just before the cut.
TEST(DispatchTcpSocketTLS, PeerCloseWithAndWithoutCloseNotify) {
    const auto& pki = Pki::shared();
    struct Case {
        const char* name;
        bool notify, readPending, dataFirst;
    };
    const Case cases[] = {
        {"close_notify, read waiting", true, true, false},
        {"close_notify, idle", true, false, false},
        {"cut, read waiting", false, true, false},
        {"cut, idle", false, false, false},
        {"cut after a record read later", false, false, true},
        {"cut after a record, read waiting", false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pair p;
        ASSERT_TRUE(p.connect());
        p.socket->startTLS(kClient);
        if (c.readPending) p.socket->readDataWithTimeout(-1, 1);
        RawTls raw(p.peer.fd(), serverWith(pki.good));
        ASSERT_EQ(raw.session->handshake().status, 0);
        for (int i = 0; i < 1000 && !p.socket->isSecure(); ++i) std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(p.socket->isSecure());
        if (c.dataFirst) {
            const std::string record = "last words";
            raw.session->write(reinterpret_cast<const std::uint8_t*>(record.data()), record.size());
        }
        if (c.notify) raw.session->shutdown();
        p.peer.reset();
        // Bytes nobody asked for wait for a read, as they do without TLS.
        if (c.dataFirst && !c.readPending) p.socket->readDataWithTimeout(-1, 2);
        ASSERT_TRUE(p.recorder->waitForDisconnect());
        if (c.dataFirst) {
            EXPECT_EQ(p.recorder->locked([&] { return text(p.recorder->reads.at(0).second); }),
                      "last words");
        }
        EXPECT_EQ(p.recorder->disconnectCode(), c.notify ? kClosed : tls::status::closedAbort);
    }
}

// The server end tells a cut from a close_notify the same way.
TEST(DispatchTcpSocketTLS, ServerSeesACutClientAsAnAbort) {
    const auto& pki = Pki::shared();
    Sockets s;
    ASSERT_TRUE(s.connect());
    s.server->startTLS(serverWith(pki.good));
    s.client->startTLS(kClient);
    ASSERT_EQ(s.serverRec->outcome(), 0);
    ASSERT_EQ(s.clientRec->outcome(), 0);
    // Cut under the client's session: no close_notify goes out.
    s.client->performBlock([&] { ::shutdown(s.client->socketFD(), SHUT_RDWR); });
    ASSERT_TRUE(s.serverRec->waitForDisconnect());
    EXPECT_EQ(s.serverRec->disconnectCode(), tls::status::closedAbort);
}

TEST(DispatchTcpSocketTLS, ResetDuringAWriteClosesWithAnError) {
    const auto& pki = Pki::shared();
    auto rec = std::make_shared<TlsRecorder>();
    Pair p;
    p.socket = DispatchTcpSocket::create(rec, p.delegateQueue);
    p.recorder = rec;
    ASSERT_TRUE(p.connect());
    p.socket->startTLS(kClient);
    RawTls raw(p.peer.fd(), serverWith(pki.good));
    ASSERT_EQ(raw.session->handshake().status, 0);
    ASSERT_EQ(rec->outcome(), 0);
    p.socket->writeData(pattern(16 << 20, 3), -1, 1);
    ASSERT_TRUE(rec->waitUntil([&] { return !rec->partialWrites.empty(); }));
    p.peer.abort();
    ASSERT_TRUE(rec->waitForDisconnect());
    EXPECT_TRUE(rec->locked([&] { return rec->disconnects[0].has_value(); }));
}

struct TrustCase {
    const char* name;
    std::uint32_t clientMask;
    std::vector<bool> answers;
    bool manualOnServer;
    std::int64_t clientOutcome;
    const char* text;
};

TEST(DispatchTcpSocketTLS, ManualTrust) {
    const auto& pki = Pki::shared();
    const std::uint32_t all = 0x3fff;
    const TrustCase cases[] = {
        {"trusted", all, {true}, false, 0, ""},
        {"answered twice, first counts", all, {true, false}, false, 0, ""},
        {"refused", all, {false}, false, tls::status::peerBadCert, ""},
        {"delegate without the method",
         all & ~0x1000u,
         {},
         false,
         kOther,
         "DispatchTcpSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
         "implement socket:shouldTrustPeer:"},
        {"server socket",
         all,
         {},
         true,
         -1,
         "Manual trust validation is not supported for server sockets"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sockets t(c.clientMask);
        t.clientRec->answers = c.answers;
        ASSERT_TRUE(t.connect());
        const tls::Settings manual{{tls::DispatchTcpSocketManuallyEvaluateTrust, true}};
        t.server->startTLS(serverWith(pki.selfSigned, c.manualOnServer ? manual : tls::Settings{}));
        t.client->startTLS(manual);
        if (c.manualOnServer) {
            EXPECT_EQ(t.serverRec->outcome(), kOther);
            EXPECT_EQ(t.serverRec->disconnectText(), c.text);
            continue;
        }
        EXPECT_EQ(t.clientRec->outcome(), c.clientOutcome);
        if (*c.text) {
            EXPECT_EQ(t.clientRec->disconnectText(), c.text);
        }
        if (!c.answers.empty()) {
            auto trust = t.clientRec->locked([&] { return t.clientRec->trust; });
            ASSERT_TRUE(trust);
            EXPECT_EQ(trust->defaultVerdict().status, tls::status::xCertChainInvalid);
        }
    }
}

TEST(DispatchTcpSocketTLS, WrongSettingsReportTheirTextsAndDisconnect) {
    Pki::shared();
    std::vector<std::string> assertions;
    std::mutex mutex;
    foundation::setAssertionHandler([&](const std::string& text, const char*, int) {
        std::lock_guard lock(mutex);
        assertions.push_back(text);
    });
    struct Restore {
        ~Restore() { foundation::setAssertionHandler({}); }
    } restore;
    const struct {
        tls::Settings settings;
        const char* assertion;
        const char* error;
    } cases[] = {
        {{{tls::kCFStreamSSLPeerName, 5}},
         "Invalid value for kCFStreamSSLPeerName. Value must be of type NSString.",
         "Invalid value for kCFStreamSSLPeerName."},
        {{{tls::kCFStreamSSLAllowsAnyRoot, false}},
         "Security option unavailable - kCFStreamSSLAllowsAnyRoot - You must use manual trust "
         "evaluation",
         "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Pair p;
        ASSERT_TRUE(p.connect());
        p.socket->startTLS(c.settings);
        ASSERT_TRUE(p.recorder->waitForDisconnect());
        EXPECT_EQ(p.recorder->disconnectCode(), kOther);
        EXPECT_EQ(
            p.recorder->locked([&] { return p.recorder->disconnects[0]->localizedDescription(); }),
            c.error);
        EXPECT_TRUE(p.peer.readsEOF());  // nothing was sent
        std::lock_guard lock(mutex);
        ASSERT_FALSE(assertions.empty());
        EXPECT_EQ(assertions.back(), c.assertion);
    }
}

TEST(DispatchTcpSocketTLS, StartTlsHelloInTheSameSegmentAsTheLineBeforeIt) {
    const auto& pki = Pki::shared();
    auto rec = std::make_shared<TlsRecorder>();
    auto listener = DispatchTcpSocket::create(rec, dispatch::Queue::createSerial("t.starttls"));
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
    rec->onRead = [&](const Socket& s, std::int64_t tag) {
        if (tag != 1) return;
        s->startTLS(serverWith(pki.good));
        s->readDataToLength(4, -1, 2);
    };
    Plain client = Plain::connectTo(AF_INET, listener->localPort());
    ASSERT_TRUE(rec->waitUntil([&] { return !rec->accepted.empty(); }));
    rec->accepted[0]->readDataToData(DispatchTcpSocket::CRLFData(), -1, 1);
    RawTls raw(client.fd(), kClient);
    raw.hold = true;
    ASSERT_EQ(raw.session->handshake().status, tls::status::wouldBlock);
    Data segment = bytes("STARTTLS\r\n");
    segment.insert(segment.end(), raw.held.begin(), raw.held.end());
    ASSERT_TRUE(client.send(segment));
    raw.hold = false;
    ASSERT_EQ(raw.session->handshake().status, 0);
    std::uint8_t ping[] = {'p', 'i', 'n', 'g'};
    ASSERT_EQ(raw.session->write(ping, 4).status, 0);
    ASSERT_TRUE(rec->waitUntil([&] { return rec->reads.size() == 2; }));
    rec->locked([&] {
        EXPECT_EQ(text(rec->reads[0].second), "STARTTLS\r\n");
        EXPECT_EQ(text(rec->reads[1].second), "ping");
    });
}

}  // namespace
