#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rozuri {

// The largest UDP payloads: over IPv6, and over IPv4 (whose header is 20 bytes longer).
inline constexpr std::size_t kLargestUDPPayload = 65527;
inline constexpr std::size_t kLargestUDPPayloadIPv4 = 65507;

// What the OSC client and peer refuse before handing a datagram over, because it could never
// go: throws DispatchUdpSocketError code 2 (bad parameter) with the reason under "Reason", or
// the socket's resolver error for a text that cannot name a host. A host that needs no lookup
// and goes over IPv4 (an IPv4 or IPv4-mapped address, "localhost", "loopback") takes at most
// 65507 bytes; a looked-up name is held to 65527 here, and the socket refuses more for IPv4.
void checkOSCUDPDestination(const std::string& host, std::uint16_t port, std::size_t size);

}  // namespace rozuri
