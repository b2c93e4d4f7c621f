#include <fcntl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "TcpTestSupport.h"
#include "osc/tcp/DispatchTcpSocketError.h"

namespace {

using namespace tcptest;
using Code = rozuri::DispatchTcpSocketError::Code;

constexpr std::int64_t kNoDisconnect = -1;

struct ReadCase {
    const char* name;
    std::function<void(DispatchTcpSocket&)> queue;
    std::vector<std::string> sends;  // each after the previous one was partly taken
    bool peerCloses;
    std::vector<std::pair<std::int64_t, std::string>> expected;
    std::int64_t code;  // of the disconnect; kNoDisconnect when the socket stays
};

TEST(DispatchTcpSocketRead, ReadKinds) {
    const Data crlf = DispatchTcpSocket::CRLFData();
    const Data lf = DispatchTcpSocket::LFData();
    const ReadCase cases[] = {
        {"read-all",
         [](auto& s) { s.readDataWithTimeout(-1, 1); },
         {"hello"},
         false,
         {{1, "hello"}},
         kNoDisconnect},
        {"to length",
         [](auto& s) { s.readDataToLength(8, -1, 2); },
         {"abc", "defgh"},
         false,
         {{2, "abcdefgh"}},
         kNoDisconnect},
        {"terminator split across writes",
         [&](auto& s) {
             s.readDataToData(crlf, -1, 3);
             s.readDataWithTimeout(-1, 4);
         },
         {"ab\r", "\ncd"},
         false,
         {{3, "ab\r\n"}, {4, "cd"}},
         kNoDisconnect},
        {"bytes after the terminator outlive end of input",
         [&](auto& s) {
             s.readDataToData(lf, -1, 5);
             s.readDataWithTimeout(-1, 6);
         },
         {"x\ny"},
         true,
         {{5, "x\n"}, {6, "y"}},
         static_cast<int>(Code::closed)},
        {"terminator read maxed out",
         [&](auto& s) { s.readDataToData(lf, -1, 4, 7); },
         {"abcdef"},
         false,
         {},
         static_cast<int>(Code::readMaxedOut)},
        {"maxLength without bound",
         [&](auto& s) { s.readDataToData(lf, -1, UINT64_MAX, 8); },
         {"ok\n"},
         false,
         {{8, "ok\n"}},
         kNoDisconnect},
        {"read-all cut at maxLength",
         [](auto& s) {
             s.readDataWithTimeout(-1, nullptr, 0, 3, 9);
             s.readDataWithTimeout(-1, 10);
         },
         {"abcdef"},
         false,
         {{9, "abc"}, {10, "def"}},
         kNoDisconnect},
        {"malformed requests are dropped",
         [&](auto& s) {
             s.readDataToLength(0, -1, 90);
             s.readDataToData(Data(), -1, 91);
             s.readDataToData(crlf, -1, 1, 92);
             s.readDataWithTimeout(-1, std::make_shared<Data>(2), 3, 93);
             s.writeData(Data(), -1, 94);
             s.readDataWithTimeout(-1, 11);
         },
         {"z"},
         false,
         {{11, "z"}},
         kNoDisconnect},
        {"a length from a peer costs only the bytes sent",
         [](auto& s) { s.readDataToLength(1ull << 40, -1, 12); },
         {"0123456789"},
         true,
         {},
         static_cast<int>(Code::closed)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pair pair;
        ASSERT_TRUE(pair.connect());
        auto& r = *pair.recorder;
        c.queue(*pair.socket);
        for (std::size_t i = 0; i < c.sends.size(); ++i) {
            ASSERT_TRUE(pair.peer.send(c.sends[i]));
            if (i + 1 < c.sends.size()) {
                ASSERT_TRUE(r.waitUntil([&] { return r.partialReads.size() > i; }));
            }
        }
        if (c.peerCloses) pair.peer.reset();
        if (c.code != kNoDisconnect) {
            ASSERT_TRUE(r.waitForDisconnect());
            EXPECT_EQ(r.disconnectCode(), c.code);
        } else {
            ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == c.expected.size(); }));
        }
        r.locked([&] {
            ASSERT_EQ(r.reads.size(), c.expected.size());
            for (std::size_t i = 0; i < c.expected.size(); ++i) {
                EXPECT_EQ(r.reads[i].first, c.expected[i].first);
                EXPECT_EQ(text(r.reads[i].second), c.expected[i].second);
            }
        });
        EXPECT_EQ(pair.socket->isConnected(), c.code == kNoDisconnect);
    }
}

