#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCPacketWriter.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"

namespace rozuri {
namespace {

// The writer gives the bytes a built packet of the same content encodes to, on the direct path
// and where it hands over to the general encoder alike; it appends to what is there.
TEST(OSCPacketWriter, WritesTheBytesOfTheBuiltPacket) {
    const Data blob5{1, 2, 3, 4, 5};
    const std::string text3("abc"), text4("abcd");
    const OSCTimeTag tag(0x83AA7E8080000001ULL);
    const OSCMIDIValue midi{1, 0x90, 60, 127};
    const OSCArrayValue array(std::vector<AnyOSCValue>{std::int32_t{1}});
    const std::int64_t big = std::int64_t{1} << 40;
    const std::pair<std::function<void(OSCPacketWriter&)>, OSCPacket> cases[] = {
        {[&](auto& w) { w.message("/n", -7, 1.5f, 2.25, big, true, false, tag, midi); },
         OSCMessage("/n", {std::int32_t{-7}, 1.5f, 2.25, big, true, false, tag, midi})},
        {[](auto& w) {
             w.message("/b", OSCImpulseValue(), OSCNullValue(), OSCStringAltValue("x"));
         },
         OSCMessage("/b", {OSCImpulseValue(), OSCNullValue(), OSCStringAltValue("x")})},
        {[&](auto& w) { w.message("/s", "", "a", std::string_view("ab"), text3, text4); },
         OSCMessage("/s", {"", "a", "ab", text3, text4})},
        {[&](auto& w) { w.message("/d", Data{}, blob5, DataView(blob5).first(4)); },
         OSCMessage("/d", {Data{}, blob5, Data{1, 2, 3, 4}})},
        // Non-ASCII text or address, and values of other kinds, go the general way.
        {[](auto& w) { w.message("/u", "caf\xC3\xA9"); }, OSCMessage("/u", {"caf\xC3\xA9"})},
        {[](auto& w) { w.message("/\xC3\xA9", 1); }, OSCMessage("/\xC3\xA9", {std::int32_t{1}})},
        {[&](auto& w) { w.message("/x", std::int8_t{3}, array, AnyOSCValue(2.0f)); },
         OSCMessage("/x", {AnyOSCValue(std::int8_t{3}), array, 2.0f})},
        // Bundles are immediate by default and nest.
        {[&](auto& w) {
             w.beginBundle(tag).message("/a", 1).beginBundle().endBundle().beginBundle();
             w.message("/b", "text", blob5).endBundle().message("/c").endBundle();
         },
         OSCBundle(tag, {OSCMessage("/a", {std::int32_t{1}}), OSCBundle(),
                         OSCBundle(std::nullopt, {OSCMessage("/b", {"text", blob5})}),
                         OSCMessage("/c")})},
    };
    int row = 0;
    for (const auto& [write, packet] : cases) {
        SCOPED_TRACE(row++);
        Data out{9, 9};
        OSCPacketWriter w(out);
        write(w);
        EXPECT_EQ(w.openBundles(), 0u);
        Data expected{9, 9};
        packet.appendEncodedData(expected);
        EXPECT_EQ(out, expected);
    }
}

// A refused write leaves the buffer as it was, inside a bundle too.
TEST(OSCPacketWriter, RefusedWritesLeaveTheBufferAsItWas) {
    Data out;
    OSCPacketWriter w(out);
    w.beginBundle().message("/a", 1);
    const Data before = out;
    EXPECT_THROW(w.message(std::string_view("/a\0b", 4), 1), OSCEncodeError);
    EXPECT_EQ(out, before);
    w.endBundle();
    EXPECT_THROW(w.endBundle(), OSCEncodeError);  // none open

    Data deep;
    OSCPacketWriter d(deep);
    for (std::size_t i = 0; i < OSCBundle::maxNestingDepth; ++i) d.beginBundle();
    EXPECT_THROW(d.beginBundle(), OSCEncodeError);
    while (d.openBundles() > 0) d.endBundle();
    // What was written decodes: each level holds the next.
    EXPECT_TRUE(OSCPacket::decode(deep).value().isBundle());
}

}  // namespace
}  // namespace rozuri
