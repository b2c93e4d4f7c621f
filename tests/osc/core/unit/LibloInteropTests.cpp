#include <gtest/gtest.h>

#include <lo/lo.h>
#include <lo/lo_lowlevel.h>

#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"

// Packets made here read the same in liblo, and liblo's read the same here, over every argument
// type liblo has. Everything runs in process (serialise / deserialise, a UNIX-socket server for
// bundles), so no network is involved.
namespace rozuri {
namespace {

// liblo's arguments sit at 4-byte offsets in its buffer, so lo_arg members are read by copy.
template <typename T>
T argAs(const lo_arg* arg) {
    T value;
    std::memcpy(&value, arg, sizeof value);
    return value;
}
const char* argText(const lo_arg* arg) {
    return reinterpret_cast<const char*>(arg);
}
const std::uint8_t* argBytes(const lo_arg* arg) {
    return reinterpret_cast<const std::uint8_t*>(arg);
}

struct LoMessage {
    lo_message m = lo_message_new();
    ~LoMessage() { lo_message_free(m); }
};

std::vector<AnyOSCValue> everyLibloType() {
    return {std::int32_t{-7},
            1.5f,
            std::string("text"),
            Data{1, 2, 3, 4, 5},
            std::int64_t{-1234567890123},
            2.25,
            OSCStringAltValue("sym"),
            Character('A'),
            OSCMIDIValue{1, 0x90, 0x3C, 0x7F},
            true,
            false,
            OSCNullValue{},
            OSCImpulseValue{},
            OSCTimeTag(0x0000000100000002ULL)};
}
constexpr const char* kEveryLibloTypeTags = "ifsbhdScmTFNIt";

TEST(LibloInterop, OurMessageDecodesInLiblo) {
    Data wire = OSCMessage("/peer/all", everyLibloType()).encodedData();
    int result = 0;
    lo_message m = lo_message_deserialise(wire.data(), wire.size(), &result);
    ASSERT_NE(m, nullptr) << "liblo error " << result;
    EXPECT_STREQ(lo_message_get_types(m), kEveryLibloTypeTags);
    lo_arg** argv = lo_message_get_argv(m);
    EXPECT_EQ(argAs<std::int32_t>(argv[0]), -7);
    EXPECT_EQ(argAs<float>(argv[1]), 1.5f);
    EXPECT_STREQ(argText(argv[2]), "text");
    ASSERT_EQ(argAs<std::int32_t>(argv[3]), 5);
    EXPECT_EQ(std::memcmp(argBytes(argv[3]) + 4, "\1\2\3\4\5", 5), 0);
    EXPECT_EQ(argAs<std::int64_t>(argv[4]), -1234567890123);
    EXPECT_EQ(argAs<double>(argv[5]), 2.25);
    EXPECT_STREQ(argText(argv[6]), "sym");
    EXPECT_EQ(argBytes(argv[7])[0], 'A');
    EXPECT_EQ(std::vector<int>(argBytes(argv[8]), argBytes(argv[8]) + 4),
              (std::vector<int>{1, 0x90, 0x3C, 0x7F}));
    lo_timetag tt = argAs<lo_timetag>(argv[13]);
    EXPECT_EQ(tt.sec, 1u);
    EXPECT_EQ(tt.frac, 2u);
    lo_message_free(m);

    // An empty message and a long address.
    std::string address = "/" + std::string(301, 'x');
    Data empty = OSCMessage(address).encodedData();
    lo_message e = lo_message_deserialise(empty.data(), empty.size(), &result);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(lo_message_get_argc(e), 0);
    lo_message_free(e);
}

TEST(LibloInterop, LibloMessageDecodesHere) {
    LoMessage lo;
    lo_message_add_int32(lo.m, -7);
    lo_message_add_float(lo.m, 1.5f);
    lo_message_add_string(lo.m, "text");
    unsigned char blobBytes[] = {1, 2, 3, 4, 5};
    lo_blob blob = lo_blob_new(5, blobBytes);
    lo_message_add_blob(lo.m, blob);
    lo_message_add_int64(lo.m, -1234567890123);
    lo_message_add_double(lo.m, 2.25);
    lo_message_add_symbol(lo.m, "sym");
    lo_message_add_char(lo.m, 'A');
    std::uint8_t midi[4] = {1, 0x90, 0x3C, 0x7F};
    lo_message_add_midi(lo.m, midi);
    lo_message_add_true(lo.m);
    lo_message_add_false(lo.m);
    lo_message_add_nil(lo.m);
    lo_message_add_infinitum(lo.m);
    lo_timetag tt{1, 2};
    lo_message_add_timetag(lo.m, tt);

    std::size_t size = 0;
    void* raw = lo_message_serialise(lo.m, "/peer/all", nullptr, &size);
    ASSERT_NE(raw, nullptr);
    Data wire(static_cast<std::uint8_t*>(raw), static_cast<std::uint8_t*>(raw) + size);
    std::free(raw);
    lo_blob_free(blob);

    std::optional<OSCPacket> packet = OSCPacket::decode(wire);
    ASSERT_TRUE(packet && packet->isMessage());
    const OSCMessage& m = *packet->asMessage();
    EXPECT_EQ(m.addressPattern().rawAddress(), "/peer/all");
    std::vector<AnyOSCValue> expected = everyLibloType();
    ASSERT_EQ(m.values().size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(m.values()[i], expected[i]) << i << ": " << m.values()[i].debugDescription();
    // Forwarding keeps liblo's bytes, and our encoder writes the same bytes afresh.
    EXPECT_EQ(m.encodedData(), wire);
    EXPECT_EQ(OSCMessage("/peer/all", m.values()).encodedData(), wire);
}

TEST(LibloInterop, LibloBundleDecodesHere) {
    lo_timetag tt{0x83AA7E80u, 0x80000000u};
    lo_bundle bundle = lo_bundle_new(tt);
    lo_message a = lo_message_new(), b = lo_message_new();
    lo_message_add_int32(a, 1);
    lo_message_add_string(b, "two");
    lo_bundle_add_message(bundle, "/a", a);
    lo_bundle_add_message(bundle, "/b", b);
    std::size_t size = 0;
    void* raw = lo_bundle_serialise(bundle, nullptr, &size);
    ASSERT_NE(raw, nullptr);
    Data wire(static_cast<std::uint8_t*>(raw), static_cast<std::uint8_t*>(raw) + size);
    std::free(raw);
    lo_bundle_free_recursive(bundle);  // the messages and the paths too

    std::optional<OSCPacket> packet = OSCPacket::decode(wire);
    ASSERT_TRUE(packet && packet->isBundle());
    const OSCBundle& decoded = *packet->asBundle();
    EXPECT_EQ(decoded.timeTag().rawValue(), (std::uint64_t{0x83AA7E80u} << 32) | 0x80000000u);
    ASSERT_EQ(decoded.elements().size(), 2u);
    EXPECT_EQ(*decoded.elements()[0].asMessage(), OSCMessage("/a", {std::int32_t{1}}));
    EXPECT_EQ(*decoded.elements()[1].asMessage(), OSCMessage("/b", {std::string("two")}));
    EXPECT_EQ(decoded.encodedData(), wire);
    // Built here from the same content, the bytes match liblo's.
    OSCBundle ours(decoded.timeTag(),
                   {OSCMessage("/a", {std::int32_t{1}}), OSCMessage("/b", {std::string("two")})});
    EXPECT_EQ(ours.encodedData(), wire);
}

struct Received {
    std::vector<std::string> paths;
    std::vector<std::string> types;
};

int collect(const char* path, const char* types, lo_arg**, int, lo_message, void* user) {
    auto* r = static_cast<Received*>(user);
    r->paths.emplace_back(path);
    r->types.emplace_back(types);
    return 0;
}

TEST(LibloInterop, OurBundleDispatchesInLiblo) {
    std::string socketPath = testing::TempDir() + "lo-core2-" + std::to_string(::getpid());
    ::unlink(socketPath.c_str());
    lo_server server = lo_server_new_with_proto(socketPath.c_str(), LO_UNIX, nullptr);
    if (!server) GTEST_SKIP() << "liblo UNIX socket server unavailable";
    Received received;
    lo_server_add_method(server, nullptr, nullptr, collect, &received);

    OSCBundle inner(std::nullopt, {OSCMessage("/c", {Data{9}})});
    OSCBundle bundle(std::nullopt, {OSCMessage("/a", {std::int32_t{1}, 2.0f}), inner,
                                    OSCMessage("/b", {std::string("x"), OSCStringAltValue("y")})});
    Data wire = bundle.encodedData();
    EXPECT_GE(lo_server_dispatch_data(server, wire.data(), wire.size()), 0);
    lo_server_free(server);
    ::unlink(socketPath.c_str());

    EXPECT_EQ(received.paths, (std::vector<std::string>{"/a", "/c", "/b"}));
    EXPECT_EQ(received.types, (std::vector<std::string>{"if", "b", "sS"}));
}

}  // namespace
}  // namespace rozuri