TEST(DispatchTcpSocketRead, CallerBuffersGrowOnlyAsNeeded) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& r = *pair.recorder;
    auto tail = std::make_shared<Data>(10, 'x');
    auto roomy = std::make_shared<Data>(100, 0);
    pair.socket->readDataToLength(5, -1, tail, 10, 1);
    pair.socket->readDataWithTimeout(-1, roomy, 0, 2);
    ASSERT_TRUE(pair.peer.send("hello"));
    ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == 1; }));
    ASSERT_TRUE(pair.peer.send("world"));
    ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == 2; }));
    EXPECT_EQ(tail->size(), 15u);
    EXPECT_EQ(text(Data(tail->begin() + 10, tail->end())), "hello");
    EXPECT_EQ(roomy->size(), 100u);
    EXPECT_EQ(text(Data(roomy->begin(), roomy->begin() + 5)), "world");
    EXPECT_EQ(text(r.reads[1].second), "world");
}

TEST(DispatchTcpSocketRead, Progress) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& r = *pair.recorder;
    std::int64_t tag = -1;
    std::uint64_t done = 9, total = 9;
    EXPECT_TRUE(std::isnan(pair.socket->progressOfRead(&tag, &done, &total)));
    EXPECT_EQ(tag, 0);
    pair.socket->readDataToLength(8, -1, 1);
    ASSERT_TRUE(pair.peer.send("abc"));
    ASSERT_TRUE(r.waitUntil([&] { return r.partialReads.size() == 1; }));
    EXPECT_FLOAT_EQ(pair.socket->progressOfRead(&tag, &done, &total), 3.0f / 8);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(total, 8u);
    ASSERT_TRUE(pair.peer.send("defgh"));
    pair.socket->readDataToData(DispatchTcpSocket::LFData(), -1, 2);
    ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == 1; }));
    EXPECT_FLOAT_EQ(pair.socket->progressOfRead(&tag, nullptr, &total), 1.0f);
    EXPECT_EQ(tag, 2);
    EXPECT_EQ(total, 0u);
}

// ---- Time-outs ----

TEST(DispatchTcpSocketTimeout, ReadTimeoutsAndExtensions) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& r = *pair.recorder;
    r.readTimeoutAnswer = [](std::int64_t, double elapsed) { return elapsed < 1 ? 2.5 : 0; };
    pair.socket->readDataToLength(4, 0.1, 1);
    ASSERT_TRUE(r.waitForDisconnect());
    EXPECT_EQ(r.disconnectCode(), static_cast<int>(Code::readTimeout));
    r.locked([&] {
        ASSERT_EQ(r.readTimeouts.size(), 2u);
        EXPECT_DOUBLE_EQ(r.readTimeouts[0], 0.1);
        EXPECT_DOUBLE_EQ(r.readTimeouts[1], 2.6);
    });

    // 0 times out a read that the bytes at hand cannot complete; negative, NaN and huge never.
    for (double timeout : {-1.0, double(NAN), -double(INFINITY), double(INFINITY), 1e300}) {
        Pair never;
        ASSERT_TRUE(never.connect());
        never.socket->readDataToLength(4, timeout, 1);
        never.socket->writeData(bytes("ping"), timeout, 2);
        EXPECT_EQ(never.peer.receive(4), bytes("ping"));
        EXPECT_TRUE(never.socket->isConnected());
    }
    Pair zero;
    ASSERT_TRUE(zero.connect());
    zero.socket->readDataToLength(4, 0, 1);
    ASSERT_TRUE(zero.recorder->waitForDisconnect());
    EXPECT_EQ(zero.recorder->disconnectCode(), static_cast<int>(Code::readTimeout));
}

// A late answer about a read of an earlier connection must not end the current one.
TEST(DispatchTcpSocketTimeout, StaleAnswersAreDropped) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& r = *pair.recorder;
    std::mutex gate;
    std::unique_lock held(gate);
    std::atomic<bool> asked{false};
    r.readTimeoutAnswer = [&](std::int64_t, double) {
        asked = true;
        std::lock_guard wait(gate);
        return 0.0;
    };
    pair.socket->readDataToLength(4, 0.05, 1);
    for (int i = 0; i < 500 && !asked; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(asked);
    pair.socket->disconnect();
    ASSERT_TRUE(pair.socket->connectToHost("127.0.0.1", pair.listener.port()));
    auto peer = pair.listener.accept();
    for (int i = 0; i < 500 && !pair.socket->isConnected(); ++i) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(pair.socket->isConnected());
    pair.socket->readDataToLength(2, -1, 2);
    held.unlock();  // the answer "0" for the old read arrives now
    pair.delegateQueue->sync([] {});
    ASSERT_TRUE(peer.send("ok"));
    ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == 1; }));
    EXPECT_EQ(r.locked([&] { return r.disconnects.size(); }), 1u);
    EXPECT_EQ(r.disconnectCode(), 0);
    EXPECT_TRUE(pair.socket->isConnected());
}

