#pragma once

#include <any>
#include <cstdint>
#include <memory>
#include <optional>

#include "osc/core/Data.h"
#include "platform/foundation/Error.h"

namespace rozuri {

class DispatchUdpSocket;

// Receiver of a DispatchUdpSocket's callbacks, called on the delegate queue. Every callback is
// optional: a subclass overrides the ones it wants and names them in the constructor's mask,
// and the socket posts nothing for the others. The socket argument is null only for a close
// posted while the socket is being destroyed.
class DispatchUdpSocketDelegate {
  public:
    enum Callback : std::uint32_t {
        didConnectToAddress = 1u << 0,
        didNotConnect = 1u << 1,
        didSendDataWithTag = 1u << 2,
        didNotSendDataWithTag = 1u << 3,
        didReceiveData = 1u << 4,
        didClose = 1u << 5,
    };

    virtual ~DispatchUdpSocketDelegate() = default;

    bool respondsTo(Callback callback) const { return (implemented_ & callback) != 0; }

    virtual void udpSocketDidConnectToAddress(const std::shared_ptr<DispatchUdpSocket>&,
                                              const Data& /*address*/) {}
    virtual void udpSocketDidNotConnect(const std::shared_ptr<DispatchUdpSocket>&,
                                        const foundation::Error&) {}
    virtual void udpSocketDidSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>&,
                                             std::int64_t /*tag*/) {}
    virtual void udpSocketDidNotSendDataWithTag(const std::shared_ptr<DispatchUdpSocket>&,
                                                std::int64_t /*tag*/, const foundation::Error&) {}
    // `data` is exactly the datagram's bytes (cut to the receive size), handed over to the
    // delegate; `address` is the sender.
    virtual void udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>&, Data /*data*/,
                                         const Data& /*address*/,
                                         const std::any& /*filterContext*/) {}
    // `error` is none for an ordinary close.
    virtual void udpSocketDidClose(const std::shared_ptr<DispatchUdpSocket>&,
                                   const std::optional<foundation::Error>& /*error*/) {}

  protected:
    // `implemented`: the Callback bits of the callbacks this delegate overrides.
    explicit DispatchUdpSocketDelegate(std::uint32_t implemented) : implemented_(implemented) {}

  private:
    std::uint32_t implemented_;
};

}  // namespace rozuri
