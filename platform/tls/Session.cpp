#include "platform/tls/Session.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "platform/tls/StatusMapping.h"
#include "platform/tls/Verification.h"

namespace tls {

foundation::Error sslError(Status code, const std::string& description) {
    foundation::Error error(
        kSSLErrorDomain, code,
        {{foundation::Error::kLocalizedRecoverySuggestionKey, kSSLRecoverySuggestion}});
    if (!description.empty())
        error.userInfo[foundation::Error::kLocalizedDescriptionKey] = description;
    return error;
}

Session::Session(bool server, ReadFunction read, WriteFunction write)
    : server_(server), read_(std::move(read)), write_(std::move(write)) {}

Session::~Session() {
    if (ssl_) SSL_free(ssl_);
}

std::shared_ptr<Session> Session::create(const Settings& settings, ReadFunction read,
                                         WriteFunction write, ConfigFailure* failure) {
    bool server = false;
    if (auto it = settings.find(kCFStreamSSLIsServer); it != settings.end())
        server = it->second.boolValue().value_or(false);
    std::shared_ptr<Session> session(new Session(server, std::move(read), std::move(write)));
    ConfigFailure local;
    if (!session->configure(settings, &local)) {
        if (failure) *failure = std::move(local);
        return nullptr;
    }
    return session;
}

Session::Result Session::settle(int sslError) {
    Want want = sslError == SSL_ERROR_WANT_WRITE  ? Want::write
                : sslError == SSL_ERROR_WANT_READ ? Want::read
                                                  : Want::nothing;
    Failure failure = failureForSSLCall(ssl_, sslError);
    if (failure.status == status::wouldBlock) return {status::wouldBlock, 0, want};
    if (failure.status == status::peerAuthCompleted) {
        trustAnswer_ = TrustAnswer::awaited;
        return {status::peerAuthCompleted, 0, Want::nothing};
    }
    failed_ = true;
    lastStatus_ = failure.status;
    lastErrorText_ = std::move(failure.text);
    return {lastStatus_, 0, Want::nothing};
}

Session::Result Session::handshake() {
    if (secure_) return {};
    if (failed_) return {lastStatus_};
    if (trustAnswer_ == TrustAnswer::awaited) return {status::peerAuthCompleted};
    ERR_clear_error();
    int ret = SSL_do_handshake(ssl_);
    int err = SSL_get_error(ssl_, ret);
    if (ret == 1) {
        secure_ = true;
        return {};
    }
    return settle(err);
}

Session::Result Session::answerTrust(bool trusted) {
    if (trustAnswer_ != TrustAnswer::awaited) return handshake();
    if (trusted) {
        trustAnswer_ = TrustAnswer::accepted;
        return handshake();
    }
    trustAnswer_ = TrustAnswer::refused;
    // Let OpenSSL send its bad_certificate alert (best effort), then report the refusal.
    ERR_clear_error();
    int ret = SSL_do_handshake(ssl_);
    SSL_get_error(ssl_, ret);
    ERR_clear_error();
    failed_ = true;
    lastStatus_ = status::peerBadCert;
    lastErrorText_ = verifyErrorText(X509_V_ERR_CERT_REJECTED);
    return {lastStatus_};
}

int Session::verifyPeer(X509_STORE_CTX* storeCtx) {
    int ok = X509_verify_cert(storeCtx) == 1;
    long result = X509_STORE_CTX_get_error(storeCtx);
    if (!ok && result == X509_V_OK) result = X509_V_ERR_UNSPECIFIED;
    if (!trust_) {
        std::vector<Certificate> chain;
        if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(storeCtx))
            for (int i = 0; i < sk_X509_num(sent); ++i)
                chain.push_back(Certificate::retain(sk_X509_value(sent, i)));
        if (chain.empty()) chain.push_back(Certificate::retain(X509_STORE_CTX_get0_cert(storeCtx)));
        TrustVerdict verdict;
        if (!ok) verdict = {statusForVerifyError(result), verifyErrorText(result)};
        trust_ = std::make_shared<const Trust>(std::move(chain), peerName_, std::move(verdict));
    }
    if (!manualTrust_) return ok;
    switch (trustAnswer_) {
        case TrustAnswer::accepted:
            X509_STORE_CTX_set_error(storeCtx, X509_V_OK);
            return 1;
        case TrustAnswer::refused:
            X509_STORE_CTX_set_error(storeCtx, X509_V_ERR_CERT_REJECTED);
            return 0;
        default:
            // Pause the handshake until the caller answers; OpenSSL calls us again on resume.
            trustAnswer_ = TrustAnswer::awaited;
            SSL_set_retry_verify(ssl_);
            return 1;
    }
}

