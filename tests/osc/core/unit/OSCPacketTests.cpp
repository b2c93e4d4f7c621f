#include <gtest/gtest.h>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCPacket.h"
#include "tests/support/Bytes.h"

namespace rozuri {
namespace {

using mstest::bytes;

const Data kEmptyBundle = bytes({'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1});

TEST(OSCPacket, TypeTest) {
    struct Case {
        Data data;
        std::optional<OSCPacketType> type;
    };
    const Case cases[] = {
        {kEmptyBundle, OSCPacketType::bundle},
        {bytes({'/'}), OSCPacketType::message},
        {bytes({'/', 'a', 0, 0}), OSCPacketType::message},
        {bytes({}), std::nullopt},
        {bytes({'#', 'b', 'u', 'n'}), std::nullopt},
        {bytes({'x', 0, 0, 0}), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(packetType(c.data), c.type);
}

TEST(OSCPacket, DecodeDispatchesOnType) {
    EXPECT_FALSE(OSCPacket::decode(bytes({'x', 0, 0, 0})));
    EXPECT_FALSE(OSCPacket::decode(Data{}));
    auto bundle = OSCPacket::decode(kEmptyBundle);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->packetType(), OSCPacketType::bundle);
    EXPECT_EQ(bundle->encodedData(), kEmptyBundle);
    try {
        OSCPacket::decode(bytes({'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0}));
        FAIL();
    } catch (const OSCDecodeError& e) {
        EXPECT_STREQ(e.what(), "Malformed data: Data length too short. (Length is 12)");
    }
    EXPECT_THROW(OSCPacket::decode(bytes({'/'})), OSCDecodeError);
    Data message = OSCMessage("/m", {std::int32_t{3}}).encodedData();
    auto m = OSCPacket::decode(Data(message));
    ASSERT_TRUE(m && m->isMessage());
    EXPECT_EQ(m->encodedData(), message);
}

TEST(OSCPacket, FlattenEqualityHashing) {
    OSCPacket p = OSCPacket::bundle(
        std::nullopt,
        {OSCMessage("/a"), OSCPacket::bundle(std::nullopt, {OSCMessage("/b"), OSCMessage("/c")}),
         OSCMessage("/d")});
    std::vector<OSCMessage> flat = p.flattened();
    ASSERT_EQ(flat.size(), 4u);
    EXPECT_EQ(flat[3].addressPattern().rawAddress(), "/d");
    EXPECT_TRUE(OSCPacket::bundle(std::nullopt, {}).flattened().empty());
    EXPECT_NE(OSCPacket(OSCBundle()), OSCPacket(OSCMessage("/")));
    EXPECT_EQ(OSCPacket::message("/a", {std::int32_t{1}}),
              OSCPacket(OSCMessage("/a", {std::int32_t{1}})));
    EXPECT_EQ(OSCPacket::message("/a").hash(), OSCPacket(OSCMessage("/a")).hash());
    EXPECT_EQ(OSCPacket(OSCMessage("/a")).description(), "OSCMessage(\"/a\")");
    EXPECT_EQ(OSCPacket(OSCBundle()).multilineDescription(), "OSCBundle()");
}

}  // namespace
}  // namespace rozuri
