#include "app/OSCManager.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/udp/OSCUDPServer.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/UserDefaults.h"

namespace {

using mantleshade::OSCManager;
using rozuri::AnyOSCValue;
using rozuri::OSCMessage;
using namespace std::chrono_literals;

// Records the calls that reach it, in order, as "show 2", "clear", "blackout".
class FakeDelegate : public mantleshade::OSCDelegate {
  public:
    std::vector<std::string> calls;
    void showOverlay(std::int64_t id) override { calls.push_back("show " + std::to_string(id)); }
    void clear() override { calls.push_back("clear"); }
    void blackout() override { calls.push_back("blackout"); }
};

// A UDP socket on 127.0.0.1 owned by the test: to hold a port or to send datagrams.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(std::uint16_t port = 0, bool anyAddress = false) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(anyAddress ? INADDR_ANY : INADDR_LOOPBACK);
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackSocket() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool bound() const { return bound_; }
    std::uint16_t port() const { return port_; }
    void sendTo(std::uint16_t port, const std::vector<std::uint8_t>& bytes) const {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(
            ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a),
            static_cast<ssize_t>(bytes.size()));
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
    std::uint16_t port_ = 0;
};

std::vector<std::uint8_t> bytesOf(const OSCMessage& message) {
    const auto data = message.encodedData();
    return {data.begin(), data.end()};
}

// "#bundle", a time tag, then one element: the message with its byte count.
std::vector<std::uint8_t> bundleOf(const OSCMessage& message, std::uint64_t timeTag) {
    std::vector<std::uint8_t> out = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0};
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back((timeTag >> shift) & 0xff);
    const auto body = bytesOf(message);
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back((size >> shift) & 0xff);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

class OSCManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("oscmanager-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        defaults_ = foundation::UserDefaults::openAt(dir_ / "defaults.json");
    }
    void TearDown() override {
        manager_.reset();
        dispatch::Queue::main()->drain();
        std::filesystem::remove_all(dir_);
    }

    std::shared_ptr<OSCManager> makeManager(bool deferStart = true) {
        manager_ = OSCManager::create(deferStart, defaults_.get());
        manager_->setDelegate(delegate_);
        return manager_;
    }

    // Hands the message to the receive handler and runs the main queue; answers what it printed.
    std::string deliver(const OSCMessage& message) {
        ::testing::internal::CaptureStdout();
        OSCManager::handleMessage(manager_, message);
        dispatch::Queue::main()->drain();
        return ::testing::internal::GetCapturedStdout();
    }

    bool waitForCalls(std::size_t count, std::chrono::milliseconds timeout = 5s) {
        return dispatch::Queue::main()->runUntil([&] { return delegate_->calls.size() >= count; },
                                                 timeout);
    }

    std::filesystem::path dir_;
    std::unique_ptr<foundation::UserDefaults> defaults_;
    std::shared_ptr<FakeDelegate> delegate_ = std::make_shared<FakeDelegate>();
    std::shared_ptr<OSCManager> manager_;
};

