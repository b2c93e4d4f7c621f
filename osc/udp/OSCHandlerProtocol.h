#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/udp/OSCTimeTagMode.h"
#include "platform/dispatch/Queue.h"

namespace rozuri {

// Called on the receiver's queue once per delivered message, with its time tag and the
// sender's host and port. An empty function drops messages.
using OSCReceiveHandler = std::function<void(const OSCMessage& message, const OSCTimeTag& timeTag,
                                             const std::string& host, std::uint16_t port)>;

// What every OSC receiver (UDP server and peer, TCP client, server and connection) gives the
// shared receive dispatch. The three requirements are read at the moment each step runs.
class OSCHandlerProtocol {
  public:
    virtual ~OSCHandlerProtocol() = default;

    // The queue on which unpacking and handler calls run.
    virtual const std::shared_ptr<dispatch::Queue>& queue() const = 0;
    virtual OSCTimeTagMode timeTagMode() const = 0;
    // Read on queue(); the receivers replace it only there.
    virtual const OSCReceiveHandler& receiveHandler() const = 0;

    // The receive dispatch's one entry point; returns at once. On the receiver's queue a
    // bundle's elements are handled one hop later each, in order, with the bundle's time tag;
    // a message goes to the handler one hop later, or at its tag's time in osc1_0 mode when
    // that lies ahead. Pending immediate work keeps the receiver alive; a timed delivery does
    // not, and is dropped if the receiver is gone when it fires.
    static void handle(std::shared_ptr<OSCHandlerProtocol> receiver, OSCPacket packet,
                       OSCTimeTag timeTag, std::string host, std::uint16_t port);
};

}  // namespace rozuri
