#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "osc/core/DecodingError.h"
#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "tests/support/Bytes.h"

// The extended value types: array, impulse, MIDI, null, string-alt and the time tag as a value.
namespace rozuri {
namespace {

using mstest::bytes;

std::string tagsOf(const OSCEncodedTags& e) {
    std::string s;
    for (const Character& c : e.tags) s += c.text();
    return s;
}

std::vector<Character> tags(std::string_view s) {
    std::vector<Character> out;
    for (char c : s) out.emplace_back(c);
    return out;
}

TEST(OSCArrayValue, Encoding) {
    auto encode = OSCValueTraits<OSCArrayValue>::oscEncoding().block;
    OSCEncodedTags e = encode(OSCArrayValue({std::int32_t{1}, std::string("a")}));
    EXPECT_EQ(tagsOf(e), "[is]");
    EXPECT_EQ(e.data, bytes({0, 0, 0, 1, 0x61, 0, 0, 0}));
    OSCEncodedTags empty = encode(OSCArrayValue());
    EXPECT_EQ(tagsOf(empty), "[]");
    ASSERT_TRUE(empty.data);
    EXPECT_TRUE(empty.data->empty());
    EXPECT_EQ(tagsOf(encode(OSCArrayValue({OSCArrayValue({1.0f}), true}))), "[[f]T]");
}

TEST(OSCArrayValue, DecodingTagRuns) {
    auto decode = OSCValueTraits<OSCArrayValue>::oscDecoding().block;
    Data payload;
    OSCValueDecoder none(payload);
    auto empty = decode(tags("[]"), none);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->tagCount, 2u);
    EXPECT_TRUE(empty->value.elements.empty());
    EXPECT_FALSE(decode(tags("i]"), none));
    EXPECT_FALSE(decode(tags(""), none));

    Data nested = bytes({0, 0, 0, 7, 0x3F, 0x80, 0, 0, 0x78, 0, 0, 0});
    OSCValueDecoder d(nested);
    auto run = decode(tags("[i[f]s]"), d);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->tagCount, 7u);
    EXPECT_EQ(run->value,
              OSCArrayValue({std::int32_t{7}, OSCArrayValue({1.0f}), std::string("x")}));
    EXPECT_EQ(d.pos, nested.size());

    for (const char* unterminated : {"[ii", "["}) {
        Data eight(8, 0);
        OSCValueDecoder u(eight);
        try {
            decode(tags(unterminated), u);
            ADD_FAILURE() << unterminated;
        } catch (const OSCDecodeError& e) {
            EXPECT_STREQ(e.what(), "Malformed data: Array termination tag ']' was not found.");
        }
    }
}

TEST(OSCArrayValue, HostileNestingIsRefused) {
    // A message of 100,000 "[" would recurse once per bracket.
    std::string tagString = "," + std::string(100000, '[') + std::string(100000, ']');
    Data msg = bytes({'/', 'a', 0, 0});
    msg.insert(msg.end(), tagString.begin(), tagString.end());
    padToFourBytes(msg);
    try {
        decodeMessageData(msg);
        FAIL();
    } catch (const OSCDecodeError& e) {
        EXPECT_EQ(e.kind(), OSCDecodeError::Kind::malformed);
    }
    // Within the bound it decodes.
    std::string ok = "," + std::string(200, '[') + std::string(200, ']');
    Data m2 = bytes({'/', 'a', 0, 0});
    m2.insert(m2.end(), ok.begin(), ok.end());
    padToFourBytes(m2);
    EXPECT_EQ(decodeMessageData(m2).values.size(), 1u);
}

TEST(OSCArrayValue, EqualityHashingDescription) {
    OSCArrayValue a({std::int32_t{1}, std::string("a")});
    EXPECT_EQ(a, OSCArrayValue({std::int32_t{1}, std::string("a")}));
    EXPECT_EQ(std::hash<OSCArrayValue>{}(a),
              std::hash<OSCArrayValue>{}(OSCArrayValue({std::int32_t{1}, std::string("a")})));
    EXPECT_NE(a, OSCArrayValue({std::int32_t{1}}));
    EXPECT_NE(a, OSCArrayValue({std::string("a"), std::int32_t{1}}));
    EXPECT_EQ(OSCArrayValue().description(), "[]");
}

