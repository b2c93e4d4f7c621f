#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

namespace {

constexpr std::size_t kSSLPreBufferSize = 4096;
constexpr std::size_t kTLSWritePiece = 32768;
// One descriptor read into the raw buffer takes at most this much of the kernel's backlog.
constexpr std::uint64_t kMaxRawRead = 256 * 1024;

bool transient(int err) {
    return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

}  // namespace

// ---- Requests ----

void DispatchTcpSocket::startTLS(tls::Settings settings) {
    auto packet = std::make_shared<DispatchTcpSpecialPacket>(std::move(settings));
    // Weak: a caller may drop the socket right after asking.
    asyncOnSocketQueue([weak = weak_from_this(), packet = std::move(packet)] {
        auto self = weak.lock();
        if (!self || !(self->flags_ & kStarted) || (self->flags_ & (kRefuseNewIO | kTLSPending)))
            return;
        self->readQueue_.push_back({nullptr, packet});
        self->writeQueue_.push_back({nullptr, packet});
        self->flags_ |= kTLSPending;
        self->maybeDequeueRead();
        self->maybeDequeueWrite();
    });
}

SSL* DispatchTcpSocket::sslContext() const {
    if (!isOnSocketQueue() || !sslSession_) return nullptr;
    return sslSession_->native();
}

// ---- Start and handshake ----

void DispatchTcpSocket::maybeStartTLS() {
    if ((flags_ & kReadSideAtTLS) && (flags_ & kWriteSideAtTLS)) ssl_startTLS();
}

void DispatchTcpSocket::ssl_startTLS() {
    if (!currentReadTLS_) {
        assertionFailure(tls::texts::logicError, __LINE__);
        closeWithError(otherError(tls::texts::logicError));
        return;
    }
    // Bytes read past the last clear-text request are the start of the peer's TLS stream.
    sslPreBuffer_ = std::make_unique<DispatchTcpSocketPreBuffer>(kSSLPreBufferSize);
    if (const std::size_t n = preBuffer_.availableBytes(); n > 0) {
        sslPreBuffer_->ensureCapacityForWrite(n);
        std::memcpy(sslPreBuffer_->writeBuffer(), preBuffer_.readBuffer(), n);
        sslPreBuffer_->didWrite(n);
        preBuffer_.reset();
    }
    tls::ConfigFailure failure;
    // The session lives inside this socket and calls back only from within its own calls,
    // which all run on the socket queue.
    sslSession_ = tls::Session::create(
        currentReadTLS_->tlsSettings,
        [this](std::uint8_t* b, std::size_t n) { return sslReadWithBuffer(b, n); },
        [this](const std::uint8_t* b, std::size_t n) { return sslWriteWithBuffer(b, n); },
        &failure);
    if (!sslSession_) {
        if (!failure.assertionText.empty())
            assertionFailure(failure.assertionText.c_str(), __LINE__);
        closeWithError(otherError(failure.reason));
        return;
    }
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
    ssl_continueSSLHandshake();
}

void DispatchTcpSocket::ssl_continueSSLHandshake() {
    if (!sslSession_) return;
    sslHandshakeStepDone(sslSession_->handshake());
}

void DispatchTcpSocket::sslHandshakeStepDone(const tls::Session::Result& result) {
    lastSSLHandshakeError_ = result.status;
    switch (result.status) {
        case tls::status::ok:
            flags_ &= ~(kReadSideAtTLS | kWriteSideAtTLS);
            flags_ |= kSecure;
            notify(Delegate::didSecure,
                   [](Delegate& d, const auto& socket) { d.socketDidSecure(socket); });
            endCurrentRead();
            endCurrentWrite();
            maybeDequeueRead();
            maybeDequeueWrite();
            return;
        case tls::status::wouldBlock:
            // Only the direction the session waits on may wake it: the other level-triggered
            // source would fire for nothing.
            if (result.want == tls::Session::Want::write) {
                suspendReadSource();
                resumeWriteSource();
            } else {
                if (flags_ & kWritable) suspendWriteSource();
                resumeReadSource();
            }
            return;
        case tls::status::peerAuthCompleted:
            break;
        default:
            closeWithError(sslSession_->error());
            return;
    }

    // The server's chain waits for the delegate's verdict; nothing moves meanwhile.
    suspendReadSource();
    if (flags_ & kWritable) suspendWriteSource();
    auto trust = sslSession_->peerTrust();
    if (!trust) {
        closeWithError(tls::sslError(result.status));
        return;
    }
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ || !delegate->respondsTo(Delegate::didReceiveTrust)) {
        closeWithError(otherError(tls::texts::trustDelegateMissing));
        return;
    }
    auto handler = [weak = weak_from_this(), queue = socketQueue_.queue(),
                    index = stateIndex_](bool trusted) {
        queue->async([weak, trusted, index] {
            if (auto self = weak.lock()) self->ssl_shouldTrustPeer(trusted, index);
        });
    };
    notify(Delegate::didReceiveTrust, [trust = std::move(trust), handler = std::move(handler)](
                                          Delegate& d, const auto& socket) {
        d.socketDidReceiveTrust(socket, trust, handler);
    });
}

