#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "osc/core/OSCPacket.h"
#include "osc/udp/OSCHandlerProtocol.h"

namespace {

using namespace std::chrono_literals;
using rozuri::OSCHandlerProtocol;
using rozuri::OSCMessage;
using rozuri::OSCPacket;
using rozuri::OSCReceiveHandler;
using rozuri::OSCTimeTag;
using rozuri::OSCTimeTagMode;

// What the handler saw, shared with the test so that it outlives the receiver.
struct Log {
    struct Entry {
        std::string address;
        OSCTimeTag timeTag;
        std::string host;
        std::uint16_t port;
        bool onQueue;
        std::chrono::steady_clock::time_point at;
    };
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Entry> entries;

    bool waitFor(std::size_t n, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, timeout, [&] { return entries.size() >= n; });
    }
    std::vector<std::string> addresses() {
        std::lock_guard lock(mutex);
        std::vector<std::string> out;
        for (const auto& e : entries) out.push_back(e.address);
        return out;
    }
};

class Receiver : public OSCHandlerProtocol {
  public:
    Receiver(OSCTimeTagMode mode, std::shared_ptr<Log> log, bool withHandler = true)
        : queue_(dispatch::Queue::createSerial("test.receiver")), mode_(mode) {
        if (!withHandler) return;
        auto q = queue_;
        handler_ = [log, q](const OSCMessage& m, const OSCTimeTag& t, const std::string& host,
                            std::uint16_t port) {
            std::lock_guard lock(log->mutex);
            log->entries.push_back({m.addressPattern().rawAddress(), t, host, port, q->isCurrent(),
                                    std::chrono::steady_clock::now()});
            log->cv.notify_all();
        };
    }
    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    OSCTimeTagMode timeTagMode() const override { return mode_; }
    const OSCReceiveHandler& receiveHandler() const override { return handler_; }

  private:
    std::shared_ptr<dispatch::Queue> queue_;
    OSCTimeTagMode mode_;
    OSCReceiveHandler handler_;
};

OSCPacket msg(const char* address) {
    return OSCPacket::message(address);
}

TEST(OSCReceiveDispatch, NestedBundlesAreDeliveredOneLevelLater) {
    auto log = std::make_shared<Log>();
    auto receiver = std::make_shared<Receiver>(OSCTimeTagMode::ignore, log);
    auto packet = OSCPacket::bundle(
        std::nullopt, {msg("/A"), OSCPacket::bundle(std::nullopt, {msg("/B")}), msg("/C")});
    OSCHandlerProtocol::handle(receiver, packet, OSCTimeTag::immediate(), "10.1.2.3", 7000);
    ASSERT_TRUE(log->waitFor(3));
    EXPECT_EQ(log->addresses(), (std::vector<std::string>{"/A", "/C", "/B"}));
    std::lock_guard lock(log->mutex);
    for (const auto& e : log->entries) {
        EXPECT_EQ(e.host, "10.1.2.3");
        EXPECT_EQ(e.port, 7000);
        EXPECT_TRUE(e.onQueue);
    }
}

