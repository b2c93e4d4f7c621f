#include "osc/udp/DispatchUdpSendPacket.h"

#include <cmath>
#include <limits>
#include <utility>

namespace rozuri {

DispatchUdpSendPacket::DispatchUdpSendPacket(Data buffer, double timeout, std::int64_t tag)
    : buffer(std::move(buffer)), timeout(timeout), tag(tag) {}

std::optional<std::int64_t> sendTimeoutNanoseconds(double seconds) {
    if (!(seconds >= 0) || std::isinf(seconds)) return std::nullopt;
    // The same cap as far receive deadlines: half the clock's range, about 146 years.
    constexpr std::int64_t kLongest = std::numeric_limits<std::int64_t>::max() / 2;
    const double nanos = seconds * 1e9;
    if (nanos >= static_cast<double>(kLongest)) return kLongest;
    return static_cast<std::int64_t>(nanos);
}

}  // namespace rozuri
