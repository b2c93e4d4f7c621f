#pragma once

// Collects what an OSC receiver's handler is given, for the UDP network tests.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/udp/OSCHandlerProtocol.h"

namespace udptest {

using rozuri::OSCMessage;
using rozuri::OSCTimeTag;

struct Received {
    std::string address;
    std::vector<rozuri::AnyOSCValue> values;
    OSCTimeTag timeTag;
    std::string host;
    std::uint16_t port;
};

// Collects what a server's handler is given.
struct Inbox {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Received> messages;

    rozuri::OSCReceiveHandler handler() {
        return [this](const OSCMessage& m, const OSCTimeTag& t, const std::string& host,
                      std::uint16_t port) {
            Received r{m.addressPattern().rawAddress(), m.values(), t, host, port};
            std::lock_guard lock(mutex);
            messages.push_back(std::move(r));
            cv.notify_all();
        };
    }
    bool waitFor(std::size_t n, std::chrono::milliseconds timeout = kWait) {
        return udptest::waitFor(
            mutex, cv, [&] { return messages.size() >= n; }, timeout);
    }
    std::vector<std::string> addresses() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m.address);
        return out;
    }
};

}  // namespace udptest
