#include <gtest/gtest.h>

#include <lo/lo.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "tests/support/LibloServer.h"
#include "tests/support/LoopbackNet.h"

// Datagrams over loopback UDP between this library and a liblo server thread, both ways.
namespace rozuri {
namespace {

// What the liblo server thread received: one entry per message, its path, tags and first arguments.
struct Received {
    std::string path;
    std::string types;
    std::int32_t firstInt = 0;
    std::string firstString;
    std::vector<std::uint8_t> blob;
    double firstDouble = 0;
};

Received readMessage(const char* path, const char* types, lo_arg** argv, int argc) {
    Received r{path, types, 0, {}, {}, 0};
    for (int i = 0; i < argc; ++i) {
        if (types[i] == 'i' && r.firstInt == 0) std::memcpy(&r.firstInt, argv[i], 4);
        if (types[i] == 's' && r.firstString.empty()) r.firstString = &argv[i]->s;
        if (types[i] == 'd' && r.firstDouble == 0) std::memcpy(&r.firstDouble, argv[i], 8);
        if (types[i] == 'b' && r.blob.empty()) {
            auto* bytes = static_cast<std::uint8_t*>(lo_blob_dataptr(argv[i]));
            r.blob.assign(bytes, bytes + lo_blob_datasize(argv[i]));
        }
    }
    return r;
}

// A UDP socket bound to 127.0.0.1 on a port the system chooses.
struct LoopbackSocket : mstest::PlainSocket {
    LoopbackSocket() : PlainSocket(AF_INET) { bindLoopback(); }
};

struct LibloServer : mstest::LibloServer<Received> {
    LibloServer() : mstest::LibloServer<Received>(readMessage) {}
};

TEST(LibloUdp, OurDatagramsReachALibloServer) {
    LibloServer server;
    ASSERT_TRUE(server.ok());
    LoopbackSocket socket;
    ASSERT_NE(socket.port(), 0);

    struct Case {
        OSCPacket packet;
        std::vector<Received> expected;
    };
    const Case cases[] = {
        {OSCPacket::message("/peer/int", {std::int32_t{42}}), {{"/peer/int", "i", 42, {}, {}, 0}}},
        {OSCPacket::message("/peer/mix", {std::string("C:\\temp"), Data{9, 8, 7, 6, 5}, 0.25, true,
                                          OSCNullValue{}, OSCImpulseValue{}}),
         {{"/peer/mix", "sbdTNI", 0, "C:\\temp", {9, 8, 7, 6, 5}, 0.25}}},
        {OSCPacket::message("/peer/none"), {{"/peer/none", "", 0, {}, {}, 0}}},
        {OSCPacket::bundle(
             OSCTimeTag::immediate(),
             {OSCPacket::message("/b/one", {std::int32_t{1}}),
              OSCPacket::bundle(std::nullopt, {OSCPacket::message("/b/two", {std::int32_t{2}})})}),
         {{"/b/one", "i", 1, {}, {}, 0}, {"/b/two", "i", 2, {}, {}, 0}}},
    };
    std::size_t total = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(socket.sendTo(server.port(), c.packet.encodedData()));
        total += c.expected.size();
        ASSERT_TRUE(server.inbox.waitFor(total)) << c.packet.description();
        std::lock_guard lock(server.inbox.mutex);
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            const Received& got = server.inbox.messages[total - c.expected.size() + i];
            const Received& want = c.expected[i];
            EXPECT_EQ(got.path, want.path);
            EXPECT_EQ(got.types, want.types) << want.path;
            EXPECT_EQ(got.firstInt, want.firstInt) << want.path;
            EXPECT_EQ(got.firstString, want.firstString) << want.path;
            EXPECT_EQ(got.blob, want.blob) << want.path;
            EXPECT_EQ(got.firstDouble, want.firstDouble) << want.path;
        }
    }
}

