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

struct Case {
    const char* name;
    std::function<void(OSCPacketWriter&)> write;
    OSCPacket expected;
};

// The writer gives the bytes a built packet of the same content encodes to, on the direct path
// and where it hands over to the general encoder alike; it appends to what is there.
TEST(OSCPacketWriter, WritesTheBytesOfTheBuiltPacket) {
    const Data blob5{1, 2, 3, 4, 5};
    const std::string text3("abc"), text4("abcd");
    const OSCTimeTag tag(0x83AA7E8080000001ULL);
    const OSCMIDIValue midi{1, 0x90, 60, 127};
    const OSCArrayValue array(std::vector<AnyOSCValue>{std::int32_t{1}});
    const AnyOSCValue small(std::int8_t{3});
    const std::vector<Case> cases = {
        {"no values", [](auto& w) { w.message("/a"); }, OSCMessage("/a")},
        {"numbers",
         [](auto& w) { w.message("/n", std::int32_t{-7}, 1.5f, 2.25, std::int64_t{1} << 40); },
         OSCMessage("/n", {std::int32_t{-7}, 1.5f, 2.25, std::int64_t{1} << 40})},
        {"bare tags",
         [](auto& w) { w.message("/b", true, false, OSCImpulseValue(), OSCNullValue()); },
         OSCMessage("/b", {true, false, OSCImpulseValue(), OSCNullValue()})},
        {"time tag and MIDI", [&](auto& w) { w.message("/t", tag, midi); },
         OSCMessage("/t", {tag, midi})},
        {"text of each padding",
         [&](auto& w) { w.message("/s", "", "a", std::string_view("ab"), text3, text4); },
         OSCMessage("/s", {"", "a", "ab", text3, text4})},
        {"alternate text", [](auto& w) { w.message("/S", OSCStringAltValue("x")); },
         OSCMessage("/S", {OSCStringAltValue("x")})},
        {"blobs", [&](auto& w) { w.message("/d", Data{}, blob5, DataView(blob5).first(4)); },
         OSCMessage("/d", {Data{}, blob5, Data{1, 2, 3, 4}})},
        {"non-ASCII text goes the general way", [](auto& w) { w.message("/u", "caf\xC3\xA9"); },
         OSCMessage("/u", {"caf\xC3\xA9"})},
        {"non-ASCII address goes the general way", [](auto& w) { w.message("/\xC3\xA9", 1); },
         OSCMessage("/\xC3\xA9", {std::int32_t{1}})},
        {"a value of another kind goes the general way",
         [&](auto& w) { w.message("/x", std::int8_t{3}, array, AnyOSCValue(2.0f)); },
         OSCMessage("/x", {small, array, 2.0f})},
        {"bundle, immediate by default",
         [](auto& w) { w.beginBundle().message("/a", 1).endBundle(); },
         OSCBundle(std::nullopt, {OSCMessage("/a", {std::int32_t{1}})})},
        {"nested bundles",
         [&](auto& w) {
             w.beginBundle(tag)
                 .message("/a", 1)
                 .beginBundle()
                 .endBundle()
                 .beginBundle(tag)
                 .message("/b", "text", blob5)
                 .endBundle()
                 .message("/c")
                 .endBundle();
         },
         OSCBundle(tag, {OSCMessage("/a", {std::int32_t{1}}), OSCBundle(),
                         OSCBundle(tag, {OSCMessage("/b", {"text", blob5})}), OSCMessage("/c")})},
    };
    for (const Case& c : cases) {
        Data out{9, 9};
        OSCPacketWriter w(out);
        c.write(w);
        EXPECT_EQ(w.openBundles(), 0u) << c.name;
        Data expected{9, 9};
        c.expected.appendEncodedData(expected);
        EXPECT_EQ(out, expected) << c.name;
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
    std::optional<OSCPacket> p = OSCPacket::decode(deep);
    ASSERT_TRUE(p && p->isBundle());
}

}  // namespace
}  // namespace rozuri