// ---- Writing and closing ----

TEST(DispatchTcpSocketWrite, PartialProgressAndDrainingCloses) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    auto& r = *pair.recorder;
    const Data big(16 << 20, 'b');
    pair.socket->writeData(big, -1, 1);
    pair.socket->writeData(bytes("end"), -1, 2);
    pair.socket->disconnectAfterWriting();
    pair.socket->writeData(bytes("refused"), -1, 3);
    ASSERT_TRUE(r.waitUntil([&] { return !r.partialWrites.empty(); }));
    std::int64_t tag = 0;
    std::uint64_t done = 0, total = 0;
    const float progress = pair.socket->progressOfWrite(&tag, &done, &total);
    EXPECT_EQ(tag, 1);
    EXPECT_EQ(total, big.size());
    EXPECT_GT(progress, 0.0f);
    EXPECT_LT(progress, 1.0f);
    EXPECT_EQ(pair.peer.receive(big.size() + 3).size(), big.size() + 3);
    EXPECT_TRUE(pair.peer.readsEOF());
    ASSERT_TRUE(r.waitForDisconnect());
    r.locked([&] {
        EXPECT_EQ(r.writes, (std::vector<std::int64_t>{1, 2}));
        EXPECT_FALSE(r.partialWrites.empty());
        EXPECT_EQ(r.disconnects.size(), 1u);
        EXPECT_FALSE(r.disconnects[0]);
    });
    pair.socket->disconnect();  // already closed: no second callback
    pair.delegateQueue->sync([] {});
    EXPECT_EQ(r.locked([&] { return r.disconnects.size(); }), 1u);
    DispatchTcpSocket::create(pair.recorder, pair.delegateQueue)->disconnect();  // never started
    pair.delegateQueue->sync([] {});
    EXPECT_EQ(r.locked([&] { return r.disconnects.size(); }), 1u);

    Pair reading;
    ASSERT_TRUE(reading.connect());
    reading.socket->disconnectAfterReading();  // nothing queued: closes at once
    ASSERT_TRUE(reading.recorder->waitForDisconnect());
    EXPECT_EQ(reading.recorder->disconnectCode(), 0);
}

