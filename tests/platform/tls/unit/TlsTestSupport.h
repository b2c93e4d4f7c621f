#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/tls/Session.h"
#include "tests/support/TlsPki.h"

namespace tlstest {

using tls::Certificate;
using tls::Identity;

// One direction of an in-memory connection with a bounded amount in flight, so writers meet
// would-block the way they do on a socket.
struct Link {
    std::deque<std::uint8_t> bytes;
    std::size_t capacity = 64 * 1024;
    bool closed = false;
    std::size_t moved = 0;

    tls::IOResult read(std::uint8_t* buf, std::size_t len) {
        if (bytes.empty())
            return closed ? tls::IOResult::endOfStream() : tls::IOResult::wouldBlock();
        std::size_t n = std::min(len, bytes.size());
        std::copy_n(bytes.begin(), n, buf);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(n));
        moved += n;
        return tls::IOResult::transferred(n);
    }
    tls::IOResult write(const std::uint8_t* buf, std::size_t len) {
        if (closed) return tls::IOResult::failed();
        if (bytes.size() >= capacity) return tls::IOResult::wouldBlock();
        std::size_t n = std::min(len, capacity - bytes.size());
        bytes.insert(bytes.end(), buf, buf + n);
        moved += n;
        return tls::IOResult::transferred(n);
    }
    void put(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
};

inline tls::Session::Result noResult() {
    return {tls::status::wouldBlock, 0, tls::Session::Want::nothing};
}

// A client and a server session joined in memory.
struct Pair {
    Link toServer, toClient;
    std::shared_ptr<tls::Session> client, server;
    tls::ConfigFailure clientFailure, serverFailure;

    Pair(tls::Settings clientSettings, tls::Settings serverSettings) {
        serverSettings.emplace(tls::kCFStreamSSLIsServer, true);
        client = tls::Session::create(
            clientSettings, [this](auto* b, auto n) { return toClient.read(b, n); },
            [this](auto* b, auto n) { return toServer.write(b, n); }, &clientFailure);
        server = tls::Session::create(
            serverSettings, [this](auto* b, auto n) { return toServer.read(b, n); },
            [this](auto* b, auto n) { return toClient.write(b, n); }, &serverFailure);
    }

    // Runs both handshakes until neither can move; answers the last statuses.
    std::pair<tls::Status, tls::Status> handshake() {
        tls::Status c = tls::status::wouldBlock, s = tls::status::wouldBlock;
        for (int i = 0; i < 100; ++i) {
            std::size_t before = toServer.moved + toClient.moved;
            if (c == tls::status::wouldBlock) c = client->handshake().status;
            if (s == tls::status::wouldBlock) s = server->handshake().status;
            if (before == toServer.moved + toClient.moved) break;
        }
        return {c, s};
    }
};

}  // namespace tlstest
