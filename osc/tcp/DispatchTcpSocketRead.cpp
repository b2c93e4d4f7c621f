#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// ---- Requests ----

void DispatchTcpSocket::readDataWithTimeout(double timeout, std::int64_t tag) {
    readDataWithTimeout(timeout, nullptr, 0, 0, tag);
}

void DispatchTcpSocket::readDataWithTimeout(double timeout, std::shared_ptr<Data> buffer,
                                            std::uint64_t offset, std::int64_t tag) {
    readDataWithTimeout(timeout, std::move(buffer), offset, 0, tag);
}

void DispatchTcpSocket::readDataWithTimeout(double timeout, std::shared_ptr<Data> buffer,
                                            std::uint64_t offset, std::uint64_t maxLength,
                                            std::int64_t tag) {
    if (offset > (buffer ? buffer->size() : 0)) return;
    enqueueRead(std::make_shared<DispatchTcpReadPacket>(std::move(buffer), offset, maxLength,
                                                        timeout, 0, std::nullopt, tag));
}

void DispatchTcpSocket::readDataToLength(std::uint64_t length, double timeout, std::int64_t tag) {
    readDataToLength(length, timeout, nullptr, 0, tag);
}

void DispatchTcpSocket::readDataToLength(std::uint64_t length, double timeout,
                                         std::shared_ptr<Data> buffer, std::uint64_t offset,
                                         std::int64_t tag) {
    if (length == 0 || offset > (buffer ? buffer->size() : 0)) return;
    enqueueRead(std::make_shared<DispatchTcpReadPacket>(std::move(buffer), offset, 0, timeout,
                                                        length, std::nullopt, tag));
}

void DispatchTcpSocket::readDataToData(const Data& terminator, double timeout, std::int64_t tag) {
    readDataToData(terminator, timeout, nullptr, 0, 0, tag);
}

void DispatchTcpSocket::readDataToData(const Data& terminator, double timeout,
                                       std::shared_ptr<Data> buffer, std::uint64_t offset,
                                       std::int64_t tag) {
    readDataToData(terminator, timeout, std::move(buffer), offset, 0, tag);
}

void DispatchTcpSocket::readDataToData(const Data& terminator, double timeout,
                                       std::uint64_t maxLength, std::int64_t tag) {
    readDataToData(terminator, timeout, nullptr, 0, maxLength, tag);
}

void DispatchTcpSocket::readDataToData(const Data& terminator, double timeout,
                                       std::shared_ptr<Data> buffer, std::uint64_t offset,
                                       std::uint64_t maxLength, std::int64_t tag) {
    if (terminator.empty() || (maxLength > 0 && maxLength < terminator.size())) return;
    if (offset > (buffer ? buffer->size() : 0)) return;
    enqueueRead(std::make_shared<DispatchTcpReadPacket>(std::move(buffer), offset, maxLength,
                                                        timeout, 0, terminator, tag));
}

void DispatchTcpSocket::enqueueRead(std::shared_ptr<DispatchTcpReadPacket> packet) {
    asyncOnSocketQueue([this, packet = std::move(packet)] {
        if (!(flags_ & kStarted) || (flags_ & kRefuseNewIO)) return;
        readQueue_.push_back({packet, nullptr});
        maybeDequeueRead();
    });
}

float DispatchTcpSocket::progressOfRead(std::int64_t* tag, std::uint64_t* bytesDone,
                                        std::uint64_t* total) const {
    return onSocketQueue([&]() -> float {
        const auto& p = currentRead_;
        if (tag) *tag = p ? p->tag : 0;
        if (bytesDone) *bytesDone = p ? p->bytesDone : 0;
        if (total) *total = p ? p->readLength : 0;
        if (!p) return std::nanf("");
        return p->readLength > 0 ? static_cast<float>(static_cast<double>(p->bytesDone) /
                                                      static_cast<double>(p->readLength))
                                 : 1.0f;
    });
}

// ---- Sources ----

