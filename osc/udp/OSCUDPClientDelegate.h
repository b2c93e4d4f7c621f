#pragma once

#include "osc/udp/DispatchUdpSocketDelegate.h"

namespace rozuri {

// The OSC UDP client's socket delegate. It takes no callback: what becomes of a datagram after
// the hand-over is not reported to the client's caller.
class OSCUDPClientDelegate final : public DispatchUdpSocketDelegate {
  public:
    OSCUDPClientDelegate() : DispatchUdpSocketDelegate(0) {}
};

}  // namespace rozuri
