#include "platform/tls/SessionHooks.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "platform/tls/Session.h"
#include "platform/tls/Verification.h"

namespace tls {

namespace {

constexpr std::size_t kMaxCachedSessions = 64;
constexpr std::size_t kMaxCachedStores = 4;

int sessionIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

Session* owner(const SSL* ssl) {
    return static_cast<Session*>(SSL_get_ex_data(ssl, sessionIndex()));
}

// Client sessions by peer ID, oldest out first. Never destroyed: sessions may end at exit.
struct SessionCache {
    std::mutex mutex;
    std::map<std::vector<std::uint8_t>, SSL_SESSION*> byPeer;
    std::deque<std::vector<std::uint8_t>> order;

    void put(const std::vector<std::uint8_t>& peerID, SSL_SESSION* session) {
        std::lock_guard lock(mutex);
        auto [it, inserted] = byPeer.try_emplace(peerID, session);
        if (!inserted) {
            SSL_SESSION_free(it->second);
            it->second = session;
            return;
        }
        order.push_back(peerID);
        if (order.size() > kMaxCachedSessions) {
            auto oldest = byPeer.find(order.front());
            SSL_SESSION_free(oldest->second);
            byPeer.erase(oldest);
            order.pop_front();
        }
    }

    SSL_SESSION* get(const std::vector<std::uint8_t>& peerID) {
        std::lock_guard lock(mutex);
        auto it = byPeer.find(peerID);
        if (it == byPeer.end() || !SSL_SESSION_is_resumable(it->second)) return nullptr;
        SSL_SESSION_up_ref(it->second);
        return it->second;
    }
};

SessionCache& sessionCache() {
    static auto* cache = new SessionCache;
    return *cache;
}

// Anchors per (SSL_CERT_FILE, SSL_CERT_DIR): loading the system bundle for every session
// would cost milliseconds each.
struct StoreCache {
    std::mutex mutex;
    std::map<std::string, X509_STORE*> byEnvironment;

    X509_STORE* get() {
        const char* file = std::getenv(X509_get_default_cert_file_env());
        const char* dir = std::getenv(X509_get_default_cert_dir_env());
        std::string key = std::string(file ? file : "") + '\0' + (dir ? dir : "");
        std::lock_guard lock(mutex);
        if (auto it = byEnvironment.find(key); it != byEnvironment.end()) {
            X509_STORE_up_ref(it->second);
            return it->second;
        }
        if (byEnvironment.size() >= kMaxCachedStores) {
            // Sessions and callers hold their own references, so dropping ours is safe.
            for (auto& [k, store] : byEnvironment) X509_STORE_free(store);
            byEnvironment.clear();
        }
        X509_STORE* store = newDefaultStore();
        if (store) {
            X509_STORE_up_ref(store);
            byEnvironment.emplace(key, store);
        }
        return store;
    }
};

BIO_METHOD* transportMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m =
            BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "mantleshade transport");
        BIO_meth_set_write_ex(m, SessionHooks::bioWrite);
        BIO_meth_set_read_ex(m, SessionHooks::bioRead);
        BIO_meth_set_ctrl(m, SessionHooks::bioCtrl);
        return m;
    }();
    return method;
}

SSL_CTX* makeContext(bool server) {
    // Sessions live on pool threads that are never joined: OpenSSL's own clean-up at exit would
    // pull its tables from under a socket still closing there.
    OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr);
    SSL_CTX* ctx = SSL_CTX_new(TLS_method());
    if (!ctx) return nullptr;
    // A renegotiation inside a data read or write would stall the socket's machine.
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (server) {
        static const unsigned char kContextID[] = "mantleshade";
        SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_session_id_context(ctx, kContextID, sizeof kContextID - 1);
        SSL_CTX_set_alpn_select_cb(ctx, SessionHooks::selectALPN, nullptr);
    } else {
        // OpenSSL verifies nothing unless asked.
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
        SSL_CTX_set_cert_verify_callback(ctx, SessionHooks::verifyChain, nullptr);
        SSL_CTX_set_session_cache_mode(ctx,
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(ctx, SessionHooks::newSession);
    }
    return ctx;
}

}  // namespace