TEST(LibloUdp, LibloDatagramsDecodeHere) {
    LoopbackSocket socket;
    ASSERT_NE(socket.port(), 0);
    const std::string port = std::to_string(socket.port());
    lo_address target = lo_address_new("127.0.0.1", port.c_str());
    ASSERT_NE(target, nullptr);

    // Message datagrams, one per row.
    struct Case {
        const char* name;
        int (*send)(lo_address);
        OSCMessage expected;
    };
    const Case cases[] = {
        {"ints and floats",
         [](lo_address t) { return lo_send(t, "/lo/num", "ifhd", 7, 1.5f, INT64_C(-9), 2.5); },
         OSCMessage("/lo/num", {std::int32_t{7}, 1.5f, std::int64_t{-9}, 2.5})},
        {"text", [](lo_address t) { return lo_send(t, "/lo/text", "sSc", "C:\\temp", "sym", 'z'); },
         OSCMessage("/lo/text",
                    {std::string("C:\\temp"), OSCStringAltValue("sym"), Character('z')})},
        {"no payload", [](lo_address t) { return lo_send(t, "/lo/flags", "TFNI"); },
         OSCMessage("/lo/flags", {true, false, OSCNullValue{}, OSCImpulseValue{}})},
        {"midi and time",
         [](lo_address t) {
             std::uint8_t midi[4] = {0, 0x90, 0x40, 0x7F};
             lo_timetag tt{1, 2};
             return lo_send(t, "/lo/mt", "mt", midi, tt);
         },
         OSCMessage("/lo/mt",
                    {OSCMIDIValue{0, 0x90, 0x40, 0x7F}, OSCTimeTag(0x0000000100000002ULL)})},
        {"blob",
         [](lo_address t) {
             const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
             lo_blob b = lo_blob_new(5, bytes);
             int r = lo_send(t, "/lo/blob", "b", b);
             lo_blob_free(b);
             return r;
         },
         OSCMessage("/lo/blob", {Data{1, 2, 3, 4, 5}})},
    };
    for (const Case& c : cases) {
        ASSERT_GE(c.send(target), 0) << c.name;
        const Data datagram = socket.receive();
        ASSERT_FALSE(datagram.empty()) << c.name;
        std::optional<OSCPacket> packet = OSCPacket::decode(datagram);
        ASSERT_TRUE(packet) << c.name;
        ASSERT_EQ(packet->flattened().size(), 1u) << c.name;
        EXPECT_EQ(packet->flattened()[0], c.expected) << c.name << ": " << packet->description();
        // Forwarding the unchanged packet gives the peer's bytes back.
        EXPECT_EQ(packet->encodedData(), datagram) << c.name;
    }

    // A bundle with a future time tag and two messages.
    lo_timetag when{0x83AA7E80u + 100u, 0x80000000u};
    lo_bundle bundle = lo_bundle_new(when);
    lo_message a = lo_message_new();
    lo_message_add_int32(a, 1);
    lo_message b = lo_message_new();
    lo_message_add_string(b, "two");
    lo_bundle_add_message(bundle, "/lo/a", a);
    lo_bundle_add_message(bundle, "/lo/b", b);
    ASSERT_GE(lo_send_bundle(target, bundle), 0);
    lo_bundle_free_recursive(bundle);
    const Data datagram = socket.receive();
    ASSERT_FALSE(datagram.empty());
    std::optional<OSCPacket> packet = OSCPacket::decode(datagram);
    ASSERT_TRUE(packet);
    ASSERT_EQ(packet->caseKind(), OSCPacket::Case::bundle);
    EXPECT_EQ(packet->asBundle()->timeTag().rawValue(),
              (std::uint64_t{0x83AA7E80u + 100u} << 32) | 0x80000000u);
    const std::vector<OSCMessage> expected = {OSCMessage("/lo/a", {std::int32_t{1}}),
                                              OSCMessage("/lo/b", {std::string("two")})};
    EXPECT_EQ(packet->flattened(), expected);
    EXPECT_EQ(packet->encodedData(), datagram);
    lo_address_free(target);
}

}  // namespace
}  // namespace rozuri
