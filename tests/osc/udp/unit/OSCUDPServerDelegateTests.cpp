#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OscTestBytes.h"
#include "osc/udp/OSCHandlerProtocol.h"
#include "osc/udp/OSCUDPServerDelegate.h"
#include "tests/support/LoopbackNet.h"

namespace {

using rozuri::Data;

struct Seen {
    std::string address;
    std::string host;
    std::uint16_t port;
};

class Receiver : public rozuri::OSCHandlerProtocol {
  public:
    Receiver() : queue_(dispatch::Queue::createSerial("test.delegate-receiver")) {
        handler_ = [this](const rozuri::OSCMessage& m, const rozuri::OSCTimeTag&,
                          const std::string& host, std::uint16_t port) {
            seen.push_back({m.addressPattern().rawAddress(), host, port});
        };
    }
    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    rozuri::OSCTimeTagMode timeTagMode() const override { return rozuri::OSCTimeTagMode::ignore; }
    const rozuri::OSCReceiveHandler& receiveHandler() const override { return handler_; }

    // Runs what the dispatch queued (one hop per level; the packets here are flat).
    void settle() {
        for (int i = 0; i < 4; ++i) queue_->sync([] {});
    }

    std::vector<Seen> seen;  // touched only on queue_

  private:
    std::shared_ptr<dispatch::Queue> queue_;
    rozuri::OSCReceiveHandler handler_;
};

const auto ipv4 = mstest::address4;

TEST(OSCUDPServerDelegate, DecodesDatagramsAndNamesTheSender) {
    struct Case {
        const char* name;
        Data payload;
        Data address;
        std::vector<std::string> delivered;
        std::string host;
        std::uint16_t port;
    };
    const Data message = udptest::oscMessage("/go", {1});
    const Case cases[] = {
        {"message", message, ipv4("10.0.0.2", 9000), {"/go"}, "10.0.0.2", 9000},
        {"unreadable sender", message, Data(8), {"/go"}, "", 0},
        {"no sender", message, Data(), {"/go"}, "", 0},
        {"bundle",
         udptest::oscBundle(1, {message, udptest::oscMessage("/two")}),
         ipv4("127.0.0.1", 1),
         {"/go", "/two"},
         "127.0.0.1",
         1},
        {"not OSC", Data{'x', 'y', 'z', 0}, ipv4("127.0.0.1", 1), {}, "", 0},
        {"malformed", Data(message.begin(), message.begin() + 6), ipv4("127.0.0.1", 1), {}, "", 0},
        {"empty", Data(), ipv4("127.0.0.1", 1), {}, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto receiver = std::make_shared<Receiver>();
        rozuri::OSCUDPServerDelegate delegate;
        delegate.oscServer = receiver;
        delegate.udpSocketDidReceiveData(nullptr, c.payload, c.address, {});
        receiver->settle();
        std::vector<std::string> got;
        for (const auto& s : receiver->seen) {
            got.push_back(s.address);
            EXPECT_EQ(s.host, c.host);
            EXPECT_EQ(s.port, c.port);
        }
        EXPECT_EQ(got, c.delivered);
    }
}

}  // namespace