SSL_CTX* SessionHooks::context(bool server) {
    static SSL_CTX* const serverContext = makeContext(true);
    static SSL_CTX* const clientContext = makeContext(false);
    return server ? serverContext : clientContext;
}

X509_STORE* SessionHooks::defaultStore() {
    static auto* cache = new StoreCache;
    return cache->get();
}

bool SessionHooks::attach(SSL* ssl, Session* session) {
    if (SSL_set_ex_data(ssl, sessionIndex(), session) != 1) return false;
    BIO* bio = BIO_new(transportMethod());
    if (!bio) return false;
    BIO_set_data(bio, session);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio);
    return true;
}

SSL_SESSION* SessionHooks::cachedSession(const std::vector<std::uint8_t>& peerID) {
    return sessionCache().get(peerID);
}

int SessionHooks::bioWrite(BIO* bio, const char* data, std::size_t len, std::size_t* written) {
    auto* session = static_cast<Session*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    IOResult r = session->write_(reinterpret_cast<const std::uint8_t*>(data), len);
    if (r.kind == IOResult::Kind::transferred && r.bytes == 0) r = IOResult::wouldBlock();
    switch (r.kind) {
        case IOResult::Kind::transferred:
            *written = std::min(r.bytes, len);
            return 1;
        case IOResult::Kind::wouldBlock:
            BIO_set_retry_write(bio);
            return 0;
        default:
            session->transportEnded_ = true;
            return 0;
    }
}

int SessionHooks::bioRead(BIO* bio, char* data, std::size_t len, std::size_t* read) {
    auto* session = static_cast<Session*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    IOResult r = session->read_(reinterpret_cast<std::uint8_t*>(data), len);
    if (r.kind == IOResult::Kind::transferred && r.bytes == 0) r = IOResult::wouldBlock();
    switch (r.kind) {
        case IOResult::Kind::transferred:
            *read = std::min(r.bytes, len);
            return 1;
        case IOResult::Kind::wouldBlock:
            BIO_set_retry_read(bio);
            return 0;
        default:
            session->transportEnded_ = true;
            return 0;
    }
}

long SessionHooks::bioCtrl(BIO* bio, int cmd, long, void*) {
    switch (cmd) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return static_cast<Session*>(BIO_get_data(bio))->transportEnded_ ? 1 : 0;
        default:
            return 0;
    }
}

int SessionHooks::verifyChain(X509_STORE_CTX* storeCtx, void*) {
    auto* ssl = static_cast<SSL*>(
        X509_STORE_CTX_get_ex_data(storeCtx, SSL_get_ex_data_X509_STORE_CTX_idx()));
    Session* session = ssl ? owner(ssl) : nullptr;
    return session ? session->verifyPeer(storeCtx) : 0;
}

int SessionHooks::selectALPN(SSL* ssl, const unsigned char** out, unsigned char* outlen,
                             const unsigned char* in, unsigned int inlen, void*) {
    Session* session = owner(ssl);
    if (!session || session->alpnWire_.empty()) return SSL_TLSEXT_ERR_NOACK;
    unsigned char* chosen = nullptr;
    // Our preference order decides; no overlap continues without ALPN.
    if (SSL_select_next_proto(&chosen, outlen, session->alpnWire_.data(),
                              static_cast<unsigned int>(session->alpnWire_.size()), in,
                              inlen) != OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *out = chosen;
    return SSL_TLSEXT_ERR_OK;
}

int SessionHooks::newSession(SSL* ssl, SSL_SESSION* session) {
    Session* s = owner(ssl);
    if (!s || s->peerID_.empty()) return 0;
    sessionCache().put(s->peerID_, session);
    return 1;  // the cache keeps the reference
}

}  // namespace tls
