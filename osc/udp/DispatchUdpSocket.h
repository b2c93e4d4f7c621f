#pragma once

#include <netinet/in.h>

#include <any>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/udp/DispatchUdpSendPacket.h"
#include "osc/udp/DispatchUdpSocketDelegate.h"
#include "osc/udp/SocketQueue.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// An asynchronous UDP socket: one IPv4 and/or one IPv6 datagram socket driven by read sources
// on a serial socket queue, which owns all of its state. Results reach the delegate as
// callbacks posted to the delegate queue.
//
// Public operations run inline when called on the socket queue (or a queue marked with
// markSocketQueueTargetQueue); otherwise those with a result wait for the socket queue and the
// plain setters are queued.
//
// Addresses are whole socket addresses as bytes: a sockaddr_in (16 bytes) or a sockaddr_in6
// (28 bytes); the family is read from sa_family.
//
// Sending: every datagram of one byte or more is answered once on the delegate queue, by
// didSendDataWithTag or didNotSendDataWithTag, in the order handed over. A datagram that the
// system refuses (too large, port 0, broadcast not enabled, unreachable, ...) fails alone and
// the socket stays open; only a descriptor that is no socket any more closes it. Closing
// reports every datagram still waiting as not sent with "Socket closed", before the close.
class DispatchUdpSocket : public std::enable_shared_from_this<DispatchUdpSocket> {
  public:
    // Keeps or drops a received datagram; may set the context handed on with it.
    using ReceiveFilter =
        std::function<bool(const Data& data, const Data& address, std::any* filterContext)>;
    // Sends (true) or drops a datagram; a dropped one counts as sent.
    using SendFilter = std::function<bool(const Data& data, const Data& address, std::int64_t tag)>;

    // What the destination choice needs to know of a socket. A family is unusable when it has
    // no open socket, or when bind, connect or a multicast join left it inactive.
    struct DestinationRules {
        bool ipv4Disabled = false;
        bool ipv6Disabled = false;
        bool ipv4Unusable = false;
        bool ipv6Unusable = false;
        bool preferIPv4 = false;
        bool preferIPv6 = false;
    };

    static std::shared_ptr<DispatchUdpSocket> create();
    static std::shared_ptr<DispatchUdpSocket> create(std::shared_ptr<dispatch::Queue> socketQueue);
    static std::shared_ptr<DispatchUdpSocket> create(
        std::weak_ptr<DispatchUdpSocketDelegate> delegate,
        std::shared_ptr<dispatch::Queue> delegateQueue,
        std::shared_ptr<dispatch::Queue> socketQueue = nullptr);

    // Closes the socket. A close callback posted from here carries no socket (null).
    ~DispatchUdpSocket();
    DispatchUdpSocket(const DispatchUdpSocket&) = delete;
    DispatchUdpSocket& operator=(const DispatchUdpSocket&) = delete;

