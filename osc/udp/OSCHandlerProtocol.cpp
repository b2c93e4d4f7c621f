#include "osc/udp/OSCHandlerProtocol.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "platform/dispatch/PostBatch.h"

namespace rozuri {

namespace {

using Receiver = std::shared_ptr<OSCHandlerProtocol>;

void deliverNow(const Receiver& receiver, OSCMessage message, OSCTimeTag timeTag, std::string host,
                std::uint16_t port) {
    dispatch::PostBatch::post(receiver->queue(), [receiver, message = std::move(message), timeTag,
                                                  host = std::move(host), port] {
        const auto& handler = receiver->receiveHandler();
        if (handler) handler(message, timeTag, host, port);
    });
}

void deliverLater(const Receiver& receiver, OSCMessage message, OSCTimeTag timeTag,
                  std::string host, std::uint16_t port, double delay) {
    if (!(delay > 0)) {
        deliverNow(receiver, std::move(message), timeTag, std::move(host), port);
        return;
    }
    // Tags from the wire are at most 2^32 s ahead; tags of later eras built in code could
    // overflow the queue's nanosecond clock, so the wait is capped at about 146 years.
    constexpr double kLongestWaitMicros =
        static_cast<double>(std::numeric_limits<std::int64_t>::max() / 2000);
    const double micros = std::min(delay * 1e6, kLongestWaitMicros);
    const auto wait = std::chrono::microseconds(static_cast<std::int64_t>(micros));
    std::weak_ptr<OSCHandlerProtocol> weak = receiver;
    receiver->queue()->asyncAfter(wait, [weak = std::move(weak), message = std::move(message),
                                         timeTag, host = std::move(host), port] {
        auto receiver = weak.lock();
        if (!receiver) return;
        const auto& handler = receiver->receiveHandler();
        if (handler) handler(message, timeTag, host, port);
    });
}

void scheduleMessage(const Receiver& receiver, OSCMessage message, OSCTimeTag timeTag,
                     std::string host, std::uint16_t port) {
    if (receiver->timeTagMode() == OSCTimeTagMode::ignore || timeTag.isImmediate() ||
        !timeTag.isLaterThanNow()) {
        deliverNow(receiver, std::move(message), timeTag, std::move(host), port);
        return;
    }
    const double delay =
        std::chrono::duration<double>(timeTag.dateValue() - std::chrono::system_clock::now())
            .count();
    deliverLater(receiver, std::move(message), timeTag, std::move(host), port, delay);
}

void unpackPacket(const Receiver& receiver, OSCPacket& packet, OSCTimeTag timeTag,
                  const std::string& host, std::uint16_t port) {
    if (auto* message = packet.asMessage()) {
        scheduleMessage(receiver, std::move(*message), timeTag, host, port);
        return;
    }
    auto* bundle = packet.asBundle();
    const OSCTimeTag bundleTag = bundle->timeTag();
    // The bundle is not used again: its elements are moved on, not copied.
    for (auto& element : bundle->mutableElements()) {
        OSCHandlerProtocol::handle(receiver, std::move(element), bundleTag, host, port);
    }
}

}  // namespace

void OSCHandlerProtocol::handle(std::shared_ptr<OSCHandlerProtocol> receiver, OSCPacket packet,
                                OSCTimeTag timeTag, std::string host, std::uint16_t port) {
    if (!receiver) return;
    const auto queue = receiver->queue();
    // A burst handed over in one block (see PostBatch) takes its hops together too.
    dispatch::PostBatch::post(queue, [receiver = std::move(receiver), packet = std::move(packet),
                                      timeTag, host = std::move(host), port]() mutable {
        unpackPacket(receiver, packet, timeTag, host, port);
    });
}

}  // namespace rozuri
