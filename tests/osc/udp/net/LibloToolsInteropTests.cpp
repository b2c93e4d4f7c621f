#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "OscInbox.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/udp/OSCUDPClient.h"
#include "osc/udp/OSCUDPSocket.h"
#include "tests/support/ChildProcess.h"

// Our client and peer against liblo's command-line tools, peers not written here (liblo 0.31's
// tools speak IPv4 only).
namespace {

using namespace udptest;
using namespace rozuri;
using mstest::ChildProcess;

// oscdump's line without its leading time tag.
std::string withoutTimeTag(const std::string& line) {
    const auto space = line.find(' ');
    return space == std::string::npos ? line : line.substr(space + 1);
}

// The `count` lines oscdump printed after those of the knocks ("/ready"), each without its
// time tag; fewer when they do not come in time.
std::vector<std::string> linesAfterKnocks(ChildProcess& dump, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    std::vector<std::string> got;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const auto printed = dump.waitForLines(0, 0ms).size();
        got.clear();
        for (const auto& line : dump.waitForLines(printed + 1, 100ms)) {
            if (line.find("/ready") == std::string::npos) got.push_back(withoutTimeTag(line));
        }
    }
    return got;
}

TEST(LibloTools, ClientToOscdump) {
    const auto to = freeUdpPort();
    ChildProcess dump({"oscdump", "-L", std::to_string(to)});
    if (!dump.running()) GTEST_SKIP() << "oscdump (liblo-tools) not installed";
    auto client = OSCUDPClient::create();
    // oscdump says nothing when it is listening: knock until it prints.
    for (int i = 0; i < 50 && dump.waitForLines(1, 100ms).empty(); ++i) {
        client->send(OSCMessage("/ready"), "127.0.0.1", to);
    }
    ASSERT_FALSE(dump.waitForLines(1, 0ms).empty());

    client->send(
        OSCMessage("/all", {std::int32_t{-7}, 1.5f, std::string("text"), Data{1, 2, 3},
                            std::int64_t{-1234567890123}, 2.25, OSCStringAltValue("sym"),
                            Character('A'), OSCMIDIValue{1, 0x90, 0x3C, 0x7F}, true, false,
                            OSCNullValue{}, OSCImpulseValue{}, OSCTimeTag(0x0000000100000002ULL)}),
        "127.0.0.1", to);
    client->send(OSCBundle(std::nullopt, {OSCMessage("/b/one", {std::int32_t{1}}),
                                          OSCMessage("/b/two", {std::string("two")})}),
                 "localhost", to);
    EXPECT_EQ(linesAfterKnocks(dump, 3),
              (std::vector<std::string>{
                  "/all ifsbhdScmTFNIt -7 1.500000 \"text\" [3b 0x1 0x2 0x3] -1234567890123 "
                  "2.250000 'sym 'A' MIDI [0x01 0x90 0x3c 0x7f] #T #F Nil Infinitum "
                  "00000001.00000002",
                  "/b/one i 1", "/b/two s \"two\""}));
}

TEST(LibloTools, OscsendToPeer) {
    Inbox inbox;
    auto peer = OSCUDPSocket::create(std::nullopt, std::nullopt, std::nullopt,
                                     OSCTimeTagMode::ignore, false, nullptr, inbox.handler());
    peer->start();
    ChildProcess send({"oscsend", "127.0.0.1", std::to_string(peer->localPort()), "/from/liblo",
                       "ifsTN", "42", "0.5", "hello"});
    if (!send.running()) GTEST_SKIP() << "oscsend (liblo-tools) not installed";
    EXPECT_EQ(send.wait(), 0);
    ASSERT_TRUE(inbox.waitFor(1));
    std::lock_guard lock(inbox.mutex);
    const auto& m = inbox.messages[0];
    EXPECT_EQ(m.address, "/from/liblo");
    EXPECT_EQ(m.host, "127.0.0.1");
    EXPECT_EQ(m.values, (std::vector<AnyOSCValue>{std::int32_t{42}, 0.5f, std::string("hello"),
                                                  true, OSCNullValue{}}));
}

}  // namespace
