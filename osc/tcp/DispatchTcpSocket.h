#pragma once

#include <netinet/in.h>
#include <openssl/types.h>
#include <sys/un.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpReadPacket.h"
#include "osc/tcp/DispatchTcpSocketDelegate.h"
#include "osc/tcp/DispatchTcpSocketPreBuffer.h"
#include "osc/tcp/DispatchTcpSpecialPacket.h"
#include "osc/tcp/DispatchTcpWritePacket.h"
#include "osc/udp/SocketQueue.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/tls/Session.h"

namespace rozuri {

// An asynchronous stream socket: TCP over IPv4 and IPv6, or a Unix-domain stream socket named by
// a file URL. It listens, connects, and serves one queue of reads and one of writes, driven by
// dispatch sources on its serial socket queue, which owns all of its state. Results reach the
// delegate as callbacks posted to the delegate queue.
//
// Public operations run inline when called on the socket queue (or a queue marked with
// markSocketQueueTargetQueue); otherwise those with a result wait for the socket queue, and
// setters and requests are queued. Requests that fail their checks, or come while the socket
// takes none, are dropped without a callback.
//
// Addresses are whole socket addresses as bytes: a sockaddr_in (16 bytes), a sockaddr_in6
// (28 bytes) or a sockaddr_un; the family is read from sa_family.
class DispatchTcpSocket : public std::enable_shared_from_this<DispatchTcpSocket> {
  public:
    using Delegate = DispatchTcpSocketDelegate;

    static std::shared_ptr<DispatchTcpSocket> create();
    static std::shared_ptr<DispatchTcpSocket> create(std::shared_ptr<dispatch::Queue> socketQueue);
    // A socket queue must be serial (a concurrent one is refused by an assertion).
    static std::shared_ptr<DispatchTcpSocket> create(
        std::weak_ptr<Delegate> delegate, std::shared_ptr<dispatch::Queue> delegateQueue,
        std::shared_ptr<dispatch::Queue> socketQueue = nullptr);
    // Wraps a connected TCP descriptor. On failure: null and the error; the descriptor stays
    // open and the caller's.
    static std::shared_ptr<DispatchTcpSocket> socketFromConnectedSocketFD(
        int fd, std::weak_ptr<Delegate> delegate, std::shared_ptr<dispatch::Queue> delegateQueue,
        std::shared_ptr<dispatch::Queue> socketQueue, foundation::Error* error = nullptr);
    static std::shared_ptr<DispatchTcpSocket> socketFromConnectedSocketFD(
        int fd, std::shared_ptr<dispatch::Queue> socketQueue, foundation::Error* error = nullptr);

    // Closes the socket; a disconnect callback posted from here carries no socket (null).
    ~DispatchTcpSocket();
    DispatchTcpSocket(const DispatchTcpSocket&) = delete;
    DispatchTcpSocket& operator=(const DispatchTcpSocket&) = delete;

