#pragma once

#include <cstdint>
#include <optional>
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

// One datagram waiting to be sent, with its destination as it becomes known.
class DispatchUdpSendPacket final : public DispatchUdpQueuedPacket {
  public:
    // `timeout` in seconds; below 0 (or not a number) means none.
    DispatchUdpSendPacket(Data buffer, double timeout, std::int64_t tag);

    Data buffer;
    double timeout;
    std::int64_t tag;
    bool filterInProgress = false;
    // Given a host name: the lookup's results or its error.
    bool hasHost = false;
    std::vector<Data> resolvedAddresses;
    std::optional<foundation::Error> resolveError;
    // Given an address, or chosen from the resolved ones.
    std::optional<Data> address;
    int addressFamily = 0;
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