Session::Result Session::read(std::uint8_t* buf, std::size_t len) {
    if (!secure_) {
        Result r = handshake();
        if (r.status != status::ok) return r;
    }
    if (failed_) return {lastStatus_};
    if (len == 0) return {};
    ERR_clear_error();
    std::size_t n = 0;
    int ret = SSL_read_ex(ssl_, buf, len, &n);
    int err = SSL_get_error(ssl_, ret);
    if (ret == 1) return {status::ok, n};
    return settle(err);
}

Session::Result Session::write(const std::uint8_t* buf, std::size_t len) {
    if (!secure_) {
        Result r = handshake();
        if (r.status != status::ok) return r;
    }
    if (failed_) return {lastStatus_};
    if (len == 0) return {};
    ERR_clear_error();
    std::size_t n = 0;
    int ret = SSL_write_ex(ssl_, buf, len, &n);
    int err = SSL_get_error(ssl_, ret);
    if (ret == 1) {
        pendingWrite_ = 0;
        return {status::ok, n};
    }
    Result r = settle(err);
    if (r.status == status::wouldBlock && pendingWrite_ == 0) pendingWrite_ = len;
    return r;
}

std::size_t Session::bufferedReadSize() const {
    int pending = SSL_pending(ssl_);
    return pending > 0 ? static_cast<std::size_t>(pending) : 0;
}

Session::Result Session::shutdown() {
    // OpenSSL forbids SSL_shutdown after a fatal error; a received close_notify is not one.
    if (!secure_ || shutdownSent_ || (failed_ && lastStatus_ != status::closedGraceful)) return {};
    ERR_clear_error();
    int ret = SSL_shutdown(ssl_);
    int err = SSL_get_error(ssl_, ret);
    if (ret >= 0) {
        shutdownSent_ = true;
        ERR_clear_error();
        return {};
    }
    Want want = err == SSL_ERROR_WANT_WRITE ? Want::write : Want::read;
    Failure failure = failureForSSLCall(ssl_, err);
    return {failure.status, 0, failure.status == status::wouldBlock ? want : Want::nothing};
}

foundation::Error Session::error() const {
    return sslError(lastStatus_, lastErrorText_);
}

std::string Session::negotiatedALPN() const {
    const unsigned char* data = nullptr;
    unsigned int len = 0;
    SSL_get0_alpn_selected(ssl_, &data, &len);
    return data ? std::string(reinterpret_cast<const char*>(data), len) : std::string();
}

std::uint16_t Session::negotiatedCipherSuite() const {
    const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl_);
    return cipher ? SSL_CIPHER_get_protocol_id(cipher) : 0;
}

std::int32_t Session::negotiatedProtocolVersion() const {
    switch (SSL_version(ssl_)) {
        case TLS1_VERSION:
            return protocol::tls1_0;
        case TLS1_1_VERSION:
            return protocol::tls1_1;
        case TLS1_2_VERSION:
            return protocol::tls1_2;
        case TLS1_3_VERSION:
            return protocol::tls1_3;
        default:
            return 0;
    }
}

bool Session::sessionReused() const {
    return SSL_session_reused(ssl_) == 1;
}

}  // namespace tls