TEST(OSCExtendedValues, PayloadlessTags) {
    OSCMessage m("/a", {OSCImpulseValue{}, OSCNullValue{}, true});
    EXPECT_EQ(m.encodedData(), bytes({'/', 'a', 0, 0, ',', 'I', 'N', 'T', 0, 0, 0, 0}));
    OSCMessage back = OSCMessage::decode(m.encodedData());
    EXPECT_TRUE(back.values()[0].is<OSCImpulseValue>());
    EXPECT_TRUE(back.values()[1].is<OSCNullValue>());
    EXPECT_EQ(OSCImpulseValue{}, OSCImpulseValue{});
    EXPECT_EQ(AnyOSCValue(OSCImpulseValue{}).hash(), AnyOSCValue(OSCImpulseValue{}).hash());
    EXPECT_NE(AnyOSCValue(OSCImpulseValue{}), AnyOSCValue(OSCNullValue{}));
    EXPECT_EQ(AnyOSCValue(OSCImpulseValue{}).description(), "Impulse");
    EXPECT_EQ(AnyOSCValue(OSCNullValue{}).description(), "Null");
}

TEST(OSCExtendedValues, MIDI) {
    OSCMIDIValue v{1, 0x90, 0x3C, 0x7F};
    OSCEncodedTag e = OSCValueTraits<OSCMIDIValue>::oscEncoding().block(v);
    EXPECT_EQ(e.tag, 'm');
    EXPECT_EQ(e.data, bytes({1, 0x90, 0x3C, 0x7F}));
    EXPECT_EQ(v.description(), "MIDI(portID: 0x01, status: 0x90, data1: 0x3C, data2: 0x7F)");
    EXPECT_EQ(OSCMIDIValue::fromJSON(v.toJSON()), v);
    EXPECT_EQ(v.toJSON(), nlohmann::json::parse(R"({"bytes":[1,144,60,127]})"));
    try {
        OSCMIDIValue::fromJSON(nlohmann::json::parse(R"({"bytes":[1,2,3]})"));
        FAIL();
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.kind(), DecodingError::Kind::dataCorrupted);
        EXPECT_EQ(e.debugDescription(),
                  "Found unexpected number of values when decoding MIDI bytes.");
    }
    EXPECT_THROW(OSCMIDIValue::fromJSON(nlohmann::json::parse(R"({"bytes":[1,2,3,300]})")),
                 DecodingError);
    Data three = bytes({1, 2, 3});
    OSCValueDecoder d(three);
    EXPECT_THROW(OSCValueTraits<OSCMIDIValue>::oscDecoding().block(d), OSCDecodeError);
}

TEST(OSCExtendedValues, StringAltAndTimeTag) {
    OSCEncodedTag s =
        OSCValueTraits<OSCStringAltValue>::oscEncoding().block(OSCStringAltValue("abcd"));
    EXPECT_EQ(s.tag, 'S');
    EXPECT_EQ(s.data, bytes({'a', 'b', 'c', 'd', 0, 0, 0, 0}));
    EXPECT_TRUE(OSCStringAltValue("x") == std::string_view("x"));
    EXPECT_TRUE(std::string_view("x") == OSCStringAltValue("x"));
    EXPECT_FALSE(OSCStringAltValue("x") != "x");
    OSCMessage m = OSCMessage::decode(OSCMessage("/s", {OSCStringAltValue("hi")}).encodedData());
    EXPECT_EQ(m.values()[0].get<OSCStringAltValue>().string, "hi");

    OSCEncodedTag t = OSCValueTraits<OSCTimeTag>::oscEncoding().block(OSCTimeTag(1, 2));
    EXPECT_EQ(t.tag, 't');
    EXPECT_EQ(t.data, bytes({0, 0, 0, 0, 0, 0, 0, 1}));
    Data raw = *t.data;
    OSCValueDecoder d(raw);
    EXPECT_EQ(OSCValueTraits<OSCTimeTag>::oscDecoding().block(d), OSCTimeTag(1, 0));
}

}  // namespace
}  // namespace rozuri
