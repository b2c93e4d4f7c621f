#include "osc/udp/OSCUDPSendChecks.h"

#include <netdb.h>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/SocketAddress.h"

namespace rozuri {

namespace {

[[noreturn]] void refuse(const char* reason) {
    throw DispatchUdpSocketError(DispatchUdpSocketError::Code::badParam,
                                 {{foundation::Error::kReasonKey, reason}});
}

}  // namespace

void checkOSCUDPDestination(const std::string& host, std::uint16_t port, std::size_t size) {
    if (host.empty()) refuse("The host param is nil. Should be domain name or IP address string.");
    if (port == 0) refuse("Port 0 is not a valid destination port.");
    if (size > kLargestUDPPayload) {
        refuse("Packet is larger than a UDP datagram can carry (65527 bytes).");
    }
    const int family = net::numericHostFamily(host);
    if (size > kLargestUDPPayloadIPv4 && family == AF_INET) {
        refuse("Packet is larger than a UDP datagram over IPv4 can carry (65507 bytes).");
    }
    if (!family && !net::isPlausibleHostName(host)) {
        throw OSCSocketError(DispatchUdpSocket::gaiError(EAI_NONAME));
    }
}

}  // namespace rozuri