    // Configuration.
    std::shared_ptr<DispatchUdpSocketDelegate> delegate() const;
    std::shared_ptr<dispatch::Queue> delegateQueue() const;
    void getDelegate(std::shared_ptr<DispatchUdpSocketDelegate>* delegate,
                     std::shared_ptr<dispatch::Queue>* delegateQueue) const;
    void setDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate);
    void synchronouslySetDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate);
    void setDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue);
    void synchronouslySetDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue);
    void setDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                     std::shared_ptr<dispatch::Queue> delegateQueue);
    void synchronouslySetDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                                  std::shared_ptr<dispatch::Queue> delegateQueue);

    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool enabled);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool enabled);
    bool isIPv4Preferred() const;
    bool isIPv6Preferred() const;
    bool isIPVersionNeutral() const;
    void setPreferIPv4();
    void setPreferIPv6();
    void setIPVersionNeutral();

    std::uint16_t maxReceiveIPv4BufferSize() const;
    void setMaxReceiveIPv4BufferSize(std::uint16_t size);
    // IPv6 reads use at most 65535 bytes whatever is set here (no larger datagram exists
    // without jumbograms), so a large value cannot make the socket allocate gigabytes.
    std::uint32_t maxReceiveIPv6BufferSize() const;
    void setMaxReceiveIPv6BufferSize(std::uint32_t size);
    // Given to SO_SNDBUF when the sockets are created, and to SO_RCVBUF where it raises the
    // system default.
    std::uint16_t maxSendBufferSize() const;
    void setMaxSendBufferSize(std::uint16_t size);

    // A free slot for the owner; the setter keeps the held object when given the same one.
    std::shared_ptr<void> userData() const;
    void setUserData(std::shared_ptr<void> userData);

    // Runs `block` on the socket queue and waits.
    void performBlock(const std::function<void()>& block);
    // Lets work on `queue` (which targets the socket queue) count as on the socket queue.
    void markSocketQueueTargetQueue(dispatch::Queue& queue);
    void unmarkSocketQueueTargetQueue(dispatch::Queue& queue);

    // The descriptors; -1 when called off the socket queue. socketFD is the IPv4 one unless
    // that is -1.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;

    // Binding and options.
    bool bindToPort(std::uint16_t port, foundation::Error* error = nullptr);
    // `interface`: none = all interfaces; "localhost"/"loopback"; an interface name ("lo",
    // "eth0") or a printed address. With port 0 both families get the same ephemeral port.
    bool bindToPort(std::uint16_t port, const std::optional<std::string>& interface,
                    foundation::Error* error = nullptr);
    bool bindToAddress(const Data& address, foundation::Error* error = nullptr);
    bool enableReusePort(bool enable, foundation::Error* error = nullptr);
    bool enableBroadcast(bool enable, foundation::Error* error = nullptr);

    // Receiving.
    bool receiveOnce(foundation::Error* error = nullptr);
    bool beginReceiving(foundation::Error* error = nullptr);
    void pauseReceiving();
    void setReceiveFilter(ReceiveFilter filter, std::shared_ptr<dispatch::Queue> filterQueue,
                          bool isAsynchronous = true);

    // Sending. A datagram to an address or a numeric host goes out from the caller's thread
    // when nothing handed over before it waits on the socket queue (and the socket is open,
    // unconnected, without a send filter); otherwise it is queued there, behind what waits.
    // `timeout` in seconds covers only the wait for a socket that would block; negative, NaN
    // or +inf mean none. Without a destination the datagram goes to the connected peer. A
    // first send on a closed socket creates its sockets before returning.
    //
    // A sender that outruns the system is slowed as a blocking sendto would slow it: when
    // kMostDatagramsWaiting datagrams, or kMostBytesWaiting bytes of them, wait unanswered,
    // the call waits until half of them have gone, at most the datagram's `timeout`; a
    // datagram that found no room in that time is answered with the time-out error, in its
    // turn. Otherwise the calls return at once. Calls on the socket queue, or on the queue of
    // a synchronous send or receive filter, are never held.
    static constexpr std::size_t kMostDatagramsWaiting = 1024;
    static constexpr std::size_t kMostBytesWaiting = 1 << 20;
    void sendData(Data data, std::int64_t tag);
    void sendData(Data data, double timeout, std::int64_t tag);
    // "localhost", "loopback" and numeric hosts need no lookup; names are looked up on a global
    // queue. A connected socket refuses a host.
    void sendData(Data data, const std::string& host, std::uint16_t port, double timeout,
                  std::int64_t tag);
    // A connected socket takes only its peer's address.
    void sendData(Data data, const Data& address, double timeout, std::int64_t tag);
    void setSendFilter(SendFilter filter, std::shared_ptr<dispatch::Queue> filterQueue,
                       bool isAsynchronous = true);

    // Connecting: the outcome reaches the delegate as didConnectToAddress or didNotConnect,
    // once the request's turn in the send queue comes. A connected socket keeps the one
    // descriptor of its peer's family.
    bool connectToHost(const std::string& host, std::uint16_t port,
                       foundation::Error* error = nullptr);
    bool connectToAddress(const Data& address, foundation::Error* error = nullptr);

    // Multicast, on a bound socket; groups and interfaces are numeric addresses (interfaces
    // also by name). A join keeps only the group's family open.
    bool joinMulticastGroup(const std::string& group, foundation::Error* error = nullptr);
    bool joinMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                            foundation::Error* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, foundation::Error* error = nullptr);
    bool leaveMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                             foundation::Error* error = nullptr);
    bool sendIPv4MulticastOnInterface(const std::string& interface,
                                      foundation::Error* error = nullptr);
    bool sendIPv6MulticastOnInterface(const std::string& interface,
                                      foundation::Error* error = nullptr);

    // Closing: the descriptors are closed (and the port free) when close() returns.
    void close();
    // Closes once every datagram handed over has been answered; the socket keeps itself alive
    // until then, so its owner may release it at once.
    void closeAfterSending();

    // Queries; none or 0 when the thing does not exist.
    std::optional<Data> localAddress() const;
    std::optional<std::string> localHost() const;
    std::uint16_t localPort() const;
    std::optional<Data> localAddress_IPv4() const;
    std::optional<std::string> localHost_IPv4() const;
    std::uint16_t localPort_IPv4() const;
    std::optional<Data> localAddress_IPv6() const;
    std::optional<std::string> localHost_IPv6() const;
    std::uint16_t localPort_IPv6() const;
    std::optional<Data> connectedAddress() const;
    std::optional<std::string> connectedHost() const;
    std::uint16_t connectedPort() const;
    bool isConnected() const;
    bool isClosed() const;
    bool isIPv4() const;
    bool isIPv6() const;

    // Errors of the socket's domain ("DispatchUdpSocketErrorDomain") and the system's.
    static foundation::Error badConfigError(const std::string& text);
    static foundation::Error badParamError(const std::string& text);
    static foundation::Error sendTimeoutError();
    static foundation::Error socketClosedError();
    static foundation::Error otherError(const std::string& text);
    static foundation::Error gaiError(int code);
    // `err` is the errno captured right after the failing call.
    static foundation::Error errnoError(int err, const std::string& reason = {});

    // Address helpers; usable on any thread.
    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    static std::uint16_t portFromSockaddr4(const sockaddr_in& address);
    static std::uint16_t portFromSockaddr6(const sockaddr_in6& address);
    // False for a buffer that is no IPv4 or IPv6 address: host empty, port and family 0.
    static bool getHost(std::string* host, std::uint16_t* port, int* family, const Data& address);
    static bool getHost(std::string* host, std::uint16_t* port, const Data& address);
    static std::optional<std::string> hostFromAddress(const Data& address);
    static std::uint16_t portFromAddress(const Data& address);
    static int familyFromAddress(const Data& address);
    static bool isIPv4Address(const Data& address);
    static bool isIPv6Address(const Data& address);

    // Chooses the destination among `addresses` (IPv4 and IPv6 socket addresses; others are
    // skipped): usable families only, then the preferred family, else the first in the list.
    // Answers AF_INET or AF_INET6 with `address` set, or 0 with `error` set.
    // An IPv4-mapped IPv6 address counts as, and is answered as, its IPv4 address.
    static int chooseDestination(const std::vector<Data>& addresses, const DestinationRules& rules,
                                 Data* address, foundation::Error* error);
    // The family chosen among candidates of the families present (`firstFamily`: the family of
    // the first candidate), by the same rules.
    static int chooseFamily(bool has4, bool has6, int firstFamily, const DestinationRules& rules,
                            foundation::Error* error);

    // Interface description to addresses with `port` (none when not found).
    static void convertInterfaceDescription(const std::optional<std::string>& interface,
                                            std::uint16_t port, std::optional<Data>* address4,
                                            std::optional<Data>* address6);

  private:
    DispatchUdpSocket(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                      std::shared_ptr<dispatch::Queue> delegateQueue,
                      std::shared_ptr<dispatch::Queue> socketQueue);

    bool isOnSocketQueue() const;
    void runOnSocketQueue(const std::function<void()>& work) const;
    void asyncOnSocketQueue(std::function<void()> work);
    template <class F>
    auto resultOnSocketQueue(F&& f) const -> decltype(f());

    // Socket-queue internals.
    bool preOp(foundation::Error* error) const;
    bool preBind(foundation::Error* error) const;
    bool createSockets(foundation::Error* error);
    bool createSocket4(bool useIPv4, bool useIPv6, bool ipv6Optional, foundation::Error* error);
    int createSocket(int family, foundation::Error* error);
    void setupReceiveSource4();
    void setupReceiveSource6();
    void setupSendSource4();
    void setupSendSource6();
    bool bindAddresses(const std::optional<Data>& address4, const std::optional<Data>& address6,
                       bool ipv6Optional, bool createdHere, foundation::Error* error);
    void doReceive();
    void receiveTurn();
    void flushReceives();
    void scheduleReceive();
    // `mode`: kReceivingOnce or kReceivingContinuously.
    bool startReceiving(std::uint32_t mode, foundation::Error* error);
    enum class ReadResult { delivered, pending, ignored, empty, wouldBlock, skipped, fatal };
    ReadResult readDatagram(bool ipv4);
    void handOn(Data&& data, Data&& address);
    void suspendReceive4Source();
    void suspendReceive6Source();
    void resumeReceive4Source();
    void resumeReceive6Source();
    // `counted`: the caller already counted the datagram as waiting ahead of direct sends.
    void queueSend(std::shared_ptr<DispatchUdpSendPacket> packet, bool counted = false);
    // Sending from the caller's thread (DispatchUdpSocketSendNow.cpp): when nothing waits ahead
    // on the socket queue, the datagram goes out at once and is answered from here. False when
    // it must be queued; it is then counted as waiting ahead.
    struct SendGate;
    // `expired`: set when the backlog had no room within `timeout`.
    bool sendNow(const Data& data, const SendDestination& destination, double timeout,
                 std::int64_t tag, bool* expired);
    // Holds the calling sender while the backlog is full (see kMostDatagramsWaiting), at most
    // `timeout`; false when it found no room in that time. Called with the gate's mutex held.
    bool waitForRoom(std::unique_lock<std::mutex>& lock, std::size_t size, double timeout) const;
    // waitForRoom, then counts a datagram of `size` bytes as waiting ahead.
    bool admitDatagram(std::size_t size, double timeout) const;
    // Socket-queue side of the gate: what direct sends may use, republished after every change
    // of state, with `answered` fewer waiting ahead (`answeredBytes` of theirs); shut before a
    // descriptor closes.
    void refreshSendGate(std::size_t answered = 0, std::size_t answeredBytes = 0) const;
    void shutSendGate() const;
    void countAhead() const;
    void postSendAnswer(const std::shared_ptr<DispatchUdpSocketDelegate>& delegate,
                        const std::shared_ptr<dispatch::Queue>& delegateQueue, std::int64_t tag,
                        std::optional<foundation::Error> error);
    void maybeDequeueSend();
    void doPreSend();
    void doSend();
    void sendFilterAnswered(const std::shared_ptr<DispatchUdpSendPacket>& packet, bool send);
    void failCurrentSend(const foundation::Error& error);
    void endCurrentSend();
    void doSendTimeout();
    void armDrainTimer();
    void setupSendTimer(std::int64_t nanoseconds);
    void writeEvent(bool ipv4);
    void suspendSend4Source();
    void suspendSend6Source();
    void resumeSend4Source();
    void resumeSend6Source();
    DestinationRules destinationRules() const;
    bool isPeerAddress(const Data& address) const;
    bool preConnect(foundation::Error* error) const;
    bool preJoin(foundation::Error* error) const;
    bool queueConnect(std::shared_ptr<DispatchUdpSpecialPacket> packet, foundation::Error* error);
    void maybeConnect();
    bool connectWithAddress(const Data& address, int family, foundation::Error* error);
    bool performMulticastRequest(bool join, const std::string& group,
                                 const std::optional<std::string>& interface,
                                 foundation::Error* error);
    void closeWithError(const std::optional<foundation::Error>& error);
    void closeSockets();
    void closeSocket4();
    void closeSocket6();
    void maybeUpdateCachedLocalAddress4Info() const;
    void maybeUpdateCachedLocalAddress6Info() const;
    void maybeUpdateCachedConnectedAddressInfo() const;
    void notifyDidReceiveData(Data&& data, Data&& address, std::any&& context);
    void notifyDidCloseWithError(const std::optional<foundation::Error>& error);
    void notifyDidSendDataWithTag(std::int64_t tag);
    void notifyDidNotSendDataWithTag(std::int64_t tag, foundation::Error error);
    void notifyDidConnectToAddress(Data address);
    void notifyDidNotConnect(foundation::Error error);

    std::weak_ptr<DispatchUdpSocketDelegate> delegate_;
    std::shared_ptr<dispatch::Queue> delegateQueue_;

    ReceiveFilter receiveFilterBlock_;
    std::shared_ptr<dispatch::Queue> receiveFilterQueue_;
    bool receiveFilterAsync_ = false;
    SendFilter sendFilterBlock_;
    std::shared_ptr<dispatch::Queue> sendFilterQueue_;
    bool sendFilterAsync_ = false;

    std::uint32_t flags_ = 0;
    std::uint16_t config_ = 0;
    std::uint16_t max4ReceiveSize_ = 65535;
    std::uint32_t max6ReceiveSize_ = 65535;
    std::uint16_t maxSendSize_ = 65535;

    int socket4FD_ = -1;
    int socket6FD_ = -1;
    net::SocketQueue socketQueue_;
    std::shared_ptr<dispatch::Source> receive4Source_;
    std::shared_ptr<dispatch::Source> receive6Source_;
    std::shared_ptr<dispatch::Source> send4Source_;
    std::shared_ptr<dispatch::Source> send6Source_;
    std::shared_ptr<dispatch::Source> sendTimer_;
    std::shared_ptr<DispatchUdpQueuedPacket> currentSend_;
    std::deque<std::shared_ptr<DispatchUdpQueuedPacket>> sendQueue_;
    // Held while closeAfterSending waits for the send queue to drain.
    std::shared_ptr<DispatchUdpSocket> drainKeepAlive_;

    std::uint64_t socket4FDBytesAvailable_ = 0;
    std::uint64_t socket6FDBytesAvailable_ = 0;
    std::int32_t pendingFilterOperations_ = 0;
    // Counts closes, so that filter answers can tell which opening their datagram came from.
    std::uint64_t openGeneration_ = 0;
    // The last socket creation left IPv6 out because the host has none.
    bool ipv6Unavailable_ = false;
    bool receiveScheduled_ = false;
    // Datagrams read together by one call and not handed on yet, per family; each datagram is
    // handed on as a copy of exactly its bytes.
    struct ReadAhead;
    std::unique_ptr<ReadAhead> readAhead4_;
    std::unique_ptr<ReadAhead> readAhead6_;
    ReadAhead& readAhead(bool ipv4);
    bool hasDataToRead(bool ipv4) const;
    // While a receive turn runs, its deliveries are gathered and handed to the delegate queue
    // as one block, in order, before anything else the turn posts.
    bool gatherReceives_ = false;
    std::vector<dispatch::Work> gatheredReceives_;
    // maybeDequeueSend is taking packets off the send queue.
    bool dequeueing_ = false;

    // Filled lazily by the (const) queries, on the socket queue.
    mutable std::optional<Data> cachedLocalAddress4_;
    mutable std::optional<std::string> cachedLocalHost4_;
    mutable std::uint16_t cachedLocalPort4_ = 0;
    mutable std::optional<Data> cachedLocalAddress6_;
    mutable std::optional<std::string> cachedLocalHost6_;
    mutable std::uint16_t cachedLocalPort6_ = 0;
    mutable std::optional<Data> cachedConnectedAddress_;
    mutable std::optional<std::string> cachedConnectedHost_;
    mutable std::uint16_t cachedConnectedPort_ = 0;
    mutable int cachedConnectedFamily_ = 0;

    std::shared_ptr<void> userData_;

    // Shared by the socket queue and callers' threads, under its own mutex.
    std::unique_ptr<SendGate> sendGate_;
};

template <class F>
auto DispatchUdpSocket::resultOnSocketQueue(F&& f) const -> decltype(f()) {
    // Whatever the operation changed is published to direct sends before it returns.
    struct Refresh {
        const DispatchUdpSocket& socket;
        ~Refresh() { socket.refreshSendGate(); }
    };
    return socketQueue_.result([&]() -> decltype(f()) {
        Refresh refresh{*this};
        return f();
    });
}

}  // namespace rozuri
