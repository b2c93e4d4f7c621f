#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "osc/core/OSCAddressSpace.h"
#include "osc/core/OSCCoreValueTypes.h"

namespace rozuri {
namespace {

using MethodID = OSCAddressSpace::MethodID;

// Collects block calls from the queue's threads.
struct Calls {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> seen;

    OSCAddressSpace::MethodBlock block(std::string name) {
        return [this, name](std::vector<AnyOSCValue> values, std::string host, std::uint16_t port) {
            std::lock_guard lock(mutex);
            seen.push_back(name + ":" + std::to_string(values.size()) + ":" + host + ":" +
                           std::to_string(port));
            changed.notify_all();
        };
    }
    bool waitFor(std::size_t n) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return seen.size() >= n; });
    }
};

auto noop() {
    return [](std::vector<AnyOSCValue>, std::string, std::uint16_t) {};
}

TEST(OSCAddressSpace, RegistrationKeepsIDsAndReplacesBlocks) {
    auto space = OSCAddressSpace::create();
    MethodID b = space->registerMethod("/a/b", noop());
    EXPECT_EQ(space->registerMethod("/a/b", noop()), b);
    EXPECT_TRUE(space->methodIDs("/a").empty());  // 'a' is a container
    MethodID a = space->registerMethod("/a", noop());
    EXPECT_EQ(space->methodIDs("/a"), std::vector<MethodID>{a});
    EXPECT_EQ(space->methodIDs("/a/b"), std::vector<MethodID>{b});
    // 'a' keeps the identifier it got when it was made on the way to 'b'.
    EXPECT_TRUE(space->unregisterMethod(a));
    EXPECT_EQ(space->registerMethod(std::vector<std::string>{"a"}, noop()), a);

    for (const char* nothing : {"", "/", "//"}) {
        MethodID id = space->registerMethod(nothing, noop());
        EXPECT_FALSE(space->unregisterMethod(id)) << nothing;
    }
    EXPECT_FALSE(space->unregisterMethod(std::vector<std::string>{}));
}

TEST(OSCAddressSpace, Removal) {
    struct Case {
        const char* name;
        std::vector<const char*> registered;
        const char* removed;
        bool result;
        const char* pattern;
        std::size_t matchedAfter;
    };
    const Case cases[] = {
        {"method with children stays as container", {"/a", "/a/b"}, "/a", true, "/a/b", 1},
        {"container is no method", {"/a/b"}, "/a", false, "/a/b", 1},
        {"leaf removed, container left", {"/a/b"}, "/a/b", true, "/a", 0},
        {"unknown path", {"/a/b"}, "/a/c", false, "/a/*", 1},
        {"empty address", {"/a"}, "/", false, "/a", 1},
    };
    for (const Case& c : cases) {
        auto space = OSCAddressSpace::create();
        for (const char* r : c.registered) space->registerMethod(r, noop());
        EXPECT_EQ(space->unregisterMethod(c.removed), c.result) << c.name;
        EXPECT_EQ(space->methodIDs(c.pattern).size(), c.matchedAfter) << c.name;
    }
    auto space = OSCAddressSpace::create();
    space->registerMethod("/a", noop());
    space->registerMethod("/a/b", noop());
    EXPECT_TRUE(space->unregisterMethod("/a"));
    EXPECT_FALSE(space->unregisterMethod("/a"));
    EXPECT_TRUE(space->unregisterMethod(std::vector<std::string>{"a", "b"}));
}

TEST(OSCAddressSpace, MatchingIsInTreeOrderAndWildcardsInNamesArePlain) {
    auto space = OSCAddressSpace::create();
    MethodID x = space->registerMethod("/a/x", noop());
    MethodID y = space->registerMethod("/a/y", noop());
    EXPECT_EQ(space->methodIDs("/a/*"), (std::vector<MethodID>{x, y}));
    EXPECT_EQ(space->methodIDs("/a/{y,x}"), (std::vector<MethodID>{x, y}));
    EXPECT_TRUE(space->methodIDs("/*").empty());
    MethodID star = space->registerMethod("/b/*", noop());
    EXPECT_EQ(space->methodIDs("/b/*"), std::vector<MethodID>{star});
    EXPECT_EQ(space->methodIDs("/b/[*]"), std::vector<MethodID>{star});
    EXPECT_TRUE(space->methodIDs("/b/x").empty());
    EXPECT_TRUE(space->methodIDs("").empty());
}

TEST(OSCAddressSpace, DispatchRunsBlocksOnTheQueue) {
    Calls calls;
    auto queue = dispatch::Queue::createSerial("test.addressspace");
    auto space = OSCAddressSpace::create(queue);
    MethodID x = space->registerMethod("/a/x", calls.block("x"));
    MethodID y = space->registerMethod("/a/y", calls.block("y"));
    EXPECT_EQ(space->dispatchMessage(OSCMessage("/a/*", {std::int32_t{1}, 2.0f}), "host", 9000),
              (std::vector<MethodID>{x, y}));
    EXPECT_EQ(space->dispatchMessage(OSCMessage("/a/y")), std::vector<MethodID>{y});
    EXPECT_TRUE(space->dispatchMessage(OSCMessage("/a")).empty());
    ASSERT_TRUE(calls.waitFor(3));
    std::lock_guard lock(calls.mutex);
    // A serial queue keeps the order in which they were started.
    EXPECT_EQ(calls.seen, (std::vector<std::string>{"x:2:host:9000", "y:2:host:9000", "y:0::0"}));
}

TEST(OSCAddressSpace, UnregisterAllForgetsEveryID) {
    auto space = OSCAddressSpace::create();
    MethodID a = space->registerMethod("/a", noop());
    MethodID b = space->registerMethod("/b/c", noop());
    space->unregisterAllMethods();
    EXPECT_FALSE(space->unregisterMethod(a));
    EXPECT_FALSE(space->unregisterMethod(b));
    EXPECT_TRUE(space->dispatchMessage(OSCMessage("/*")).empty());
    EXPECT_NE(space->registerMethod("/a", noop()), a);
}

TEST(OSCAddressSpace, ConcurrentUse) {
    auto space = OSCAddressSpace::create();
    // Blocks may still run after the test body ends: they share the counter, not the stack.
    auto ran = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                std::string address = "/t" + std::to_string(t) + "/m" + std::to_string(i % 10);
                space->registerMethod(address, [ran](auto, auto, auto) { ++*ran; });
                space->dispatchMessage(OSCMessage("/t*/m?"));
                if (i % 3 == 0) space->unregisterMethod(address);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_FALSE(space->methodIDs("/t*/*").empty());
}

}  // namespace
}  // namespace rozuri