TEST_F(OSCManagerTest, AddressTableAndArguments) {
    struct Case {
        OSCMessage message;
        std::vector<std::string> calls;
        std::string log;
    };
    const std::vector<Case> cases = {
        {OSCMessage("/mantleshade/show", {std::int32_t{2}}), {"show 2"}, "OSC Rev to Show\n"},
        {OSCMessage("/mantleshade/show", {std::int32_t{0}}), {"blackout"}, "OSC Rev to Show\n"},
        {OSCMessage("/mantleshade/show", {std::int32_t{-1}}), {"show -1"}, "OSC Rev to Show\n"},
        {OSCMessage("/mantleshade/show", {std::int32_t{2147483647}}),
         {"show 2147483647"},
         "OSC Rev to Show\n"},
        {OSCMessage("/mantleshade/show", {std::int32_t{3}, AnyOSCValue("extra")}),
         {"show 3"},
         "OSC Rev to Show\n"},
        {OSCMessage("/mantleshade/show", {2.0f}), {}, ""},
        {OSCMessage("/mantleshade/show", {2.0}), {}, ""},
        {OSCMessage("/mantleshade/show", {std::int64_t{2}}), {}, ""},
        {OSCMessage("/mantleshade/show", {AnyOSCValue("2")}), {}, ""},
        {OSCMessage("/mantleshade/show", {true}), {}, ""},
        {OSCMessage("/mantleshade/show"), {}, ""},
        {OSCMessage("/mantleshade/show/", {std::int32_t{1}}), {}, ""},
        {OSCMessage("/Mantleshade/Show", {std::int32_t{1}}), {}, ""},
        {OSCMessage("/mantleshade/sho?", {std::int32_t{1}}), {}, ""},
        {OSCMessage("/mantleshade/*", {std::int32_t{1}}), {}, ""},
        {OSCMessage("/*/show", {std::int32_t{1}}), {}, ""},
        {OSCMessage("//mantleshade/show", {std::int32_t{1}}), {}, ""},
        {OSCMessage("/mantleshade/clear"), {"clear"}, "OSC Rev to Hide\n"},
        {OSCMessage("/mantleshade/clear", {std::int32_t{5}, 1.5f}), {"clear"}, "OSC Rev to Hide\n"},
        {OSCMessage("/mantleshade/clear/"), {}, ""},
        {OSCMessage("/mantleshade/CLEAR"), {}, ""},
        {OSCMessage("/mantleshade/blackout"), {"blackout"}, ""},
        {OSCMessage("/mantleshade/blackout", {AnyOSCValue("x")}), {"blackout"}, ""},
        {OSCMessage("/mantleshade/black*"), {}, ""},
        {OSCMessage("/mantleshade"), {}, ""},
        {OSCMessage("/"), {}, ""},
    };
    makeManager();
    for (const Case& c : cases) {
        delegate_->calls.clear();
        EXPECT_EQ(deliver(c.message), c.log) << c.message.description();
        EXPECT_EQ(delegate_->calls, c.calls) << c.message.description();
    }
}

TEST_F(OSCManagerTest, CommandsReachTheDelegateOnlyOnTheMainQueue) {
    makeManager();
    // From the manager's own queue, as the server delivers.
    manager_->queue()->async([m = std::weak_ptr<OSCManager>(manager_)] {
        OSCManager::handleMessage(m, OSCMessage("/mantleshade/show", {std::int32_t{4}}));
    });
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(delegate_->calls, std::vector<std::string>{"show 4"});
}

TEST_F(OSCManagerTest, WithoutDelegateOrManagerNothingHappensButTheLogLine) {
    makeManager();
    manager_->setDelegate({});
    EXPECT_EQ(deliver(OSCMessage("/mantleshade/clear")), "OSC Rev to Hide\n");
    EXPECT_TRUE(delegate_->calls.empty());

    // The manager goes before the task reaches the main queue.
    manager_->setDelegate(delegate_);
    ::testing::internal::CaptureStdout();
    OSCManager::handleMessage(manager_, OSCMessage("/mantleshade/show", {std::int32_t{1}}));
    manager_.reset();
    dispatch::Queue::main()->drain();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "OSC Rev to Show\n");
    EXPECT_TRUE(delegate_->calls.empty());
}

TEST_F(OSCManagerTest, DelegateIsHeldWeakly) {
    makeManager();
    std::weak_ptr<FakeDelegate> watch = delegate_;
    delegate_.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(manager_->delegate(), nullptr);
    EXPECT_EQ(deliver(OSCMessage("/mantleshade/blackout")), "");
}

TEST_F(OSCManagerTest, StoredPortValues) {
    struct Case {
        nlohmann::json stored;  // null: key absent
        std::optional<std::uint16_t> port;
    };
    const std::vector<Case> cases = {
        {nullptr, 5000},
        {0, 0},
        {9000, 9000},
        {65535, 65535},
        {6000.0, 6000},
        {65536, std::nullopt},
        {70000, std::nullopt},
        {-1, std::nullopt},
        {std::numeric_limits<std::int64_t>::min(), std::nullopt},
        {std::numeric_limits<std::uint64_t>::max(), std::nullopt},
        {5000.5, std::nullopt},
        {1e300, std::nullopt},
        {"5000", std::nullopt},
        {true, std::nullopt},
        {nlohmann::json::array({5000}), std::nullopt},
    };
    makeManager();
    for (const Case& c : cases) {
        if (c.stored.is_null()) {
            defaults_->remove("oscPort");
        } else {
            defaults_->set("oscPort", c.stored);
        }
        ::testing::internal::CaptureStdout();
        EXPECT_EQ(manager_->storedPort(), c.port) << c.stored.dump();
        const std::string out = ::testing::internal::GetCapturedStdout();
        if (c.port) {
            EXPECT_EQ(out, "") << c.stored.dump();
        } else {
            EXPECT_NE(out.find("Invalid OSC port"), std::string::npos) << out;
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
    }
}

TEST_F(OSCManagerTest, InvalidStoredPortStaysInStartFailed) {
    defaults_->set("oscPort", 70000);
    makeManager();
    ::testing::internal::CaptureStdout();
    manager_->startListening();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Invalid OSC port 70000"), std::string::npos) << out;
    EXPECT_FALSE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), std::nullopt);
    EXPECT_EQ(manager_->server(), nullptr);
}