void DispatchTcpSocket::setupReadAndWriteSourcesForNewlyConnectedSocket(int fd) {
    readSource_ = dispatch::Source::createRead(fd, socketQueue_.queue());
    writeSource_ = dispatch::Source::createWrite(fd, socketQueue_.queue());
    readSource_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->readSourceFired();
    });
    writeSource_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->flags_ |= kWritable;
            self->doWriteData();
        }
    });
    socketFDBytesAvailable_ = 0;
    flags_ &= ~kReadSourcePaused;
    readSource_->resume();
    // The write source waits, suspended, until a write finds the descriptor full.
    flags_ |= kWritable | kWriteSourcePaused;
}

void DispatchTcpSocket::readSourceFired() {
    if (!readSource_) return;
    // The source's count was taken when the event fired, and a read since may have taken the
    // bytes: ask the kernel now. And 0 readable is end of input only if the descriptor says
    // so; a reset with nothing queued reads 0 too.
    int queued = 0;
    if (::ioctl(ioFD(), FIONREAD, &queued) == 0 && queued > 0) {
        socketFDBytesAvailable_ = static_cast<std::uint64_t>(queued);
        doReadData();
        return;
    }
    std::uint8_t byte = 0;
    const ssize_t r = ::recv(ioFD(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (r == 0) {
        socketFDBytesAvailable_ = 0;
        doReadEOF();
    } else if (r > 0) {
        socketFDBytesAvailable_ = 1;
        doReadData();
    } else {
        const int err = errno;
        if (err != EAGAIN && err != EWOULDBLOCK && err != EINTR) {
            closeWithError(errnoError(err, "Error in read() function"));
        }
    }
}

void DispatchTcpSocket::suspendReadSource() {
    if (readSource_ && !(flags_ & kReadSourcePaused)) {
        readSource_->suspend();
        flags_ |= kReadSourcePaused;
    }
}

void DispatchTcpSocket::resumeReadSource() {
    if (readSource_ && (flags_ & kReadSourcePaused)) {
        readSource_->resume();
        flags_ &= ~kReadSourcePaused;
    }
}

long DispatchTcpSocket::plainRead(std::uint8_t* buffer, std::size_t length, int* err) {
    const ssize_t r = ::recv(ioFD(), buffer, length, 0);
    if (r < 0 && err) *err = errno;
    return static_cast<long>(r);
}

// ---- The read machine ----

void DispatchTcpSocket::maybeDequeueRead() {
    assertOnSocketQueue(__LINE__);
    // A completed read starts the next one from inside this call: run that as another turn of
    // the loop below, not as a deeper call, or a long queue of reads that finish in one burst
    // overflows the stack.
    if (dequeuingRead_) {
        readDequeueAgain_ = true;
        return;
    }
    dequeuingRead_ = true;
    do {
        readDequeueAgain_ = false;
        dequeueReadOnce();
    } while (readDequeueAgain_);
    dequeuingRead_ = false;
}

void DispatchTcpSocket::dequeueReadOnce() {
    if (currentRead_ || currentReadTLS_ || !(flags_ & kConnected)) return;
    if (!readQueue_.empty()) {
        QueuedRead next = std::move(readQueue_.front());
        readQueue_.pop_front();
        if (next.tls) {
            currentReadTLS_ = std::move(next.tls);
            flags_ |= kReadSideAtTLS;
            maybeStartTLS();
        } else {
            currentRead_ = std::move(next.read);
            setupReadTimerWithTimeout(currentRead_->timeout);
            doReadData();
        }
    } else if (flags_ & kCloseWhenReadsDone) {
        if (!(flags_ & kCloseWhenWritesDone) ||
            (writeQueue_.empty() && !currentWrite_ && !currentWriteTLS_)) {
            closeWithError(std::nullopt);
        }
    } else if (flags_ & kSecure) {
        flushSSLBuffers();
        if (preBuffer_.availableBytes() == 0) resumeReadSource();
    }
}

void DispatchTcpSocket::doReadData() {
    if (tlsTakesReadEvent()) return;
    if (!currentRead_ || (flags_ & kReadHeldForTimeout)) {
        if (flags_ & kSecure) flushSSLBuffers();
        // Nothing wants the bytes: keep the level-triggered source quiet until a read does.
        if (socketFDBytesAvailable_ > 0) suspendReadSource();
        return;
    }
    if (socketFDBytesAvailable_ == 0 && preBuffer_.availableBytes() == 0 && !(flags_ & kSawEOF)) {
        // The estimate is stale once a read took it to 0: ask the kernel again, which saves a
        // round through the event loop when a stream keeps arriving.
        int queued = 0;
        if (::ioctl(ioFD(), FIONREAD, &queued) == 0 && queued > 0) {
            socketFDBytesAvailable_ = static_cast<std::uint64_t>(queued);
        }
    }
    const std::uint64_t estimate =
        socketFDBytesAvailable_ + ((flags_ & kSecure) ? sslBufferedEstimate() : 0);
    const bool hasBytes = estimate > 0;
    if (!hasBytes && preBuffer_.availableBytes() == 0) {
        resumeReadSource();
        return;
    }
    auto packet = currentRead_;
    auto& p = *packet;
    bool done = false;
    std::optional<foundation::Error> error;
    std::uint64_t totalBytesThisPass = 0;
    bool eof = (flags_ & kSawEOF) != 0;
    bool waiting = false;
    try {
        if (preBuffer_.availableBytes() > 0) {
            const std::uint64_t n =
                p.term ? p.readLengthForTermWithPreBuffer(preBuffer_, &done)
                       : p.readLengthForNonTermWithHint(preBuffer_.availableBytes());
            p.ensureCapacityForAdditionalDataOfLength(n);
            if (n > 0) {
                std::memcpy(p.buffer->data() + p.startOffset + p.bytesDone, preBuffer_.readBuffer(),
                            n);
            }
            preBuffer_.didRead(n);
            p.bytesDone += n;
            totalBytesThisPass += n;
            if (p.readLength > 0) {
                done = p.bytesDone == p.readLength;
            } else if (p.term) {
                if (!done && p.maxLength > 0 && p.bytesDone >= p.maxLength) {
                    error = readMaxedOutError();
                }
            } else {
                done = p.maxLength > 0 && p.bytesDone == p.maxLength;
            }
        }
        waiting = !done && !error && !eof && !hasBytes;
        if (!done && !error && !eof && hasBytes) {
            if (preBuffer_.availableBytes() > 0) assertionFailure("Invalid logic", __LINE__);
            bool intoPre = false;
            const bool secure = (flags_ & kSecure) != 0;
            const std::uint64_t n =
                secure ? p.optimalReadLengthWithDefault(
                             estimate <= 32768 ? 32768 : estimate + 16384, &intoPre)
                : p.term ? p.readLengthForTermWithHint(estimate, &intoPre)
                         : p.readLengthForNonTermWithHint(estimate);
            if (intoPre && p.readLength > 0) assertionFailure("Invalid logic", __LINE__);
            std::uint8_t* target = nullptr;
            if (intoPre) {
                preBuffer_.ensureCapacityForWrite(n);
                target = preBuffer_.writeBuffer();
            } else {
                p.ensureCapacityForAdditionalDataOfLength(n);
                target = p.buffer->data() + p.startOffset + p.bytesDone;
            }
            std::uint64_t got = 0;
            if (secure) {
                got = sslReadInto(target, n, &waiting, &eof, &error);
            } else {
                int err = 0;
                const long r = n > 0 ? plainRead(target, n, &err) : (err = EAGAIN, -1);
                if (r < 0) {
                    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
                        waiting = true;
                    } else {
                        error = errnoError(err, "Error in read() function");
                    }
                    socketFDBytesAvailable_ = 0;
                } else if (r == 0) {
                    socketFDBytesAvailable_ = 0;
                    eof = true;
                } else {
                    got = static_cast<std::uint64_t>(r);
                    if (got < n) {
                        waiting = true;
                        socketFDBytesAvailable_ = 0;
                    } else {
                        socketFDBytesAvailable_ =
                            socketFDBytesAvailable_ > got ? socketFDBytesAvailable_ - got : 0;
                        waiting = socketFDBytesAvailable_ == 0;
                    }
                }
            }
            if (got > 0) {
                if (p.readLength > 0) {
                    p.bytesDone += got;
                    totalBytesThisPass += got;
                    done = p.bytesDone == p.readLength;
                } else if (p.term && intoPre) {
                    preBuffer_.didWrite(got);
                    bool found = false;
                    const std::uint64_t m = p.readLengthForTermWithPreBuffer(preBuffer_, &found);
                    // The packet may lack the room: that is why the bytes went to the pre-buffer.
                    p.ensureCapacityForAdditionalDataOfLength(m);
                    std::memcpy(p.buffer->data() + p.startOffset + p.bytesDone,
                                preBuffer_.readBuffer(), m);
                    preBuffer_.didRead(m);
                    p.bytesDone += m;
                    totalBytesThisPass += m;
                    done = found;
                    if (!found && p.maxLength > 0 && p.bytesDone >= p.maxLength) {
                        error = readMaxedOutError();
                    }
                } else if (p.term) {
                    const std::int64_t after = p.searchForTermAfterPreBuffering(got);
                    if (after >= 0) {
                        const auto extra = static_cast<std::uint64_t>(after);
                        if (extra > 0) {
                            preBuffer_.ensureCapacityForWrite(extra);
                            std::memcpy(preBuffer_.writeBuffer(), target + (got - extra), extra);
                            preBuffer_.didWrite(extra);
                        }
                        p.bytesDone += got - extra;
                        totalBytesThisPass += got - extra;
                        done = true;
                    } else {
                        p.bytesDone += got;
                        totalBytesThisPass += got;
                        if (p.maxLength > 0 && p.bytesDone >= p.maxLength) {
                            error = readMaxedOutError();
                        }
                    }
                } else {
                    if (intoPre) {
                        preBuffer_.didWrite(got);
                        p.ensureCapacityForAdditionalDataOfLength(got);
                        std::memcpy(p.buffer->data() + p.startOffset + p.bytesDone,
                                    preBuffer_.readBuffer(), got);
                        preBuffer_.didRead(got);
                    }
                    p.bytesDone += got;
                    totalBytesThisPass += got;
                    done = true;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        // A length or a backlog larger than this process can hold.
        error = otherError("Not enough memory to hold the data read.");
        done = false;
    } catch (const std::length_error&) {
        error = otherError("Not enough memory to hold the data read.");
        done = false;
    }

    if (!done && !error && p.readLength == 0 && !p.term && totalBytesThisPass > 0) done = true;
    if (done) {
        completeCurrentRead();
        if (error) {
            closeWithError(*error);
        } else if (eof) {
            if (preBuffer_.availableBytes() > 0) maybeDequeueRead();
            doReadEOF();
        } else {
            maybeDequeueRead();
            if (waiting) resumeReadSource();
        }
        return;
    }
    if (totalBytesThisPass > 0) {
        notify(Delegate::didReadPartialData,
               [n = totalBytesThisPass, tag = p.tag](Delegate& d, const auto& socket) {
                   d.socketDidReadPartialDataOfLength(socket, n, tag);
               });
        waiting = true;
    }
    if (error) {
        closeWithError(*error);
    } else if (eof) {
        doReadEOF();
    } else if (waiting) {
        resumeReadSource();
        sslRetryReadIfBuffered();
    }
}

void DispatchTcpSocket::doReadEOF() {
    if (!(flags_ & kConnected)) return;  // closed by the read that came before
    flags_ |= kSawEOF;
    if (flags_ & kSecure) flushSSLBuffers();
    if (flags_ & (kReadSideAtTLS | kWriteSideAtTLS)) {
        // The peer left in the middle of the handshake.
        closeWithError(tls::sslError(tls::status::closedAbort));
        return;
    }
    if ((flags_ & kReadHalfClosed) || preBuffer_.availableBytes() > 0) {
        // Bytes still wait for later reads; the end of input stays noted.
        suspendReadSource();
        return;
    }
    if (config_ & kKeepOpenAfterReadEOF) {
        pollfd pfd{};
        pfd.fd = ioFD();
        pfd.events = POLLOUT;
        const bool writable = ::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLOUT) &&
                              !(pfd.revents & (POLLERR | POLLHUP));
        if (writable) {
            flags_ |= kReadHalfClosed;
            notify(Delegate::didCloseReadStream,
                   [](Delegate& d, const auto& socket) { d.socketDidCloseReadStream(socket); });
            suspendReadSource();
            return;
        }
    }
    closeWithError(sslClosingError().value_or(connectionClosedError()));
}

void DispatchTcpSocket::completeCurrentRead() {
    if (!currentRead_) {
        assertionFailure("Trying to complete current read when there is no current read.",
                         __LINE__);
        return;
    }
    auto& p = *currentRead_;
    Data result;
    if (p.bufferOwner) {
        p.buffer->resize(p.bytesDone);
        result = std::move(*p.buffer);
    } else {
        if (p.buffer->size() > p.originalBufferLength) {
            p.buffer->resize(std::max(p.originalBufferLength, p.startOffset + p.bytesDone));
        }
        const auto begin = p.buffer->begin() + static_cast<std::ptrdiff_t>(p.startOffset);
        result.assign(begin, begin + static_cast<std::ptrdiff_t>(p.bytesDone));
    }
    notify(Delegate::didReadData,
           [data = std::move(result), tag = p.tag](Delegate& d, const auto& socket) mutable {
               d.socketDidReadData(socket, std::move(data), tag);
           });
    endCurrentRead();
}

void DispatchTcpSocket::endCurrentRead() {
    if (readTimer_) {
        readTimer_->cancel();
        readTimer_.reset();
    }
    currentRead_.reset();
    currentReadTLS_.reset();
}

// ---- Time-outs ----

void DispatchTcpSocket::setupReadTimerWithTimeout(double timeout) {
    const auto wait = timeoutDuration(timeout);
    if (!wait) return;
    readTimer_ = dispatch::Source::createTimer(socketQueue_.queue());
    readTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->doReadTimeout();
    });
    readTimer_->scheduleAfter(*wait);
    readTimer_->resume();
}

void DispatchTcpSocket::doReadTimeout() {
    auto packet = currentRead_;
    if (!packet) return;
    flags_ |= kReadHeldForTimeout;
    const std::int64_t index = stateIndex_;
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ || !delegate->respondsTo(Delegate::shouldTimeoutRead)) {
        doReadTimeoutWithExtension(0, packet, index);
        return;
    }
    // The answer names the connection and the read it is about: a late one for an earlier
    // read, or an earlier connection, is dropped.
    delegateQueue_->async([delegate, self = shared_from_this(), weakPacket = std::weak_ptr(packet),
                           index, tag = packet->tag, elapsed = packet->timeout,
                           done = packet->bytesDone] {
        const double extension = delegate->socketShouldTimeoutReadWithTag(self, tag, elapsed, done);
        self->socketQueue_.queue()->async(
            [weak = std::weak_ptr(self), weakPacket, index, extension] {
                auto s = weak.lock();
                auto p = weakPacket.lock();
                if (s && p) s->doReadTimeoutWithExtension(extension, p, index);
            });
    });
}

void DispatchTcpSocket::doReadTimeoutWithExtension(
    double extension, const std::shared_ptr<DispatchTcpReadPacket>& packet, std::int64_t index) {
    if (!currentRead_ || currentRead_ != packet || index != stateIndex_) return;
    if (extension > 0) {
        currentRead_->timeout += extension;
        if (auto wait = timeoutDuration(extension); wait && readTimer_) {
            readTimer_->scheduleAfter(*wait);
        }
        flags_ &= ~kReadHeldForTimeout;
        doReadData();
    } else {
        closeWithError(readTimeoutError());
    }
}

}  // namespace rozuri
