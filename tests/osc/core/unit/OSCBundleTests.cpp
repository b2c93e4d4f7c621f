#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCPacket.h"
#include "tests/support/Bytes.h"

namespace rozuri {
namespace {

using mstest::bytes;
using mstest::concat;

Data size32(std::size_t n) {
    return dataRepresentation(static_cast<std::int32_t>(n), NumberEndianness::bigEndian);
}

const Data kHeader = bytes({'#', 'b', 'u', 'n', 'd', 'l', 'e', 0});
const Data kImmediate = bytes({0, 0, 0, 0, 0, 0, 0, 1});
const Data kEmptyBundle = concat({kHeader, kImmediate});

Data messageBytes(const char* address, std::int32_t v) {
    return OSCMessage(address, {v}).encodedData();
}

Data bundleOf(std::initializer_list<Data> elements, const Data& timeTag = kImmediate) {
    Data d = concat({kHeader, timeTag});
    for (const Data& e : elements) d = concat({d, size32(e.size()), e});
    return d;
}

std::string decodeError(const Data& d) {
    try {
        OSCBundle::decode(d);
    } catch (const OSCDecodeError& e) {
        EXPECT_EQ(e.kind(), OSCDecodeError::Kind::malformed);
        return e.text();
    }
    return "no error";
}

TEST(OSCBundle, EmptyImmediateBundle) {
    OSCBundle b = OSCBundle::decode(kEmptyBundle);
    EXPECT_TRUE(b.timeTag().isImmediate());
    EXPECT_TRUE(b.elements().empty());
    EXPECT_EQ(OSCBundle().encodedData(), kEmptyBundle);
    EXPECT_EQ(OSCBundle(std::nullopt).encodedData(), kEmptyBundle);
}

TEST(OSCBundle, DecodeErrorsInOrder) {
    Data badHeader = kEmptyBundle;
    badHeader[7] = 'x';
    Data negative = concat({kEmptyBundle, bytes({0xFF, 0xFF, 0xFF, 0xFC})});
    Data unknown = bundleOf({bytes({'x', 0, 0, 0})});
    struct Case {
        const char* name;
        Data data;
        std::string text;
    };
    const Case cases[] = {
        {"15 bytes", Data(kEmptyBundle.begin(), kEmptyBundle.end() - 1),
         "Data length too short. (Length is 15)"},
        {"12 bytes", concat({kHeader, bytes({0, 0, 0, 0})}),
         "Data length too short. (Length is 12)"},
        {"bad header", badHeader, "Bundle header is not present or is malformed."},
        {"1 stray byte", concat({kEmptyBundle, bytes({0})}),
         "Data bytes ended earlier than expected."},
        {"3 stray bytes", concat({kEmptyBundle, bytes({0, 0, 0})}),
         "Data bytes ended earlier than expected."},
        {"size past end", concat({kEmptyBundle, size32(12), bytes({'/', 0, 0, 0})}),
         "Data bytes ended earlier than expected."},
        {"negative size", negative, "Bundle element size is negative."},
        {"size 0", concat({kEmptyBundle, size32(0)}), "Unrecognized bundle element encountered."},
        {"unknown element", unknown, "Unrecognized bundle element encountered."},
        {"bad message element", bundleOf({bytes({'/', 'a', 0, 0})}),
         "Couldn't extract OSC-type chunk."},
    };
    for (const Case& c : cases) EXPECT_EQ(decodeError(c.data), c.text) << c.name;
}

TEST(OSCBundle, NestingOrderAndRoundTrip) {
    Data a = messageBytes("/a", 1), b = messageBytes("/b", 2), c = messageBytes("/c", 3),
         d = messageBytes("/d", 4);
    Data wire = bundleOf({a, bundleOf({b, c}), d});
    OSCBundle bundle = OSCBundle::decode(wire);
    ASSERT_EQ(bundle.elements().size(), 3u);
    EXPECT_TRUE(bundle.elements()[1].isBundle());
    std::vector<std::string> order;
    for (const OSCMessage& m : bundle.flattened()) order.push_back(m.addressPattern().rawAddress());
    EXPECT_EQ(order, (std::vector<std::string>{"/a", "/b", "/c", "/d"}));
    EXPECT_EQ(bundle.encodedData(), wire);
    // Nested elements keep their own bytes.
    EXPECT_EQ(bundle.elements()[1].encodedData(), bundleOf({b, c}));
    EXPECT_EQ(bundle.elements()[0].encodedData(), a);
}

TEST(OSCBundle, EncodesBuiltInCode) {
    OSCBundle b(OSCTimeTag(5), {OSCMessage("/a", {std::int32_t{1}})});
    Data wire = b.encodedData();
    ASSERT_EQ(wire.size(), 32u);
    EXPECT_EQ(Data(wire.begin() + 16, wire.begin() + 20), bytes({0, 0, 0, 0x0C}));
    EXPECT_EQ(Data(wire.begin() + 8, wire.begin() + 16), bytes({0, 0, 0, 0, 0, 0, 0, 5}));
    // The era does not travel.
    OSCBundle withEra(OSCTimeTag(5, 3), {});
    EXPECT_EQ(OSCBundle::decode(withEra.encodedData()).timeTag(), OSCTimeTag(5, 0));
}

TEST(OSCBundle, EditsDropTheCachedBytes) {
    Data wire = bundleOf({messageBytes("/a", 1)});
    {
        OSCBundle b = OSCBundle::decode(wire);
        b.setTimeTag(OSCTimeTag(9));
        EXPECT_EQ(b.encodedData(),
                  bundleOf({messageBytes("/a", 1)}, bytes({0, 0, 0, 0, 0, 0, 0, 9})));
    }
    {
        OSCBundle b = OSCBundle::decode(wire);
        b.mutableElements().push_back(OSCMessage("/b", {std::int32_t{2}}));
        EXPECT_EQ(b.encodedData(), bundleOf({messageBytes("/a", 1), messageBytes("/b", 2)}));
    }
    {
        // An edit deep inside a decoded bundle is sent too.
        OSCBundle b = OSCBundle::decode(bundleOf({bundleOf({messageBytes("/a", 1)})}));
        OSCBundle inner = *b.elements()[0].asBundle();
        inner.mutableElements()[0].asMessage()->setValues({std::int32_t{5}});
        b.setElements({inner});
        EXPECT_EQ(b.encodedData(), bundleOf({bundleOf({messageBytes("/a", 5)})}));
    }
    EXPECT_EQ(OSCBundle::decode(wire).encodedData(), wire);
}

TEST(OSCBundle, NestingBound) {
    Data wire = bundleOf({messageBytes("/x", 1)});
    for (std::size_t depth = 1; depth < OSCBundle::maxNestingDepth; ++depth)
        wire = bundleOf({wire});
    EXPECT_NO_THROW(OSCBundle::decode(wire));  // 64 levels
    EXPECT_EQ(decodeError(bundleOf({wire})), "Bundle nesting is too deep.");
}

TEST(OSCBundle, DeepDatagramSharesOneBuffer) {
    // A 64 KiB datagram of bundles nested as deep as the bound allows, then filled with
    // messages at every level: copying per level would cost far more than the datagram.
    Data wire;
    for (std::size_t depth = 0; depth < OSCBundle::maxNestingDepth; ++depth) {
        std::vector<Data> parts;
        if (!wire.empty()) parts.push_back(wire);
        for (int i = 0; i < 8; ++i) parts.push_back(messageBytes("/m", i));
        Data next = concat({kHeader, kImmediate});
        for (const Data& p : parts) next = concat({next, size32(p.size()), p});
        wire = next;
    }
    ASSERT_LT(wire.size(), 65536u);
    OSCBundle b = OSCBundle::decode(wire);
    const OSCBundle* level = &b;
    std::size_t depth = 1;
    const std::uint8_t* base = b.rawData()->data();
    while (level->elements()[0].isBundle()) {
        level = level->elements()[0].asBundle();
        ++depth;
        ASSERT_TRUE(level->rawData());
        EXPECT_GE(level->rawData()->data(), base);
        EXPECT_LT(level->rawData()->data(), base + wire.size());
    }
    EXPECT_EQ(depth, OSCBundle::maxNestingDepth);
    EXPECT_EQ(b.flattened().size(), 8 * OSCBundle::maxNestingDepth);
}

TEST(OSCBundle, EqualityHashingDescriptions) {
    Data wire = bundleOf({messageBytes("/a", 1)});
    OSCBundle decoded = OSCBundle::decode(wire);
    OSCBundle built(std::nullopt, {OSCMessage("/a", {std::int32_t{1}})});
    EXPECT_NE(decoded, built);  // cached bytes take part
    EXPECT_EQ(decoded, OSCBundle::decode(wire));
    EXPECT_EQ(decoded.hash(), OSCBundle::decode(wire).hash());
    EXPECT_EQ(built, OSCBundle(OSCTimeTag::immediate(), {OSCMessage("/a", {std::int32_t{1}})}));
    EXPECT_NE(built, OSCBundle(OSCTimeTag(1, 1), {OSCMessage("/a", {std::int32_t{1}})}));

    EXPECT_EQ(OSCBundle().description(), "OSCBundle()");
    EXPECT_EQ(OSCBundle(OSCTimeTag(5)).description(), "OSCBundle(timeTag: 5)");
    EXPECT_EQ(built.description(), "OSCBundle(elements: [OSCMessage(\"/a\", values: [1])])");
    OSCBundle tagged(OSCTimeTag(5), {OSCMessage("/a"), OSCBundle()});
    EXPECT_EQ(tagged.description(),
              "OSCBundle(timeTag: 5, elements: [OSCMessage(\"/a\"), OSCBundle()])");
    EXPECT_EQ(tagged.multilineDescription(),
              "OSCBundle(timeTag: 5) with elements:\n  OSCMessage(\"/a\")\n  OSCBundle()");
    EXPECT_EQ(OSCBundle().multilineDescription(), "OSCBundle()");
}

TEST(OSCBundle, EncodeErrorFromAnElementPassesThrough) {
    OSCBundle b(std::nullopt,
                {OSCMessage("/ok"), OSCMessage(OSCAddressPattern(std::string_view("/\0", 2)))});
    EXPECT_THROW(b.encodedData(), OSCEncodeError);
}

}  // namespace
}  // namespace rozuri
