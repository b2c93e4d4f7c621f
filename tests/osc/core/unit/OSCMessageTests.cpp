#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "tests/support/Bytes.h"

namespace rozuri {
namespace {

using mstest::bytes;

// "/a" with Int32 42.
const Data kSlashA42 = bytes({0x2F, 0x61, 0, 0, 0x2C, 0x69, 0, 0, 0, 0, 0, 0x2A});

TEST(OSCMessage, DecodesAndKeepsItsBytes) {
    OSCMessage m = OSCMessage::decode(kSlashA42);
    EXPECT_EQ(m.addressPattern().rawAddress(), "/a");
    ASSERT_EQ(m.values().size(), 1u);
    EXPECT_EQ(m.values()[0].get<std::int32_t>(), 42);
    ASSERT_TRUE(m.rawData());
    EXPECT_EQ(Data(m.rawData()->begin(), m.rawData()->end()), kSlashA42);
    EXPECT_EQ(m.encodedData(), kSlashA42);
}

TEST(OSCMessage, ForwardingIsByteExactEvenWhereTheEncoderWouldDiffer) {
    // Trailing bytes after the last argument, and a tag string without its comma.
    Data trailing = kSlashA42;
    trailing.insert(trailing.end(), {9, 9, 9, 9});
    EXPECT_EQ(OSCMessage::decode(trailing).encodedData(), trailing);
    Data noComma = bytes({0x2F, 0x61, 0, 0, 0x69, 0, 0, 0, 0, 0, 0, 0x2A});
    OSCMessage m = OSCMessage::decode(noComma);
    EXPECT_EQ(m.values()[0].get<std::int32_t>(), 42);
    EXPECT_EQ(m.encodedData(), noComma);
}

TEST(OSCMessage, EditsDropTheCachedBytes) {
    struct Edit {
        const char* name;
        void (*apply)(OSCMessage&);
        Data expected;
    };
    const Edit edits[] = {
        {"setValues", [](OSCMessage& m) { m.setValues({std::int32_t{7}}); },
         bytes({0x2F, 0x61, 0, 0, 0x2C, 0x69, 0, 0, 0, 0, 0, 7})},
        {"mutableValues", [](OSCMessage& m) { m.mutableValues().clear(); },
         bytes({0x2F, 0x61, 0, 0, 0x2C, 0, 0, 0})},
        {"setAddressPattern", [](OSCMessage& m) { m.setAddressPattern("/bc"); },
         bytes({0x2F, 0x62, 0x63, 0, 0x2C, 0x69, 0, 0, 0, 0, 0, 0x2A})},
    };
    for (const Edit& e : edits) {
        OSCMessage m = OSCMessage::decode(kSlashA42);
        e.apply(m);
        EXPECT_FALSE(m.rawData()) << e.name;
        EXPECT_EQ(m.encodedData(), e.expected) << e.name;
    }
    // A copy of an unchanged message still forwards the original bytes.
    OSCMessage original = OSCMessage::decode(kSlashA42);
    OSCMessage copy = original;
    copy.setValues({});
    EXPECT_EQ(original.encodedData(), kSlashA42);
}

TEST(OSCMessage, AddressWithNULRefusesToEncode) {
    OSCMessage m(OSCAddressPattern(std::string_view("/a\0/b", 5)), {std::int32_t{1}});
    try {
        m.encodedData();
        FAIL() << "encoded";
    } catch (const OSCEncodeError& e) {
        EXPECT_EQ(e.kind(), OSCEncodeError::Kind::general);
        EXPECT_STREQ(e.what(), "Encoding error: Address pattern contains a NUL character.");
    }
}

TEST(OSCMessage, DecodeErrorsPassThrough) {
    struct Case {
        Data data;
        const char* what;
    };
    const Case cases[] = {
        {bytes({0x2F, 0, 0, 0, 0}), "Malformed data: Length not a multiple of 4 bytes."},
        {bytes({}), "Malformed data: Does not start with an address pattern."},
        {bytes({0x2F, 0x61, 0, 0}), "Malformed data: Couldn't extract OSC-type chunk."},
    };
    for (const Case& c : cases) {
        try {
            OSCMessage::decode(c.data);
            ADD_FAILURE() << c.what;
        } catch (const OSCDecodeError& e) {
            EXPECT_STREQ(e.what(), c.what);
        }
    }
}

TEST(OSCMessage, EncodesMessagesBuiltInCode) {
    EXPECT_EQ(OSCMessage("/a").encodedData(), bytes({0x2F, 0x61, 0, 0, 0x2C, 0, 0, 0}));
    EXPECT_EQ(OSCMessage("/abc", {std::string("hi"), OSCImpulseValue{}, true}).encodedData(),
              bytes({0x2F, 0x61, 0x62, 0x63, 0, 0, 0,    0,    0x2C, 0x73,
                     0x49, 0x54, 0,    0,    0, 0, 0x68, 0x69, 0,    0}));
    EXPECT_EQ(OSCMessage::fromPathComponents(std::vector<std::string>{"x", "y"})
                  .addressPattern()
                  .rawAddress(),
              "/x/y");
}

TEST(OSCMessage, EqualityIgnoresCachedBytesAndOrderMatters) {
    OSCMessage decoded = OSCMessage::decode(kSlashA42);
    OSCMessage built("/a", {std::int32_t{42}});
    EXPECT_EQ(decoded, built);
    EXPECT_EQ(decoded.hash(), built.hash());
    EXPECT_NE(OSCMessage("/a", {std::int32_t{1}, "a"}), OSCMessage("/a", {"a", std::int32_t{1}}));
    EXPECT_NE(OSCMessage("/a", {std::int32_t{1}}), OSCMessage("/a", {std::int64_t{1}}));
    EXPECT_NE(OSCMessage("/a"), OSCMessage("/b"));
    EXPECT_EQ(OSCMessage("/a"), OSCMessage("/a", {}));
}

TEST(OSCMessage, Descriptions) {
    EXPECT_EQ(OSCMessage("/a/b").description(), "OSCMessage(\"/a/b\")");
    EXPECT_EQ(OSCMessage("/a/b", {std::int32_t{1}}).description(),
              "OSCMessage(\"/a/b\", values: [1])");
    EXPECT_EQ(OSCMessage("/a", {std::int32_t{5}, std::string("hi")}).multilineDescription(),
              "OSCMessage(\"/a\") with values:\n  Int32: 5\n  String: hi");
    EXPECT_EQ(OSCMessage("/a").multilineDescription(), "OSCMessage(\"/a\")");
}

TEST(OSCMessage, HeaderTest) {
    EXPECT_TRUE(isOSCMessage(bytes({0x2F})));
    EXPECT_TRUE(isOSCMessage(kSlashA42));
    EXPECT_FALSE(isOSCMessage(bytes({})));
    EXPECT_FALSE(isOSCMessage(bytes({0x23})));
}

TEST(OSCMessage, ExtendedValuesRoundTrip) {
    OSCMessage m("/x", {OSCArrayValue({std::int32_t{1}, OSCArrayValue({1.5f}), std::string("s")}),
                        OSCTimeTag(77, 3), OSCImpulseValue{}});
    OSCMessage back = OSCMessage::decode(m.encodedData());
    ASSERT_EQ(back.values().size(), 3u);
    EXPECT_EQ(back.values()[0], m.values()[0]);
    EXPECT_EQ(back.values()[1].get<OSCTimeTag>(), OSCTimeTag(77, 0));  // the era is not sent
    EXPECT_EQ(back.values()[2], m.values()[2]);
}

TEST(OSCMessage, DirectEncodingMatchesTheGeneralEncoder) {
    // The common kinds are written directly; everything else goes through the general encoder.
    // Both must give the same bytes.
    const std::vector<std::vector<AnyOSCValue>> lists = {
        {},
        {std::int32_t{-1}, 1.0f, 2.0, std::int64_t{-2}},
        {std::string(""), std::string("abc"), std::string("abcd")},
        {std::string("tab\there"), std::string("caf\xC3\xA9")},  // the second converted
        {std::string("a\0b", 3), std::string("\r\n\x7F"), OSCStringAltValue("\x01")},
        {Data{}, Data{1, 2, 3}, Data{1, 2, 3, 4}, Data(70000, 7)},
        {true, false, OSCImpulseValue{}, OSCNullValue{}},
        {OSCTimeTag(5, 2), OSCMIDIValue{1, 2, 3, 4}, OSCStringAltValue("alt")},
        {Character('x'), OSCArrayValue({std::int32_t{1}}), Int(3)},
        std::vector<AnyOSCValue>(40, AnyOSCValue(std::int32_t{9})),
    };
    for (std::size_t i = 0; i < lists.size(); ++i) {
        OSCMessage m("/addr/x", lists[i]);
        EXPECT_EQ(m.encodedData(), encodeMessageData(m.addressPattern().rawData(), lists[i])) << i;
    }
}

}  // namespace
}  // namespace rozuri
