#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/tls/Settings.h"
#include "platform/tls/Status.h"
#include "platform/tls/Trust.h"

namespace tls {

// What one call of the owner's read or write function did.
struct IOResult {
    enum class Kind { transferred, wouldBlock, endOfStream, failed };
    Kind kind = Kind::wouldBlock;
    std::size_t bytes = 0;  // with `transferred`: 1...len

    static IOResult transferred(std::size_t n) { return {Kind::transferred, n}; }
    static IOResult wouldBlock() { return {Kind::wouldBlock, 0}; }
    static IOResult endOfStream() { return {Kind::endOfStream, 0}; }
    static IOResult failed() { return {Kind::failed, 0}; }
};

// The owner's transport: reads at most `len` bytes into `buf`, writes at most `len` bytes from
// `buf`. Called only from inside the session's calls, on the owner's thread. `endOfStream` and
// `failed` both end the session with -9806 (no close_notify was seen).
using ReadFunction = std::function<IOResult(std::uint8_t* buf, std::size_t len)>;
using WriteFunction = std::function<IOResult(const std::uint8_t* buf, std::size_t len)>;

// One TLS session over OpenSSL 3, client or server, whose bytes travel through the owner's read
// and write functions (never through a socket BIO, so writes keep the owner's MSG_NOSIGNAL).
// Not thread-safe: every call comes from the owner's serial queue. Calls answer the statuses of
// Status.h: 0, -9803 (would block: call again after the transport is ready; `want` says which
// direction), -9841 (client with manual trust: answer with answerTrust), or a failure that ends
// the session (error() describes it).
//
// Security notes for Linux:
// - A client always verifies the server's chain against SSL_CERT_FILE / SSL_CERT_DIR or the
//   system's anchors; the only way around that is manual trust.
// - The peer name is checked only when kCFStreamSSLPeerName is set.
// - Renegotiation is refused both ways; TLS 1.3 key updates work.
// - Minimum versions TLS 1.0 / 1.1 are set, but OpenSSL's security level is not lowered, so such
//   handshakes fail. False start and one-byte records have no effect (OpenSSL already guards
//   CBC records); Diffie-Hellman parameters only matter for finite-field suites on a server.
class Session {
  public:
    enum class Want { nothing, read, write };
    struct Result {
        Status status = status::ok;
        std::size_t bytes = 0;
        Want want = Want::nothing;
    };

    // Applies `settings` in the documented order. Null with `*failure` set when they cannot be
    // applied (see ConfigFailure).
    static std::shared_ptr<Session> create(const Settings& settings, ReadFunction read,
                                           WriteFunction write, ConfigFailure* failure = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool isServer() const { return server_; }
    bool manuallyEvaluatesTrust() const { return manualTrust_; }
    bool isSecure() const { return secure_; }

    // One handshake step: 0 done (also on every later call), -9803, -9841, or a failure.
    Result handshake();
    // The server chain and its default verdict (client only; null until the chain arrived).
    std::shared_ptr<const Trust> peerTrust() const { return trust_; }
    // The caller's verdict after -9841: true resumes the handshake (its result is answered),
    // false sends a bad_certificate alert and ends the session with -9825. Ignored (answers the
    // current state) when no verdict is awaited.
    Result answerTrust(bool trusted);

    // Decrypts up to `len` bytes: bytes > 0 with 0; -9803; -9805 close_notify; -9806 end of
    // stream without close_notify; or another failure.
    Result read(std::uint8_t* buf, std::size_t len);
    // Encrypts from `buf`, one record (at most 16 KiB) or more per call: bytes > 0 with 0. After
    // -9803 the same piece (at least the same length, the buffer may move) must be offered again.
    Result write(const std::uint8_t* buf, std::size_t len);
    // Length of the piece a write accepted but could not send yet; 0 when none.
    std::size_t pendingWriteLength() const { return pendingWrite_; }
    // Decrypted bytes ready without touching the transport.
    std::size_t bufferedReadSize() const;
    // Sends close_notify once: 0 sent, -9803 try again, or a failure. Never waits for the peer's.
    Result shutdown();

    // The last failure (status and OpenSSL's reason text), and the error the socket reports.
    Status lastStatus() const { return lastStatus_; }
    const std::string& lastErrorText() const { return lastErrorText_; }
    foundation::Error error() const;

    // After the handshake.
    std::string negotiatedALPN() const;
    std::uint16_t negotiatedCipherSuite() const;     // IANA code
    std::int32_t negotiatedProtocolVersion() const;  // 4, 7, 8, 10
    bool sessionReused() const;
    SSL* native() const { return ssl_; }

  private:
    Session(bool server, ReadFunction read, WriteFunction write);
    bool configure(const Settings& settings, ConfigFailure* failure);
    bool applyKey(std::string_view key, const Value& value, ConfigFailure* failure);
    bool applyCipherSuites(const Value::Array& codes);
    bool applyALPN(const Value::Array& protocols);
    Result settle(int sslError);
    int verifyPeer(X509_STORE_CTX* storeCtx);

    friend struct SessionHooks;

    SSL* ssl_ = nullptr;
    bool server_ = false;
    bool manualTrust_ = false;
    bool secure_ = false;
    bool failed_ = false;
    bool transportEnded_ = false;
    bool shutdownSent_ = false;
    enum class TrustAnswer { none, awaited, accepted, refused } trustAnswer_ = TrustAnswer::none;
    std::shared_ptr<const Trust> trust_;
    std::string peerName_;
    std::vector<std::uint8_t> peerID_;
    std::vector<std::uint8_t> alpnWire_;  // server: protocols it accepts, in wire form
    std::size_t pendingWrite_ = 0;
    Status lastStatus_ = status::ok;
    std::string lastErrorText_;
    ReadFunction read_;
    WriteFunction write_;
};

// The SSL error the socket reports: domain "kCFStreamErrorDomainSSL", code `code`, the recovery
// suggestion of Status.h, and `description` (OpenSSL's text) when not empty.
foundation::Error sslError(Status code, const std::string& description = {});

}  // namespace tls
