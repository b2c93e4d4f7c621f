#include <openssl/ssl.h>

#include <atomic>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "TlsTestSupport.h"

namespace tlstest {
namespace {

using tls::Session;
using tls::Settings;
using tls::Value;
namespace st = tls::status;

std::vector<std::uint8_t> randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::vector<std::uint8_t> out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// Sends `data` from `a` to `b` in pieces of at most 32 KiB, offering the same piece again after
// would-block; answers what `b` received and the last failing status of either side.
std::pair<std::vector<std::uint8_t>, tls::Status> transfer(Session& a, Session& b,
                                                           const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> got;
    std::uint8_t buf[16384];
    std::size_t sent = 0;
    for (int i = 0; i < 20000 && got.size() < data.size(); ++i) {
        if (sent < data.size()) {
            auto w = a.write(data.data() + sent, std::min<std::size_t>(32768, data.size() - sent));
            if (w.status == st::ok)
                sent += w.bytes;
            else if (w.status != st::wouldBlock)
                return {got, w.status};
        }
        auto r = b.read(buf, sizeof buf);
        if (r.status == st::ok)
            got.insert(got.end(), buf, buf + r.bytes);
        else if (r.status != st::wouldBlock)
            return {got, r.status};
    }
    return {got, st::ok};
}

Settings client(Settings s = {}) {
    Pki::shared();  // the anchors must be in place before the first session
    return s;
}

struct VerdictRow {
    const char* name;
    const Identity* leaf;
    Settings clientSettings;
    Settings serverExtra;
    tls::Status clientStatus;
    bool serverSecure;
};

TEST(TlsSession, HandshakeVerdicts) {
    const Pki& pki = Pki::shared();
    const VerdictRow rows[] = {
        {"good by name", &pki.good, {{tls::kCFStreamSSLPeerName, "localhost"}}, {}, st::ok, true},
        {"good by IPv4", &pki.good, {{tls::kCFStreamSSLPeerName, "127.0.0.1"}}, {}, st::ok, true},
        {"good by IPv6", &pki.good, {{tls::kCFStreamSSLPeerName, "::1"}}, {}, st::ok, true},
        {"wrong host",
         &pki.wrongHost,
         {{tls::kCFStreamSSLPeerName, "localhost"}},
         {},
         st::hostNameMismatch,
         false},
        {"wrong IP",
         &pki.good,
         {{tls::kCFStreamSSLPeerName, "127.0.0.2"}},
         {},
         st::hostNameMismatch,
         false},
        // Kept on purpose: callers that connect by address rely on it.
        {"no peer name, no name check", &pki.wrongHost, {}, {}, st::ok, true},
        {"expired",
         &pki.expired,
         {{tls::kCFStreamSSLPeerName, "localhost"}},
         {},
         st::certExpired,
         false},
        {"not yet valid", &pki.notYetValid, {}, {}, st::certNotYetValid, false},
        {"unknown CA", &pki.selfSigned, {}, {}, st::xCertChainInvalid, false},
        {"version refused",
         &pki.good,
         {{tls::DispatchTcpSocketSSLProtocolVersionMax, 8}},
         {{tls::DispatchTcpSocketSSLProtocolVersionMin, 10}},
         st::peerProtocolVersion,
         false},
        {"TLS 1.0 only against minimum TLS 1.2",
         &pki.good,
         {{tls::DispatchTcpSocketSSLProtocolVersionMax, 4}},
         {{tls::DispatchTcpSocketSSLProtocolVersionMin, 8}},
         st::peerProtocolVersion,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Pair pair(client(row.clientSettings), serverWith(*row.leaf, row.serverExtra));
        ASSERT_TRUE(pair.client && pair.server);
        auto [c, s] = pair.handshake();
        EXPECT_EQ(c, row.clientStatus) << pair.client->lastErrorText();
        EXPECT_EQ(pair.client->isSecure(), row.clientStatus == st::ok);
        EXPECT_EQ(pair.server->isSecure(), row.serverSecure) << s;
        if (row.clientStatus != st::ok) {
            foundation::Error e = pair.client->error();
            EXPECT_EQ(e.domain, "kCFStreamErrorDomainSSL");
            EXPECT_EQ(e.code, row.clientStatus);
            EXPECT_EQ(e.localizedRecoverySuggestion(),
                      "Error code definition can be found in Apple's SecureTransport.h");
            EXPECT_FALSE(e.userInfo[foundation::Error::kLocalizedDescriptionKey].empty());
        }
    }
}

TEST(TlsSession, EchoesOneMebibyteIntactBothWays) {
    Pair pair(client({{tls::kCFStreamSSLPeerName, "localhost"}}), serverWith(Pki::shared().good));
    ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok));
    auto data = randomBytes(1 << 20, 1);
    auto [atServer, s1] = transfer(*pair.client, *pair.server, data);
    EXPECT_EQ(s1, st::ok);
    EXPECT_TRUE(atServer == data);
    auto [atClient, s2] = transfer(*pair.server, *pair.client, atServer);
    EXPECT_EQ(s2, st::ok);
    EXPECT_TRUE(atClient == data);
}

TEST(TlsSession, GarbageInsteadOfHelloIsAProtocolErrorOnBothSides) {
    auto noise = randomBytes(4096, 7);
    const std::string http = "GET / HTTP/1.0\r\n\r\n";
    const std::string noiseText(noise.begin(), noise.end());
    for (bool atServer : {true, false}) {
        for (const std::string* garbage : {&http, &noiseText}) {
            SCOPED_TRACE(std::string(atServer ? "server" : "client") + " fed " +
                         garbage->substr(0, 3));
            Pair pair(client(), serverWith(Pki::shared().good));
            Session& victim = atServer ? *pair.server : *pair.client;
            (atServer ? pair.toServer : pair.toClient).put(*garbage);
            tls::Status s = st::wouldBlock;
            for (int i = 0; i < 10 && s == st::wouldBlock; ++i) s = victim.handshake().status;
            EXPECT_EQ(s, st::protocol) << victim.lastErrorText();
        }
    }
}

TEST(TlsSession, EndOfStreamWithAndWithoutCloseNotify) {
    struct Row {
        const char* name;
        bool handshakeFirst;
        bool closeNotify;
        tls::Status expected;
    } rows[] = {
        {"mid-handshake", false, false, st::closedAbort},
        {"truncated", true, false, st::closedAbort},
        {"close_notify", true, true, st::closedGraceful},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Pair pair(client(), serverWith(Pki::shared().good));
        if (row.handshakeFirst) {
            ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok));
        } else {
            ASSERT_EQ(pair.client->handshake().status, st::wouldBlock);
        }
        if (row.closeNotify) {
            EXPECT_EQ(pair.server->shutdown().status, st::ok);
        }
        pair.toClient.closed = true;
        std::uint8_t buf[64];
        tls::Status s = st::wouldBlock;
        for (int i = 0; i < 10 && s == st::wouldBlock; ++i)
            s = pair.client->read(buf, sizeof buf).status;
        EXPECT_EQ(s, row.expected) << pair.client->lastErrorText();
        EXPECT_EQ(pair.client->read(buf, sizeof buf).status, row.expected) << "stays closed";
        EXPECT_EQ(pair.client->shutdown().status, st::ok);
    }
}

