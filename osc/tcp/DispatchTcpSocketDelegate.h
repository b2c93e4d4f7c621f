#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "osc/core/Data.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/tls/Trust.h"

namespace rozuri {

class DispatchTcpSocket;

// Receiver of a DispatchTcpSocket's callbacks, called on the delegate queue. Every callback is
// optional: a subclass overrides the ones it wants and names them in the constructor's mask,
// and the socket posts nothing for the others. The socket argument is null only for a
// disconnect posted while the socket is being destroyed.
class DispatchTcpSocketDelegate {
  public:
    enum Callback : std::uint32_t {
        newSocketQueueForConnection = 1u << 0,
        didAcceptNewSocket = 1u << 1,
        didConnectToHost = 1u << 2,
        didConnectToUrl = 1u << 3,
        didReadData = 1u << 4,
        didReadPartialData = 1u << 5,
        shouldTimeoutRead = 1u << 6,
        didWriteData = 1u << 7,
        didWritePartialData = 1u << 8,
        shouldTimeoutWrite = 1u << 9,
        didCloseReadStream = 1u << 10,
        didSecure = 1u << 11,
        didReceiveTrust = 1u << 12,
        didDisconnect = 1u << 13,
    };

    using Socket = std::shared_ptr<DispatchTcpSocket>;

    virtual ~DispatchTcpSocketDelegate() = default;

    bool respondsTo(Callback callback) const { return (implemented_ & callback) != 0; }

    // The socket queue of a connection just accepted by `listener`; null lets the new socket
    // make its own. `address` is the peer's socket address.
    virtual std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Data& /*address*/, const Socket& /*listener*/) {
        return nullptr;
    }
    // The new socket is connected; it lives only while someone holds it.
    virtual void socketDidAcceptNewSocket(const Socket& /*listener*/, const Socket& /*accepted*/) {}
    virtual void socketDidConnectToHost(const Socket&, const std::string& /*host*/,
                                        std::uint16_t /*port*/) {}
    virtual void socketDidConnectToUrl(const Socket&, const foundation::URL& /*url*/) {}
    // `data` is the read's bytes, handed over to the delegate.
    virtual void socketDidReadData(const Socket&, Data /*data*/, std::int64_t /*tag*/) {}
    virtual void socketDidReadPartialDataOfLength(const Socket&, std::uint64_t /*length*/,
                                                  std::int64_t /*tag*/) {}
    // Seconds to extend the read by; anything not above 0 ends it with a read time-out.
    virtual double socketShouldTimeoutReadWithTag(const Socket&, std::int64_t /*tag*/,
                                                  double /*elapsed*/, std::uint64_t /*bytesDone*/) {
        return 0;
    }
    virtual void socketDidWriteDataWithTag(const Socket&, std::int64_t /*tag*/) {}
    virtual void socketDidWritePartialDataOfLength(const Socket&, std::uint64_t /*length*/,
                                                   std::int64_t /*tag*/) {}
    virtual double socketShouldTimeoutWriteWithTag(const Socket&, std::int64_t /*tag*/,
                                                   double /*elapsed*/,
                                                   std::uint64_t /*bytesDone*/) {
        return 0;
    }
    // End of input while the socket is kept open for writing.
    virtual void socketDidCloseReadStream(const Socket&) {}
    virtual void socketDidSecure(const Socket&) {}
    // Manual trust evaluation: `trust` is the server's chain with the default verdict; call the
    // handler (from any thread; only the first call counts) with the verdict.
    virtual void socketDidReceiveTrust(const Socket&,
                                       const std::shared_ptr<const tls::Trust>& /*trust*/,
                                       std::function<void(bool)> /*completionHandler*/) {}
    // `error` is none for a requested disconnect.
    virtual void socketDidDisconnect(const Socket&,
                                     const std::optional<foundation::Error>& /*error*/) {}

  protected:
    // `implemented`: the Callback bits of the callbacks this delegate overrides.
    explicit DispatchTcpSocketDelegate(std::uint32_t implemented) : implemented_(implemented) {}

  private:
    std::uint32_t implemented_;
};

}  // namespace rozuri
