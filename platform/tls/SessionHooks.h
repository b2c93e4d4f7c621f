#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tls {

class Session;

// The process-wide OpenSSL objects behind every Session and the callbacks that reach back into
// it. Internal to the tls library.
struct SessionHooks {
    // One shared context per role (created once, never changed afterwards): renegotiation off,
    // partial and moving-buffer writes, client verification on, the client session cache, the
    // server's ALPN choice.
    static SSL_CTX* context(bool server);
    // The default anchors for the current SSL_CERT_FILE / SSL_CERT_DIR, with a new reference.
    static X509_STORE* defaultStore();
    // Makes `session` the owner of `ssl` and gives `ssl` a transport BIO that calls the
    // session's read and write functions.
    static bool attach(SSL* ssl, Session* session);
    // The client session stored under `peerID`, with a new reference; null when none.
    static SSL_SESSION* cachedSession(const std::vector<std::uint8_t>& peerID);

    // OpenSSL callbacks.
    static int bioWrite(BIO* bio, const char* data, std::size_t len, std::size_t* written);
    static int bioRead(BIO* bio, char* data, std::size_t len, std::size_t* read);
    static long bioCtrl(BIO* bio, int cmd, long num, void* ptr);
    static int verifyChain(X509_STORE_CTX* storeCtx, void* arg);
    static int selectALPN(SSL* ssl, const unsigned char** out, unsigned char* outlen,
                          const unsigned char* in, unsigned int inlen, void* arg);
    static int newSession(SSL* ssl, SSL_SESSION* session);
};

}  // namespace tls