TEST_F(OSCManagerTest, ListensOnTheStoredPortAndStopKeepsThePort) {
    LoopbackSocket probe;  // finds a free port, then frees it
    const std::uint16_t port = probe.port();
    probe.close();
    defaults_->set("oscPort", static_cast<std::int64_t>(port));

    makeManager();
    int listeningChanges = 0;
    QObject::connect(manager_.get(), &OSCManager::serverIsListeningChanged,
                     [&](bool) { ++listeningChanges; });
    EXPECT_FALSE(manager_->serverIsListening());
    EXPECT_EQ(manager_->server(), nullptr);

    manager_->startListening();
    ASSERT_TRUE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), port);
    EXPECT_NE(manager_->server(), nullptr);

    LoopbackSocket sender;
    sender.sendTo(port, {'n', 'o', 't', ' ', 'o', 's', 'c'});
    sender.sendTo(port, bytesOf(OSCMessage("/mantleshade/show", {std::int32_t{2}})));
    ASSERT_TRUE(waitForCalls(1));
    EXPECT_EQ(delegate_->calls, std::vector<std::string>{"show 2"});

    manager_->stopListening();
    EXPECT_FALSE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), port);
    EXPECT_EQ(manager_->server(), nullptr);
    EXPECT_EQ(listeningChanges, 2);

    // The port is free again.
    LoopbackSocket again(port, true);
    EXPECT_TRUE(again.bound());
}

TEST_F(OSCManagerTest, StartsAtOnceUnlessDeferred) {
    defaults_->set("oscPort", 0);
    makeManager(false);
    EXPECT_TRUE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), 0) << "the asked port, not the one bound";
}

TEST_F(OSCManagerTest, PortInUseFailsThenSucceedsOnceFreed) {
    LoopbackSocket holder(0, true);
    ASSERT_TRUE(holder.bound());
    const std::uint16_t port = holder.port();
    defaults_->set("oscPort", static_cast<std::int64_t>(port));

    makeManager();
    ::testing::internal::CaptureStdout();
    manager_->startListening();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), std::nullopt);
    EXPECT_NE(manager_->server(), nullptr) << "the unstarted server stays until the next stop";
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_GT(out.size(), 1u);

    holder.close();
    manager_->startListening();
    EXPECT_TRUE(manager_->serverIsListening());
    EXPECT_EQ(manager_->currentListeningPort(), port);
}

TEST_F(OSCManagerTest, FutureBundleIsActedOnAtOnce) {
    LoopbackSocket probe;
    const std::uint16_t port = probe.port();
    probe.close();
    defaults_->set("oscPort", static_cast<std::int64_t>(port));
    makeManager();
    manager_->startListening();
    ASSERT_TRUE(manager_->serverIsListening());

    // About a century ahead of now (seconds since 1900 in the high 32 bits).
    const std::uint64_t farFuture = std::uint64_t{0xF0000000} << 32;
    LoopbackSocket sender;
    sender.sendTo(port, bundleOf(OSCMessage("/mantleshade/show", {std::int32_t{2}}), farFuture));
    sender.sendTo(port, bundleOf(OSCMessage("/mantleshade/clear"), farFuture));
    ASSERT_TRUE(waitForCalls(2));
    EXPECT_EQ(delegate_->calls, (std::vector<std::string>{"show 2", "clear"}));
}

}  // namespace