void DispatchTcpSocket::ssl_shouldTrustPeer(bool trusted, std::int64_t index) {
    if (index != stateIndex_) return;
    // A second answer from the same handler, or one for an earlier connection, is dropped.
    ++stateIndex_;
    if (!sslSession_) return;
    if (!trusted) {
        sslSession_->answerTrust(false);
        closeWithError(tls::sslError(tls::status::peerBadCert, sslSession_->lastErrorText()));
        return;
    }
    if (lastSSLHandshakeError_ != tls::status::peerAuthCompleted) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "ssl_shouldTrustPeer called when last error is %d and not "
                      "errSSLPeerAuthCompleted",
                      static_cast<int>(lastSSLHandshakeError_));
        assertionFailure(text, __LINE__);
    }
    sslHandshakeStepDone(sslSession_->answerTrust(true));
}

// ---- The session's transport ----

tls::IOResult DispatchTcpSocket::sslReadWithBuffer(std::uint8_t* buffer, std::size_t length) {
    if (!isOnSocketQueue()) {
        foundation::assertionFailure("What the deuce?",
                                     "OSStatus SSLReadFunction(SSLConnectionRef, void *, size_t *)",
                                     __LINE__);
    }
    auto& raw = *sslPreBuffer_;
    if (raw.availableBytes() > 0) {
        const std::size_t n = std::min(length, raw.availableBytes());
        std::memcpy(buffer, raw.readBuffer(), n);
        raw.didRead(n);
        if (raw.availableBytes() == 0) raw.reset();
        return tls::IOResult::transferred(n);
    }
    // The session asks for a record header, then its body: take the whole backlog at once.
    int err = 0;
    long r = 0;
    std::size_t n = 0;
    const std::uint64_t backlog = std::min(socketFDBytesAvailable_, kMaxRawRead);
    if (backlog > length) {
        raw.ensureCapacityForWrite(backlog);
        r = plainRead(raw.writeBuffer(), backlog, &err);
        if (r > 0) {
            raw.didWrite(static_cast<std::size_t>(r));
            n = std::min(length, static_cast<std::size_t>(r));
            std::memcpy(buffer, raw.readBuffer(), n);
            raw.didRead(n);
        }
    } else {
        r = plainRead(buffer, length, &err);
        n = r > 0 ? static_cast<std::size_t>(r) : 0;
    }
    if (r < 0) {
        socketFDBytesAvailable_ = 0;
        if (!transient(err)) return tls::IOResult::failed();
        resumeReadSource();
        return tls::IOResult::wouldBlock();
    }
    if (r == 0) {
        socketFDBytesAvailable_ = 0;
        return tls::IOResult::endOfStream();
    }
    const auto got = static_cast<std::uint64_t>(r);
    socketFDBytesAvailable_ = socketFDBytesAvailable_ > got ? socketFDBytesAvailable_ - got : 0;
    return tls::IOResult::transferred(n);
}

tls::IOResult DispatchTcpSocket::sslWriteWithBuffer(const std::uint8_t* buffer,
                                                    std::size_t length) {
    if (!isOnSocketQueue()) {
        foundation::assertionFailure(
            "What the deuce?",
            "OSStatus SSLWriteFunction(SSLConnectionRef, const void *, size_t *)", __LINE__);
    }
    if (!(flags_ & kWritable)) {
        resumeWriteSource();
        return tls::IOResult::wouldBlock();
    }
    int err = 0;
    const long r = plainWrite(buffer, length, &err);
    if (r > 0) return tls::IOResult::transferred(static_cast<std::size_t>(r));
    flags_ &= ~kWritable;
    if (r < 0 && !transient(err)) return tls::IOResult::failed();
    resumeWriteSource();
    return tls::IOResult::wouldBlock();
}

// ---- Hooks of the read and write machines ----

bool DispatchTcpSocket::tlsTakesReadEvent() {
    if (sslWriteWantsRead_) {
        sslWriteWantsRead_ = false;
        doWriteData();
        if (!(flags_ & kConnected)) return true;
    }
    if (!(flags_ & kReadSideAtTLS)) return false;
    if ((flags_ & kWriteSideAtTLS) && lastSSLHandshakeError_ == tls::status::wouldBlock) {
        ssl_continueSSLHandshake();
    } else {
        // Parked until the write side reaches the TLS start, or waiting for a trust verdict.
        suspendReadSource();
    }
    return true;
}

bool DispatchTcpSocket::tlsTakesWriteEvent() {
    if (sslReadWantsWrite_) {
        sslReadWantsWrite_ = false;
        doReadData();
        if (!(flags_ & kConnected)) return true;
    }
    if (!(flags_ & kWriteSideAtTLS)) return false;
    if (!(flags_ & kWritable)) {
        resumeWriteSource();
    } else if ((flags_ & kReadSideAtTLS) && lastSSLHandshakeError_ == tls::status::wouldBlock) {
        ssl_continueSSLHandshake();
    } else {
        suspendWriteSource();
    }
    return true;
}

