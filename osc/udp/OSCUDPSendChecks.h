#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rozuri {

// The largest UDP payload (over IPv6; IPv4 carries 20 bytes less, which the socket reports).
inline constexpr std::size_t kLargestUDPPayload = 65527;

// What the OSC client and peer refuse before handing a datagram over, because it could never
// go: throws DispatchUdpSocketError code 2 (bad parameter) with the reason under "Reason", or
// the socket's resolver error for a text that cannot name a host.
void checkOSCUDPDestination(const std::string& host, std::uint16_t port, std::size_t size);

}  // namespace rozuri