// A client that sends and is released at once: every byte still reaches a slow reader.
TEST(DispatchTcpSocketWrite, ReleasedSocketDrainsItsWrites) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    const std::size_t total = 8 << 20;
    for (int i = 0; i < 8; ++i)
        pair.socket->writeData(Data(1 << 20, static_cast<char>('a' + i)), -1, i);
    pair.socket->disconnectAfterWriting();
    std::weak_ptr<DispatchTcpSocket> weak = pair.socket;
    pair.socket.reset();
    Data received;
    while (received.size() < total) {
        auto chunk = pair.peer.receive(64 << 10, 2s);
        if (chunk.empty()) break;
        received.insert(received.end(), chunk.begin(), chunk.end());
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(received.size(), total);
    EXPECT_EQ(received.back(), 'h');
    EXPECT_TRUE(pair.peer.readsEOF());
    ASSERT_TRUE(pair.recorder->waitForDisconnect());
    EXPECT_EQ(pair.recorder->disconnectCode(), 0);
    pair.delegateQueue->sync([] {});
    for (int i = 0; i < 200 && !weak.expired(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(weak.expired());
}

// Requests that all complete in one burst run one after another, not nested: 100,000 of them
// must not overflow the stack, and they complete in order.
TEST(DispatchTcpSocketQueues, ALongQueueCompletesInOneBurst) {
    constexpr int kCount = 100000;
    for (const char* kind : {"one byte", "line", "write"}) {
        SCOPED_TRACE(kind);
        Pair pair;
        ASSERT_TRUE(pair.connect());
        auto& r = *pair.recorder;
        const bool lines = std::string(kind) == "line";
        if (std::string(kind) == "write") {
            for (int i = 0; i < kCount; ++i) pair.socket->writeData(bytes("w"), -1, i);
            EXPECT_EQ(pair.peer.receive(kCount).size(), static_cast<std::size_t>(kCount));
            ASSERT_TRUE(r.waitUntil([&] { return r.writes.size() == kCount; }, 60s));
            r.locked([&] {
                for (int i = 0; i < kCount; ++i) ASSERT_EQ(r.writes[i], i);
            });
            continue;
        }
        for (int i = 0; i < kCount; ++i) {
            if (lines) {
                pair.socket->readDataToData(DispatchTcpSocket::LFData(), -1, i);
            } else {
                pair.socket->readDataToLength(1, -1, i);
            }
        }
        std::string all;
        for (int i = 0; i < kCount; ++i) {
            all += static_cast<char>('a' + i % 26);
            if (lines) all += '\n';
        }
        pair.socket->progressOfRead(nullptr, nullptr, nullptr);  // every request is queued
        ASSERT_TRUE(pair.peer.send(all));
        ASSERT_TRUE(r.waitUntil([&] { return r.reads.size() == kCount || !r.disconnects.empty(); },
                                60s));
        r.locked([&] {
            ASSERT_EQ(r.reads.size(), static_cast<std::size_t>(kCount));
            for (int i = 0; i < kCount; ++i) {
                ASSERT_EQ(r.reads[i].first, i);
                ASSERT_EQ(r.reads[i].second[0], 'a' + i % 26);
            }
        });
    }
}

// Input the socket never read must not turn its draining close into a reset: the peer gets
// every byte whose write was reported done, then an orderly end, whether the owner keeps the
// socket or releases it.
TEST(DispatchTcpSocketWrite, DrainingCloseWithUnreadInputLosesNothing) {
    for (bool released : {false, true}) {
        SCOPED_TRACE(released ? "released" : "retained");
        Pair pair;
        ASSERT_TRUE(pair.connect());
        ASSERT_TRUE(pair.peer.send(Data(4096, 'u')));  // never read by the socket
        const std::size_t total = 8 << 20;
        const Data chunk(1 << 20, 'd');
        for (int i = 0; i < 8; ++i) pair.socket->writeData(chunk, -1, i);
        pair.socket->disconnectAfterWriting();
        if (released) pair.socket.reset();
        std::size_t received = 0;
        for (;;) {
            const auto got = pair.peer.receive(1 << 20, 5s).size();
            if (got == 0) break;
            received += got;
        }
        EXPECT_EQ(received, total);
        EXPECT_TRUE(pair.peer.readsEOF(1s));
        ASSERT_TRUE(pair.recorder->waitForDisconnect());
        EXPECT_EQ(pair.recorder->disconnectCode(), 0);
    }
}

// Only a released socket gives up on a stalled drain; one its owner keeps waits as long as
// its writes ask (here: for ever), then closes cleanly once the peer reads.
TEST(DispatchTcpSocketWrite, RetainedSocketDrainsWithoutAStallLimit) {
    Pair pair;
    ASSERT_TRUE(pair.connect());
    const std::size_t total = 32 << 20;
    pair.socket->writeData(Data(total, 's'), -1, 1);
    pair.socket->disconnectAfterWriting();
    // Past the stall limit of a released socket (10 s).
    EXPECT_FALSE(pair.recorder->waitUntil(
        [&] { return !pair.recorder->disconnects.empty(); }, 11500ms));
    EXPECT_EQ(pair.peer.receive(total, 30s).size(), total);
    ASSERT_TRUE(pair.recorder->waitForDisconnect());
    EXPECT_EQ(pair.recorder->disconnectCode(), 0);
}

// Writes queued before the connection go out together; a timed one among them that the peer
// never takes still times out.
TEST(DispatchTcpSocketWrite, ATimedWriteSentAlongWithEarlierOnesKeepsItsTimeout) {
    Pair pair;
    ASSERT_TRUE(pair.socket->connectToHost("127.0.0.1", pair.listener.port()));
    pair.socket->writeData(bytes("first"), -1, 1);
    pair.socket->writeData(Data(64 << 20, 'w'), 0.3, 2);
    pair.peer = pair.listener.accept();
    ASSERT_TRUE(pair.recorder->waitForDisconnect());
    EXPECT_EQ(pair.recorder->disconnectCode(), static_cast<int>(Code::writeTimeout));
    EXPECT_EQ(pair.recorder->locked([&] { return pair.recorder->writes; }),
              std::vector<std::int64_t>{1});
    EXPECT_EQ(text(pair.peer.receive(5)), "first");
}

// ---- Hostile peers ----

TEST(DispatchTcpSocketHostile, Peers) {
    struct Case {
        const char* name;
        std::function<void(Pair&)> run;
        std::int64_t code;  // kNoDisconnect: still connected at the end
    };
    const Case cases[] = {
        {"slowloris against a time-out",
         [](Pair& p) {
             p.socket->readDataToData(DispatchTcpSocket::LFData(), 0.5, 1);
             while (!p.recorder->locked([&] { return !p.recorder->disconnects.empty(); })) {
                 if (!p.peer.send("a")) break;
                 std::this_thread::sleep_for(100ms);
             }
         },
         static_cast<int>(Code::readTimeout)},
        {"slowloris against maxLength",
         [](Pair& p) {
             p.socket->readDataToData(DispatchTcpSocket::LFData(), -1, 3, 1);
             for (int i = 0; i < 50 && p.peer.send("a"); ++i) {
                 if (p.recorder->waitUntil([&] { return !p.recorder->disconnects.empty(); }, 20ms))
                     break;
             }
         },
         static_cast<int>(Code::readMaxedOut)},
        {"flood with no read queued",
         [](Pair& p) {
             const Data chunk(1 << 16, 'f');
             std::size_t sent = 0;
             const int fl = ::fcntl(p.peer.fd(), F_GETFL);
             ::fcntl(p.peer.fd(), F_SETFL, fl | O_NONBLOCK);
             for (int stalls = 0; sent < (256u << 20) && stalls < 20;) {
                 const ssize_t n = ::send(p.peer.fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL);
                 if (n > 0) {
                     sent += static_cast<std::size_t>(n);
                     stalls = 0;
                 } else {
                     ++stalls;
                     std::this_thread::sleep_for(5ms);
                 }
             }
             EXPECT_LT(sent, 256u << 20) << "no back-pressure";
             std::atomic<std::size_t> got{0};
             p.recorder->onRead = [&](const Socket& s, std::int64_t) {
                 s->readDataWithTimeout(-1, 0);
             };
             p.socket->readDataWithTimeout(-1, 0);
             ASSERT_TRUE(p.recorder->waitUntil([&] {
                 std::size_t n = 0;
                 for (const auto& read : p.recorder->reads) n += read.second.size();
                 return n == sent;
             }));
         },
         kNoDisconnect},
        {"peer that never reads", [](Pair& p) { p.socket->writeData(Data(64 << 20, 'w'), 0.3, 1); },
         static_cast<int>(Code::writeTimeout)},

        {"half-close closes by default",
         [](Pair& p) {
             p.socket->readDataWithTimeout(-1, 1);
             ::shutdown(p.peer.fd(), SHUT_WR);
         },
         static_cast<int>(Code::closed)},
        {"half-close kept open",
         [](Pair& p) {
             p.socket->setAutoDisconnectOnClosedReadStream(false);
             p.socket->readDataWithTimeout(-1, 1);
             ::shutdown(p.peer.fd(), SHUT_WR);
             ASSERT_TRUE(p.recorder->waitUntil([&] { return p.recorder->readStreamCloses == 1; }));
             p.socket->writeData(bytes("still here"), -1, 2);
             EXPECT_EQ(p.peer.receive(10), bytes("still here"));
             ASSERT_TRUE(p.recorder->waitUntil([&] { return p.recorder->writes.size() == 1; }));
             EXPECT_EQ(p.recorder->locked([&] { return p.recorder->readStreamCloses; }), 1);
         },
         kNoDisconnect},
        {"reset in the middle of a long write",
         [](Pair& p) {
             p.socket->writeData(Data(32 << 20, 'r'), -1, 1);
             EXPECT_EQ(p.peer.receive(1 << 20).size(), 1u << 20);
             p.peer.abort();
         },
         0 /* POSIX error, checked below */},
        {"reset with nothing queued",
         [](Pair& p) {
             p.peer.abort();
             p.socket->readDataWithTimeout(-1, 1);
         },
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pair p;
        ASSERT_TRUE(p.connect());
        c.run(p);
        if (c.code == kNoDisconnect) {
            EXPECT_TRUE(p.socket->isConnected());
            continue;
        }
        ASSERT_TRUE(p.recorder->waitForDisconnect());
        const auto error = p.recorder->locked([&] { return p.recorder->disconnects[0]; });
        ASSERT_TRUE(error);
        if (c.code == 0) {
            EXPECT_EQ(error->domain, foundation::Error::kPOSIXDomain);
        } else {
            EXPECT_EQ(error->code, c.code);
        }
    }
}

}  // namespace
