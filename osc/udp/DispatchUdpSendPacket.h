#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "osc/core/Data.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// An entry of a DispatchUdpSocket's send queue: a datagram, or a connect request.
class DispatchUdpQueuedPacket {
  public:
    virtual ~DispatchUdpQueuedPacket() = default;
    // Set while the destination is being looked up (on a global queue).
    bool resolveInProgress = false;
};

// A destination known without a lookup (a numeric host, "localhost"/"loopback", or an address
// given by the caller), held in place: an IPv4 and/or an IPv6 candidate. IPv4-mapped IPv6
// addresses are held as IPv4.
struct SendDestination {
    sockaddr_in address4{};
    sockaddr_in6 address6{};
    bool has4 = false;
    bool has6 = false;
    int firstFamily = 0;

    // False (nothing set) for a host that needs a lookup.
    bool setNumericHost(const std::string& host, std::uint16_t port);
    // An address that is neither IPv4 nor IPv6 leaves both candidates unset.
    void setAddress(const Data& address);
    void setIPv4(const in_addr& host, std::uint16_t port);
    // A mapped address becomes its IPv4 candidate.
    void setIPv6(const sockaddr_in6& address);
};

// One datagram waiting to be sent, with its destination as it becomes known. Bytes, time-out,
// tag and a known destination share one allocation (create()); a host that needs a lookup adds
// one for its results.
class DispatchUdpSendPacket final : public DispatchUdpQueuedPacket {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

  public:
    // `timeout` in seconds; below 0 (or not a number) means none.
    static std::shared_ptr<DispatchUdpSendPacket> create(std::span<const std::uint8_t> bytes,
                                                         double timeout, std::int64_t tag);
    DispatchUdpSendPacket(PrivateTag, double timeout, std::int64_t tag)
        : timeout(timeout), tag(tag) {}

    const std::uint8_t* data() const { return bytes_; }
    std::size_t size() const { return size_; }
    Data bytes() const { return Data(bytes_, bytes_ + size_); }

    double timeout;
    std::int64_t tag;
    bool filterInProgress = false;
    // Found no room in the send backlog within its time-out: answered with the time-out
    // error in its turn.
    bool expired = false;
    // Given a host: a numeric one in `known`, a name's lookup in `lookup`, or the error that
    // stopped it there.
    bool hasHost = false;
    std::optional<SendDestination> known;
    struct Lookup {
        std::vector<Data> addresses;
        std::optional<foundation::Error> error;
    };
    std::unique_ptr<Lookup> lookup;

    // The chosen destination, once known.
    bool hasAddress() const { return addressFamily != 0; }
    const sockaddr* address() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t addressLength() const;
    Data addressBytes() const;
    void setAddress(const Data& address);
    void setAddress(const SendDestination& destination, int family);
    int addressFamily = 0;

  private:
    const std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
    sockaddr_in6 address_{};
};

// A connect request, which waits its turn in the send queue.
class DispatchUdpSpecialPacket final : public DispatchUdpQueuedPacket {
  public:
    std::vector<Data> addresses;
    std::optional<foundation::Error> error;
};

// The time-out of a send in whole nanoseconds: none for negative values, NaN and +inf; values
// beyond about a century are capped (the dispatch clock would overflow).
std::optional<std::int64_t> sendTimeoutNanoseconds(double seconds);

}  // namespace rozuri
