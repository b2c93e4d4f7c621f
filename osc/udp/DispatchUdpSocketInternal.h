#pragma once

// State bits and limits shared by the UDP socket's source files; not part of its interface.

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>

#include <cstdint>
#include <memory>
#include <vector>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/SocketAddress.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Assert.h"

namespace rozuri::udp_detail {

// flags_
inline constexpr std::uint32_t kSocketsCreated = 0x1;
inline constexpr std::uint32_t kSocketBound = 0x2;
inline constexpr std::uint32_t kConnectPending = 0x4;
inline constexpr std::uint32_t kSocketConnected = 0x8;
inline constexpr std::uint32_t kReceivingOnce = 0x10;
inline constexpr std::uint32_t kReceivingContinuously = 0x20;
inline constexpr std::uint32_t kIPv4Inactive = 0x40;
inline constexpr std::uint32_t kIPv6Inactive = 0x80;
inline constexpr std::uint32_t kSend4SourceSuspended = 0x100;
inline constexpr std::uint32_t kSend6SourceSuspended = 0x200;
inline constexpr std::uint32_t kReceive4SourceSuspended = 0x400;
inline constexpr std::uint32_t kReceive6SourceSuspended = 0x800;
inline constexpr std::uint32_t kSocket4Writable = 0x1000;
inline constexpr std::uint32_t kSocket6Writable = 0x2000;
inline constexpr std::uint32_t kCloseAfterSends = 0x8000;
inline constexpr std::uint32_t kIPv4Turn = 0x10000;

// config_
inline constexpr std::uint16_t kIPv4Disabled = 0x1;
inline constexpr std::uint16_t kIPv6Disabled = 0x2;
inline constexpr std::uint16_t kPreferIPv4 = 0x4;
inline constexpr std::uint16_t kPreferIPv6 = 0x8;

// Datagrams read in one go before the loop yields the socket queue to other work (close,
// pause), so a flood cannot hold it.
inline constexpr int kReadsPerTurn = 256;
// No UDP datagram is larger without IPv6 jumbograms.
inline constexpr std::uint32_t kLargestDatagram = 65535;
// Attempts at one shared ephemeral port for both families.
inline constexpr int kSharedPortAttempts = 8;

inline constexpr const char* kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
inline constexpr const char* kBindReason = "Error in bind() function";
inline constexpr const char* kSetsockoptReason = "Error in setsockopt() function";
inline constexpr const char* kNilHost =
    "The host param is nil. Should be domain name or IP address string.";
inline constexpr const char* kInvalidAddress = "A valid IPv4 or IPv6 address was not given";

// Suspends or resumes `source` at most once, keeping its bit in `flags` in step (a dispatch
// source counts suspensions).
inline void setSuspended(const std::shared_ptr<dispatch::Source>& source, std::uint32_t& flags,
                         std::uint32_t bit, bool suspended) {
    if (!source || ((flags & bit) != 0) == suspended) return;
    if (suspended) {
        source->suspend();
        flags |= bit;
    } else {
        source->resume();
        flags &= ~bit;
    }
}

inline void assertionFailure(const char* text, int line) {
    foundation::assertionFailure(text, "DispatchUdpSocket", line);
}

using net::boundPort;
// The receive buffer asked for; the kernel grants what net.core.rmem_max allows.
inline constexpr std::int32_t kPreferredReceiveBuffer = 4 * 1024 * 1024;
// Datagrams taken from the kernel in one recvmmsg call.
inline constexpr int kReadAheadSlots = 16;

constexpr const char* kSendReason = "Error in send() function.";

// The errors after which the descriptor is of no use any more; every other send error
// concerns one datagram only.
inline bool closesSocket(int err) {
    return err == EBADF || err == ENOTSOCK;
}

using net::bytesOf;
using net::makeAddress4;
using net::makeAddress6;
using net::setPort;

}  // namespace rozuri::udp_detail

namespace rozuri {

// What a caller's thread needs to send by itself, published by the socket queue.
struct DispatchUdpSocket::SendGate {
    std::mutex mutex;
    // Datagrams and connects handed to the socket queue and not answered yet, plus queued
    // changes of configuration: a direct send would overtake them.
    std::size_t ahead = 0;
    // The bytes of the datagrams among them.
    std::size_t aheadBytes = 0;
    // Senders held until the backlog has room again; told by `room`.
    std::size_t waiting = 0;
    std::condition_variable room;
    // The queues of synchronous send and receive filters: a sender on one is never held,
    // since the socket queue waits for them.
    std::shared_ptr<dispatch::Queue> syncSendFilterQueue;
    std::shared_ptr<dispatch::Queue> syncReceiveFilterQueue;
    // Sockets created, not connected or connecting, not closing, no send filter.
    bool open = false;
    bool created = false;
    // Known to the socket queue as bound.
    bool bound = false;
    int fd4 = -1;
    int fd6 = -1;
    DestinationRules rules;
    std::weak_ptr<DispatchUdpSocketDelegate> delegate;
    std::shared_ptr<dispatch::Queue> delegateQueue;
    // The opening the descriptors belong to.
    std::uint64_t generation = 0;

    bool full(std::size_t size) const {
        return ahead >= kMostDatagramsWaiting ||
               (aheadBytes != 0 && aheadBytes + size > kMostBytesWaiting);
    }
    // Held senders go on once the backlog is down to half, so that each wake-up lets a batch
    // in rather than one datagram.
    bool hasRoom() const {
        return ahead <= kMostDatagramsWaiting / 2 && aheadBytes <= kMostBytesWaiting / 2;
    }
};

struct DispatchUdpSocket::ReadAhead {
    std::size_t slotSize = 0;
    std::vector<std::uint8_t> buffer;
    std::vector<iovec> vectors;
    std::vector<sockaddr_storage> senders;
    std::vector<mmsghdr> headers;
    int count = 0;
    int next = 0;

    bool empty() const { return next >= count; }
    void clear() { count = next = 0; }
};

}  // namespace rozuri