TEST(TlsSession, PeerRenegotiationIsRefusedWithoutStall) {
    // TLS 1.2, where renegotiation exists; the server is made to ask for one.
    Pair pair(client({{tls::DispatchTcpSocketSSLProtocolVersionMax, 8}}),
              serverWith(Pki::shared().good));
    ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok));
    SSL_clear_options(pair.server->native(), SSL_OP_NO_RENEGOTIATION);
    ASSERT_EQ(SSL_renegotiate(pair.server->native()), 1);
    auto data = randomBytes(1000, 3);
    auto [got, status] = transfer(*pair.server, *pair.client, data);
    EXPECT_EQ(status, st::ok);
    EXPECT_TRUE(got == data) << "the client keeps reading application data";
    // The server learns of the refusal; neither side waits for a handshake that never comes.
    std::uint8_t buf[64];
    tls::Status s = st::wouldBlock;
    for (int i = 0; i < 10 && s == st::wouldBlock; ++i) {
        s = pair.server->read(buf, sizeof buf).status;
        pair.client->read(buf, sizeof buf);
    }
    EXPECT_EQ(s, st::peerNoRenegotiation) << pair.server->lastErrorText();
}

TEST(TlsSession, KeyUpdatesKeepWorking) {
    Pair pair(client(), serverWith(Pki::shared().good));
    ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok));
    ASSERT_EQ(SSL_key_update(pair.server->native(), SSL_KEY_UPDATE_REQUESTED), 1);
    auto data = randomBytes(100000, 5);
    EXPECT_TRUE(transfer(*pair.server, *pair.client, data).first == data);
    EXPECT_TRUE(transfer(*pair.client, *pair.server, data).first == data);
    EXPECT_TRUE(transfer(*pair.server, *pair.client, data).first == data);
}