std::uint64_t DispatchTcpSocket::sslBufferedEstimate() const {
    return (sslPreBuffer_ ? sslPreBuffer_->availableBytes() : 0) +
           (sslSession_ ? sslSession_->bufferedReadSize() : 0);
}

std::uint64_t DispatchTcpSocket::sslReadInto(std::uint8_t* target, std::uint64_t length,
                                             bool* waiting, bool* eof,
                                             std::optional<foundation::Error>* error) {
    std::uint64_t got = 0;
    while (got < length) {
        const auto r = sslSession_->read(target + got, length - got);
        if (r.status == tls::status::ok && r.bytes > 0) {
            got += r.bytes;
            continue;
        }
        if (r.status == tls::status::wouldBlock) {
            *waiting = true;
            if (r.want == tls::Session::Want::write) {
                sslReadWantsWrite_ = true;
                resumeWriteSource();
            }
        } else if (r.status == tls::status::closedGraceful ||
                   r.status == tls::status::closedAbort) {
            sslErrCode_ = r.status;
            *eof = true;
        } else if (r.status != tls::status::ok) {
            *error = sslSession_->error();
        }
        break;
    }
    return got;
}

std::uint64_t DispatchTcpSocket::sslWritePass(DispatchTcpWritePacket& p, bool* waiting,
                                              std::optional<foundation::Error>* error) {
    std::uint64_t written = 0;
    const std::uint64_t total = p.buffer.size();
    while (p.bytesDone + written < total) {
        const std::uint64_t left = total - p.bytesDone - written;
        // After a would-block the session must be offered the same piece again.
        const std::size_t piece =
            sslWriteCachedLength_ > 0
                ? static_cast<std::size_t>(std::min(sslWriteCachedLength_, left))
                : static_cast<std::size_t>(std::min<std::uint64_t>(kTLSWritePiece, left));
        const auto r = sslSession_->write(p.buffer.data() + p.bytesDone + written, piece);
        if (r.status == tls::status::ok) {
            written += r.bytes;
            sslWriteCachedLength_ = 0;
            if (r.bytes == 0) break;
            continue;
        }
        if (r.status == tls::status::wouldBlock) {
            sslWriteCachedLength_ = sslSession_->pendingWriteLength();
            *waiting = true;
            if (r.want == tls::Session::Want::read) {
                sslWriteWantsRead_ = true;
                resumeReadSource();
            }
        } else {
            *error = sslSession_->error();
        }
        break;
    }
    return written;
}

void DispatchTcpSocket::sslRetryReadIfBuffered() {
    if (!(flags_ & kSecure) || sslBufferedEstimate() == 0) return;
    socketQueue_.queue()->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->doReadData();
    });
}

void DispatchTcpSocket::flushSSLBuffers() {
    if (!(flags_ & kSecure)) {
        assertionFailure("Cannot flush ssl buffers on non-secure socket", __LINE__);
        return;
    }
    if (preBuffer_.availableBytes() > 0 || !sslSession_) return;
    for (;;) {
        std::uint64_t estimate = socketFDBytesAvailable_ + sslBufferedEstimate();
        if (estimate == 0) {
            // At end of input the session must read once more: only it can tell a close_notify
            // from a stream cut short.
            if (!(flags_ & kSawEOF) || sslErrCode_ != 0) break;
            estimate = kSSLPreBufferSize;
        }
        preBuffer_.ensureCapacityForWrite(estimate);
        const auto r = sslSession_->read(preBuffer_.writeBuffer(), estimate);
        preBuffer_.didWrite(r.bytes);
        if (r.status != tls::status::ok || r.bytes == 0) {
            // A close seen here decides how a later end of input closes the socket.
            if (r.status == tls::status::closedGraceful || r.status == tls::status::closedAbort)
                sslErrCode_ = r.status;
            break;
        }
    }
}

std::optional<foundation::Error> DispatchTcpSocket::sslClosingError() const {
    if (sslErrCode_ == 0 || sslErrCode_ == tls::status::closedGraceful) return std::nullopt;
    const bool same = sslSession_ && sslSession_->lastStatus() == sslErrCode_;
    return tls::sslError(sslErrCode_, same ? sslSession_->lastErrorText() : std::string());
}

void DispatchTcpSocket::closeTLS() {
    if (sslSession_) {
        // close_notify first (when secure), so the peer can tell our close from a cut.
        sslSession_->shutdown();
        sslSession_.reset();
    }
    sslPreBuffer_.reset();
    sslWriteCachedLength_ = 0;
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
    sslReadWantsWrite_ = false;
    sslWriteWantsRead_ = false;
}

}  // namespace rozuri