    // ---- Delegate and configuration (DispatchTcpSocket.cpp) ----
    std::shared_ptr<Delegate> delegate() const;
    std::shared_ptr<dispatch::Queue> delegateQueue() const;
    void getDelegate(std::shared_ptr<Delegate>* delegate,
                     std::shared_ptr<dispatch::Queue>* delegateQueue) const;
    void setDelegate(std::weak_ptr<Delegate> delegate);
    void synchronouslySetDelegate(std::weak_ptr<Delegate> delegate);
    void setDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue);
    void synchronouslySetDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue);
    void setDelegate(std::weak_ptr<Delegate> delegate,
                     std::shared_ptr<dispatch::Queue> delegateQueue);
    void synchronouslySetDelegate(std::weak_ptr<Delegate> delegate,
                                  std::shared_ptr<dispatch::Queue> delegateQueue);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool enabled);
    bool isIPv4PreferredOverIPv6() const;
    void setIPv4PreferredOverIPv6(bool preferred);
    // Seconds before the second address family is tried; default 0.3. Not a number or negative
    // counts as 0; infinite never tries the second family.
    double alternateAddressDelay() const;
    void setAlternateAddressDelay(double seconds);
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> userData);
    // Whether end of input closes the socket (default true); false keeps it open for writing.
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);

    // ---- Accepting (DispatchTcpSocketAccept.cpp) ----
    bool acceptOnPort(std::uint16_t port, foundation::Error* error = nullptr);
    // `interface`: none = every address; "localhost"/"loopback"; an interface name ("lo"); an
    // IPv4 or IPv6 address of this host ("::1", "[::1]"); optionally ":port" (":8000" = any
    // address), used when `port` is 0.
    bool acceptOnInterface(const std::optional<std::string>& interface, std::uint16_t port,
                           foundation::Error* error = nullptr);
    // Listens on a Unix-domain socket file; an earlier socket file at the path is replaced, any
    // other file is left alone and refused.
    bool acceptOnUrl(const foundation::URL& url, foundation::Error* error = nullptr);

    // ---- Connecting (DispatchTcpSocketConnect.cpp) ----
    // A negative time-out (or not a number) means none. True when the attempt started; the
    // result arrives as socketDidConnectToHost/Url or socketDidDisconnect.
    bool connectToHost(const std::string& host, std::uint16_t port,
                       foundation::Error* error = nullptr);
    bool connectToHost(const std::string& host, std::uint16_t port, double timeout,
                       foundation::Error* error = nullptr);
    bool connectToHost(const std::string& host, std::uint16_t port,
                       const std::optional<std::string>& interface, double timeout,
                       foundation::Error* error = nullptr);
    bool connectToAddress(const Data& address, foundation::Error* error = nullptr);
    bool connectToAddress(const Data& address, double timeout, foundation::Error* error = nullptr);
    bool connectToAddress(const Data& address, const std::optional<std::string>& interface,
                          double timeout, foundation::Error* error = nullptr);
    bool connectToUrl(const foundation::URL& url, double timeout,
                      foundation::Error* error = nullptr);
    // Tries each address of a resolved service in order; true at the first that starts.
    bool connectToNetService(const std::vector<Data>& addresses,
                             foundation::Error* error = nullptr);

    // ---- Disconnecting (DispatchTcpSocketClose.cpp) ----
    // Closes at once; no-op on a socket never started.
    void disconnect();
    // Refuse new requests and close once the chosen sides have no request left. A socket with
    // writes left to drain keeps itself alive until they are written, even when released.
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // ---- Queries (DispatchTcpSocketQueries.cpp) ----
    bool isDisconnected() const;
    bool isConnected() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;
    std::optional<std::string> connectedHost() const;
    std::uint16_t connectedPort() const;
    std::optional<foundation::URL> connectedUrl() const;
    std::optional<std::string> localHost() const;
    std::uint16_t localPort() const;
    std::optional<Data> connectedAddress() const;
    std::optional<Data> localAddress() const;
    std::optional<std::string> connectedHost4() const;
    std::optional<std::string> connectedHost6() const;
    std::uint16_t connectedPort4() const;
    std::uint16_t connectedPort6() const;
    std::optional<std::string> localHost4() const;
    std::optional<std::string> localHost6() const;
    std::uint16_t localPort4() const;
    std::uint16_t localPort6() const;

    // ---- Reading (DispatchTcpSocketRead.cpp) ----
    // Buffers given by the caller are filled from `offset` on (which must not exceed their
    // length) and grow as needed; the delegate gets a copy of the bytes read.
    void readDataWithTimeout(double timeout, std::int64_t tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Data> buffer, std::uint64_t offset,
                             std::int64_t tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<Data> buffer, std::uint64_t offset,
                             std::uint64_t maxLength, std::int64_t tag);
    // `length` may come from a peer: memory grows only with the bytes that arrive.
    void readDataToLength(std::uint64_t length, double timeout, std::int64_t tag);
    void readDataToLength(std::uint64_t length, double timeout, std::shared_ptr<Data> buffer,
                          std::uint64_t offset, std::int64_t tag);
    // Up to and including `terminator`; with maxLength (0 = none, else at least the
    // terminator's length) reached first, the socket closes with ReadMaxedOut.
    void readDataToData(const Data& terminator, double timeout, std::int64_t tag);
    void readDataToData(const Data& terminator, double timeout, std::shared_ptr<Data> buffer,
                        std::uint64_t offset, std::int64_t tag);
    void readDataToData(const Data& terminator, double timeout, std::uint64_t maxLength,
                        std::int64_t tag);
    void readDataToData(const Data& terminator, double timeout, std::shared_ptr<Data> buffer,
                        std::uint64_t offset, std::uint64_t maxLength, std::int64_t tag);
    // NaN with no current read (or a TLS start); else bytesDone / total (1 when total is 0).
    float progressOfRead(std::int64_t* tag, std::uint64_t* bytesDone, std::uint64_t* total) const;

    // ---- Writing (DispatchTcpSocketWrite.cpp) ----
    // Empty data is dropped.
    void writeData(Data data, double timeout, std::int64_t tag);
    float progressOfWrite(std::int64_t* tag, std::uint64_t* bytesDone, std::uint64_t* total) const;

    // ---- TLS (DispatchTcpSocketTLS.cpp) ----
    // Queues the upgrade behind the reads and writes already queued: earlier bytes go in the
    // clear, later ones only once secure (socketDidSecure). Only the first request of a
    // connection counts; a failure disconnects. See platform/tls/README.md for the settings.
    void startTLS(tls::Settings settings = {});
    // The TLS session's SSL; null off the socket queue and before the upgrade started.
    SSL* sslContext() const;

    // ---- Queue discipline ----
    // Runs `block` on the socket queue and waits (inline when already there).
    void performBlock(const std::function<void()>& block);
    void markSocketQueueTargetQueue(dispatch::Queue& queue);
    void unmarkSocketQueueTargetQueue(dispatch::Queue& queue);
    // -1 off the socket queue. socketFD is the IPv4 descriptor unless that is -1, then the IPv6
    // one; a Unix-domain descriptor is never reported.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;

    // ---- Errors ----
    static foundation::Error badConfigError(const std::string& text);
    static foundation::Error badParamError(const std::string& text);
    static foundation::Error connectTimeoutError();
    static foundation::Error readTimeoutError();
    static foundation::Error writeTimeoutError();
    static foundation::Error readMaxedOutError();
    static foundation::Error connectionClosedError();
    static foundation::Error otherError(const std::string& text);
    // `err` is the errno captured right after the failing call.
    static foundation::Error errnoError(int err, const std::string& reason = {});
    static foundation::Error gaiError(int code);

    // ---- Class helpers (DispatchTcpSocketUtilities.cpp) ----
    // Every IPv4 and IPv6 address of `host` with `port`; "localhost"/"loopback" give 127.0.0.1
    // then ::1 without the resolver. None (and the error) when the lookup fails; empty with the
    // error when it found nothing usable.
    static std::optional<std::vector<Data>> lookupHost(const std::string& host, std::uint16_t port,
                                                       foundation::Error* error = nullptr);
    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    static std::uint16_t portFromSockaddr4(const sockaddr_in& address);
    static std::uint16_t portFromSockaddr6(const sockaddr_in6& address);
    // None for an unnamed peer.
    static std::optional<foundation::URL> urlFromSockaddrUN(const sockaddr_un& address,
                                                            socklen_t length);
    static std::optional<std::string> hostFromAddress(const Data& address);
    static std::uint16_t portFromAddress(const Data& address);
    // At least 16 bytes and the family's number (a 16-byte IPv6 family passes here, though
    // getHost needs 28).
    static bool isIPv4Address(const Data& address);
    static bool isIPv6Address(const Data& address);
    // False, outputs untouched, for a buffer that is no IPv4 or IPv6 address.
    static bool getHost(std::string* host, std::uint16_t* port, int* family, const Data& address);
    static bool getHost(std::string* host, std::uint16_t* port, const Data& address);
    static Data CRLFData();
    static Data CRData();
    static Data LFData();
    static Data ZeroData();

    // Interface description (see acceptOnInterface) to addresses with `port`; a family the
    // description does not name stays none.
    static void getInterfaceAddress(std::optional<Data>* address4, std::optional<Data>* address6,
                                    const std::optional<std::string>& description,
                                    std::uint16_t port);
    // The sockaddr_un bytes of a file URL; none for an empty path or one longer than the
    // address holds (107 bytes).
    static std::optional<Data> getInterfaceAddressFromUrl(const foundation::URL& url);

  private:
    DispatchTcpSocket(std::weak_ptr<Delegate> delegate,
                      std::shared_ptr<dispatch::Queue> delegateQueue,
                      std::shared_ptr<dispatch::Queue> socketQueue);

    struct QueuedRead {
        std::shared_ptr<DispatchTcpReadPacket> read;
        std::shared_ptr<DispatchTcpSpecialPacket> tls;
    };
    struct QueuedWrite {
        std::shared_ptr<DispatchTcpWritePacket> write;
        std::shared_ptr<DispatchTcpSpecialPacket> tls;
    };

    bool isOnSocketQueue() const { return socketQueue_.isCurrent(); }
    // False, with the bad-configuration error naming `action` ("accept", "connect"), when no
    // delegate or no delegate queue is set.
    bool checkDelegateFor(const char* action, foundation::Error* error) const;
    void assertOnSocketQueue(int line) const;
    template <class F>
    auto onSocketQueue(F&& f) const -> decltype(f()) {
        return socketQueue_.result(std::forward<F>(f));
    }
    // Inline on the socket queue; otherwise queued, and dropped if the socket is gone by the
    // time it runs (a socket can be released on its own queue while the block waits).
    void asyncOnSocketQueue(std::function<void()> work) const {
        if (socketQueue_.isCurrent()) {
            work();
            return;
        }
        socketQueue_.queue()->async([weak = weak_from_this(), work = std::move(work)] {
            if (auto self = weak.lock()) work();
        });
    }
    // Posts `call(delegate, socket)` to the delegate queue when the delegate implements it.
    void notify(Delegate::Callback callback,
                std::function<void(Delegate&, const std::shared_ptr<DispatchTcpSocket>&)> call);

    // Accepting.
    int createListenSocket(int family, const Data& address, foundation::Error* error);
    bool listenOnAddresses(const std::optional<Data>& address4, const std::optional<Data>& address6,
                           bool ipv6Optional, foundation::Error* error);
    std::shared_ptr<dispatch::Source> makeAcceptSource(int fd);
    bool doAccept(int listenFD, const std::shared_ptr<dispatch::Source>& source);
    void pauseAccepting(const std::shared_ptr<dispatch::Source>& source,
                        std::chrono::milliseconds pause);

    // Connecting.
    bool preConnectWithInterface(const std::optional<std::string>& interface,
                                 foundation::Error* error);
    bool preConnectWithUrl(const foundation::URL& url, foundation::Error* error);
    void lookupDidSucceed(std::int64_t index, std::optional<Data> address4,
                          std::optional<Data> address6);
    void lookupDidFail(std::int64_t index, const foundation::Error& error);
    bool connectWithAddress4(const std::optional<Data>& address4,
                             const std::optional<Data>& address6, foundation::Error* error);
    int createConnectSocket(int family, const std::optional<Data>& interface,
                            foundation::Error* error);
    void connectSocket(int family, std::int64_t index);
    void connectAttemptFinished(int family, int fd, std::int64_t index, int err);
    void closeSocket(int family);
    bool connectWithAddressUN(const Data& address, foundation::Error* error);
    void didConnect(std::int64_t index);
    void didNotConnect(std::int64_t index, const foundation::Error& error);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();
    void doConnectTimeout();

    // Closing.
    void closeWithError(const std::optional<foundation::Error>& error);
    void maybeClose();
    void disconnectAfter(std::uint32_t sides);
    void updateDrainHold();
    void releaseDrainHold();

    // Reading.
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int fd);
    void readSourceFired();
    void enqueueRead(std::shared_ptr<DispatchTcpReadPacket> packet);
    void maybeDequeueRead();
    void dequeueReadOnce();
    void doReadData();
    void doReadEOF();
    void completeCurrentRead();
    void endCurrentRead();
    void setupReadTimerWithTimeout(double timeout);
    void doReadTimeout();
    void doReadTimeoutWithExtension(double extension,
                                    const std::shared_ptr<DispatchTcpReadPacket>& packet,
                                    std::int64_t index);
    void suspendReadSource();
    void resumeReadSource();

    // Writing.
    void maybeDequeueWrite();
    void doWriteData();
    void doPlainWrites();
    void completeCurrentWrite();
    void endCurrentWrite();
    void setupWriteTimerWithTimeout(double timeout);
    void doWriteTimeout();
    void doWriteTimeoutWithExtension(double extension,
                                     const std::shared_ptr<DispatchTcpWritePacket>& packet,
                                     std::int64_t index);
    void suspendWriteSource();
    void resumeWriteSource();

    // The plain descriptor I/O; a TLS session's transport reads and writes through these.
    // Bytes moved, 0 at end of input (reads), or -1 with *err set.
    long plainRead(std::uint8_t* buffer, std::size_t length, int* err);
    long plainWrite(const std::uint8_t* buffer, std::size_t length, int* err);
    // TLS (DispatchTcpSocketTLS.cpp): starts once both queues reached the TLS start.
    void maybeStartTLS();
    void ssl_startTLS();
    void ssl_continueSSLHandshake();
    void sslHandshakeStepDone(const tls::Session::Result& result);
    void ssl_shouldTrustPeer(bool trusted, std::int64_t index);
    void flushSSLBuffers();
    tls::IOResult sslReadWithBuffer(std::uint8_t* buffer, std::size_t length);
    tls::IOResult sslWriteWithBuffer(const std::uint8_t* buffer, std::size_t length);
    // Hooks of the read and write machines: true when the event was the TLS layer's.
    bool tlsTakesReadEvent();
    bool tlsTakesWriteEvent();
    // Decrypted or raw bytes the session holds beyond the descriptor's count.
    std::uint64_t sslBufferedEstimate() const;
    std::uint64_t sslReadInto(std::uint8_t* target, std::uint64_t length, bool* waiting, bool* eof,
                              std::optional<foundation::Error>* error);
    std::uint64_t sslWritePass(DispatchTcpWritePacket& packet, bool* waiting,
                               std::optional<foundation::Error>* error);
    // A read left waiting while the session still holds bytes gets no source event.
    void sslRetryReadIfBuffered();
    // The error an end of input closes with when the session saw one; none otherwise.
    std::optional<foundation::Error> sslClosingError() const;
    void closeTLS();

    int ioFD() const;
    std::optional<Data> peerAddress(int fd) const;
    std::optional<Data> ownAddress(int fd) const;

    std::weak_ptr<Delegate> delegate_;
    std::shared_ptr<dispatch::Queue> delegateQueue_;
    std::uint32_t flags_ = 0;
    std::uint16_t config_ = 0;

    int socket4FD_ = -1;
    int socket6FD_ = -1;
    int socketUN_ = -1;
    std::optional<foundation::URL> socketUrl_;
    // Generation of connection attempts; results of an older one are dropped.
    std::int64_t stateIndex_ = 0;
    std::optional<Data> connectInterface4_;
    std::optional<Data> connectInterface6_;
    std::optional<Data> connectInterfaceUN_;
    // The peers of the two attempts and their completion sources (write readiness).
    std::optional<Data> connectAddress4_;
    std::optional<Data> connectAddress6_;
    std::shared_ptr<dispatch::Source> connect4Source_;
    std::shared_ptr<dispatch::Source> connect6Source_;
    std::shared_ptr<dispatch::Source> connectUNSource_;
    // Wait before the next try of a Unix connect that found the listener's backlog full.
    std::chrono::milliseconds unixConnectRetryDelay_{0};

    net::SocketQueue socketQueue_;
    std::shared_ptr<dispatch::Source> accept4Source_;
    std::shared_ptr<dispatch::Source> accept6Source_;
    std::shared_ptr<dispatch::Source> acceptUNSource_;
    std::shared_ptr<dispatch::Source> connectTimer_;
    std::shared_ptr<dispatch::Source> readSource_;
    std::shared_ptr<dispatch::Source> writeSource_;
    std::shared_ptr<dispatch::Source> readTimer_;
    std::shared_ptr<dispatch::Source> writeTimer_;

    std::deque<QueuedRead> readQueue_;
    std::deque<QueuedWrite> writeQueue_;
    std::shared_ptr<DispatchTcpReadPacket> currentRead_;
    std::shared_ptr<DispatchTcpSpecialPacket> currentReadTLS_;
    std::shared_ptr<DispatchTcpWritePacket> currentWrite_;
    std::shared_ptr<DispatchTcpSpecialPacket> currentWriteTLS_;

    // maybeDequeueRead is running, and was asked again from within.
    bool dequeuingRead_ = false;
    bool readDequeueAgain_ = false;

    std::uint64_t socketFDBytesAvailable_ = 0;
    DispatchTcpSocketPreBuffer preBuffer_{4096};

    std::shared_ptr<tls::Session> sslSession_;
    std::unique_ptr<DispatchTcpSocketPreBuffer> sslPreBuffer_;
    std::uint64_t sslWriteCachedLength_ = 0;
    tls::Status sslErrCode_ = 0;
    tls::Status lastSSLHandshakeError_ = 0;
    // A session read that must write first (a key update), or the reverse.
    bool sslReadWantsWrite_ = false;
    bool sslWriteWantsRead_ = false;

    // A draining close holds the socket alive until its writes are out (or the drain stalls).
    std::shared_ptr<DispatchTcpSocket> drainHold_;
    std::shared_ptr<dispatch::Source> drainTimer_;
    std::uint64_t bytesWritten_ = 0;
    std::uint64_t drainCheckedBytes_ = 0;

    std::shared_ptr<void> userData_;
    double alternateAddressDelay_ = 0.3;
    // Connections accepted and not yet handed to the delegate, each holding a descriptor.
    std::atomic<std::size_t> acceptsInFlight_{0};
};

}  // namespace rozuri