TEST(TlsSession, ManualTrust) {
    const Pki& pki = Pki::shared();
    struct Row {
        const char* name;
        const Identity* leaf;
        const char* peerName;
        bool answer;
        tls::Status defaultVerdict;
        tls::Status clientStatus;
        tls::Status serverStatus;
    } rows[] = {
        {"self-signed accepted", &pki.selfSigned, "", true, st::xCertChainInvalid, st::ok, st::ok},
        {"good refused", &pki.good, "localhost", false, st::ok, st::peerBadCert, st::peerBadCert},
        {"name check still reported", &pki.wrongHost, "localhost", true, st::hostNameMismatch,
         st::ok, st::ok},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Settings settings = {{tls::DispatchTcpSocketManuallyEvaluateTrust, true}};
        if (*row.peerName) settings.emplace(tls::kCFStreamSSLPeerName, row.peerName);
        Pair pair(client(settings), serverWith(*row.leaf));
        EXPECT_EQ(pair.handshake().first, st::peerAuthCompleted);
        EXPECT_EQ(pair.client->handshake().status, st::peerAuthCompleted) << "waits";
        auto trust = pair.client->peerTrust();
        ASSERT_TRUE(trust);
        EXPECT_EQ(trust->defaultVerdict().status, row.defaultVerdict);
        EXPECT_TRUE(trust->certificates().front() == row.leaf->certificate());
        EXPECT_EQ(pair.client->answerTrust(row.answer).status == st::ok, row.answer);
        auto [c, s] = pair.handshake();
        EXPECT_EQ(c, row.clientStatus);
        EXPECT_EQ(s, row.serverStatus);
        EXPECT_EQ(pair.client->answerTrust(true).status, row.clientStatus) << "second answer";
    }
}

TEST(TlsSession, TrustEvaluatesWithExtraAnchors) {
    const Pki& pki = Pki::shared();
    tls::Trust selfSigned({pki.selfSigned.certificate()}, "localhost", {});
    EXPECT_EQ(selfSigned.evaluate().status, st::xCertChainInvalid);
    EXPECT_TRUE(selfSigned.evaluate({pki.selfSigned.certificate()}).trusted());
    tls::Trust wrongName({pki.good.certificate()}, "elsewhere.invalid", {});
    EXPECT_EQ(wrongName.evaluate().status, st::hostNameMismatch);
    tls::Trust expired({pki.expired.certificate()}, "", {});
    EXPECT_EQ(expired.evaluate({pki.ca}).status, st::certExpired);
}

TEST(TlsSession, CipherSuitesAndALPN) {
    struct Row {
        const char* name;
        Settings clientSettings;
        Settings serverExtra;
        std::uint16_t suite;
        const char* alpn;
    } rows[] = {
        {"ECDHE-ECDSA-AES128-GCM with TLS 1.2",
         {{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{0xC02B}},
          {tls::DispatchTcpSocketSSLProtocolVersionMax, 8}},
         {},
         0xC02B,
         ""},
        {"TLS_AES_128_GCM_SHA256",
         {{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{0x1301}}},
         {},
         0x1301,
         ""},
        {"ALPN overlap",
         {{tls::DispatchTcpSocketSSLALPN, Value::Array{"osc", "h2"}}},
         {{tls::DispatchTcpSocketSSLALPN, Value::Array{"h2", "x"}}},
         0,
         "h2"},
        {"ALPN none shared",
         {{tls::DispatchTcpSocketSSLALPN, Value::Array{"osc"}}},
         {{tls::DispatchTcpSocketSSLALPN, Value::Array{"h2"}}},
         0,
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Pair pair(client(row.clientSettings), serverWith(Pki::shared().good, row.serverExtra));
        ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok))
            << pair.client->lastErrorText() << " / " << pair.server->lastErrorText();
        if (row.suite) {
            EXPECT_EQ(pair.client->negotiatedCipherSuite(), row.suite);
        }
        EXPECT_EQ(pair.client->negotiatedALPN(), row.alpn);
        EXPECT_EQ(pair.server->negotiatedALPN(), row.alpn);
    }
}

TEST(TlsSession, PeerIdResumesTheCachedSession) {
    Settings settings = {{tls::DispatchTcpSocketSSLPeerID, Value::Data{1, 2, 3}}};
    for (bool reused : {false, true}) {
        Pair pair(client(settings), serverWith(Pki::shared().good));
        ASSERT_EQ(pair.handshake(), std::make_pair(st::ok, st::ok));
        // TLS 1.3 tickets arrive after the handshake, with the first data.
        auto [got, status] = transfer(*pair.server, *pair.client, {42});
        EXPECT_EQ(status, st::ok);
        EXPECT_EQ(pair.client->sessionReused(), reused);
        // OpenSSL forgets the session of a connection freed without close_notify.
        EXPECT_EQ(pair.client->shutdown().status, st::ok);
    }
}

TEST(TlsSession, SessionsOnSeveralThreadsShareContextsAndCache) {
    Pki::shared();
    Settings settings = {{tls::DispatchTcpSocketSSLPeerID, Value::Data{7}},
                         {tls::kCFStreamSSLPeerName, "localhost"}};
    std::vector<std::thread> threads;
    std::atomic<int> echoed{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                Pair pair(settings, serverWith(Pki::shared().good));
                if (pair.handshake() != std::make_pair(st::ok, st::ok)) return;
                if (transfer(*pair.server, *pair.client, {1, 2, 3}).first.size() == 3) ++echoed;
                pair.client->shutdown();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(echoed, 12);
}

}  // namespace
}  // namespace tlstest
