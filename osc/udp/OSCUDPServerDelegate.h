#pragma once

#include <any>
#include <memory>

#include "osc/core/Data.h"
#include "osc/udp/DispatchUdpSocketDelegate.h"
#include "osc/udp/OSCHandlerProtocol.h"

namespace rozuri {

// The socket delegate of the OSC UDP receivers: decodes each datagram into a packet and hands
// it to the receive dispatch of its owner. It implements only the receive callback.
class OSCUDPServerDelegate : public DispatchUdpSocketDelegate {
  public:
    OSCUDPServerDelegate() : DispatchUdpSocketDelegate(didReceiveData) {}

    // The owner, held weakly; set by the owner once it exists, before its socket is bound.
    std::weak_ptr<OSCHandlerProtocol> oscServer;

    // Datagrams that do not decode, or whose owner is gone, are dropped without a word.
    void udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>& socket, Data data,
                                 const Data& address, const std::any& filterContext) override;
};

}  // namespace rozuri