TEST(OSCReceiveDispatch, TimeTagsTravelWithTheirMessages) {
    const auto hourAhead = OSCTimeTag::fromTimeIntervalSinceNow(3600);
    const auto past = OSCTimeTag::fromTimeIntervalSinceNow(-3600);
    const OSCTimeTag t1(0x1000000000ull), t2(0x2000000000ull);  // long past
    struct Case {
        const char* name;
        OSCTimeTagMode mode;
        OSCPacket packet;
        std::vector<std::pair<std::string, OSCTimeTag>> expected;
    };
    const Case cases[] = {
        {"ignore, an hour ahead",
         OSCTimeTagMode::ignore,
         OSCPacket::bundle(hourAhead, {msg("/x"), msg("/y")}),
         {{"/x", hourAhead}, {"/y", hourAhead}}},
        {"osc1_0, immediate",
         OSCTimeTagMode::osc1_0,
         OSCPacket::bundle(OSCTimeTag::immediate(), {msg("/x")}),
         {{"/x", OSCTimeTag::immediate()}}},
        {"osc1_0, in the past",
         OSCTimeTagMode::osc1_0,
         OSCPacket::bundle(past, {msg("/x")}),
         {{"/x", past}}},
        {"osc1_0, plain message",
         OSCTimeTagMode::osc1_0,
         msg("/m"),
         {{"/m", OSCTimeTag::immediate()}}},
        {"inner tag wins",
         OSCTimeTagMode::osc1_0,
         OSCPacket::bundle(t1, {msg("/outer"), OSCPacket::bundle(t2, {msg("/inner")})}),
         {{"/outer", t1}, {"/inner", t2}}},
        {"empty bundle, then a marker", OSCTimeTagMode::osc1_0, OSCPacket::bundle(t1, {}), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<Log>();
        auto receiver = std::make_shared<Receiver>(c.mode, log);
        OSCHandlerProtocol::handle(receiver, c.packet, OSCTimeTag::immediate(), "h", 1);
        // A trailing marker shows that everything before it has been handled.
        OSCHandlerProtocol::handle(receiver, msg("/marker"), OSCTimeTag::immediate(), "h", 1);
        ASSERT_TRUE(log->waitFor(c.expected.size() + 1));
        std::lock_guard lock(log->mutex);
        std::vector<std::pair<std::string, OSCTimeTag>> got;
        for (const auto& e : log->entries) {
            if (e.address != "/marker") got.emplace_back(e.address, e.timeTag);
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(OSCReceiveDispatch, FutureTagIsHonouredOnTheQueue) {
    auto log = std::make_shared<Log>();
    auto receiver = std::make_shared<Receiver>(OSCTimeTagMode::osc1_0, log);
    const auto start = std::chrono::steady_clock::now();
    const auto tag = OSCTimeTag::fromTimeIntervalSinceNow(0.4);
    OSCHandlerProtocol::handle(receiver, OSCPacket::bundle(tag, {msg("/later")}),
                               OSCTimeTag::immediate(), "h", 1);
    OSCHandlerProtocol::handle(receiver, msg("/now"), OSCTimeTag::immediate(), "h", 1);
    ASSERT_TRUE(log->waitFor(2));
    EXPECT_EQ(log->addresses(), (std::vector<std::string>{"/now", "/later"}));
    std::lock_guard lock(log->mutex);
    EXPECT_TRUE(log->entries[1].onQueue);
    EXPECT_EQ(log->entries[1].timeTag, tag);
    // Not before its time (allowing for the tag's own rounding).
    EXPECT_GE(log->entries[1].at - start, 350ms);
}

TEST(OSCReceiveDispatch, TimedDeliveryIsDroppedWhenTheReceiverIsGone) {
    auto log = std::make_shared<Log>();
    auto receiver = std::make_shared<Receiver>(OSCTimeTagMode::osc1_0, log);
    auto queue = receiver->queue();
    OSCHandlerProtocol::handle(
        receiver, OSCPacket::bundle(OSCTimeTag::fromTimeIntervalSinceNow(0.2), {msg("/late")}),
        OSCTimeTag::immediate(), "h", 1);
    queue->sync([] {});
    queue->sync([] {});  // unpacked and scheduled
    receiver.reset();
    EXPECT_FALSE(log->waitFor(1, 600ms));
}

TEST(OSCReceiveDispatch, FarFutureTagsWaitInsteadOfFiringAtOnce) {
    // Tags built in code may lie eras ahead; their wait must not wrap round to "now".
    const auto soon = OSCTimeTag::fromTimeIntervalSinceNow(60).rawValue();
    for (const std::int64_t era : {1, 3, 7, 1000000}) {
        SCOPED_TRACE(era);
        auto log = std::make_shared<Log>();
        auto receiver = std::make_shared<Receiver>(OSCTimeTagMode::osc1_0, log);
        OSCHandlerProtocol::handle(receiver,
                                   OSCPacket::bundle(OSCTimeTag(soon, era), {msg("/far")}),
                                   OSCTimeTag::immediate(), "h", 1);
        OSCHandlerProtocol::handle(receiver, msg("/marker"), OSCTimeTag::immediate(), "h", 1);
        ASSERT_TRUE(log->waitFor(1));
        for (int i = 0; i < 4; ++i) receiver->queue()->sync([] {});
        EXPECT_EQ(log->addresses(), std::vector<std::string>{"/marker"});
    }
}

TEST(OSCReceiveDispatch, NoHandlerDropsMessages) {
    auto log = std::make_shared<Log>();
    auto receiver = std::make_shared<Receiver>(OSCTimeTagMode::ignore, log, false);
    OSCHandlerProtocol::handle(receiver, OSCPacket::bundle(std::nullopt, {msg("/a"), msg("/b")}),
                               OSCTimeTag::immediate(), "h", 1);
    for (int i = 0; i < 4; ++i) receiver->queue()->sync([] {});
    EXPECT_TRUE(log->addresses().empty());
}

}  // namespace
