#include <gtest/gtest.h>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"

using namespace rozuri;

namespace {

Data bytesOf(std::initializer_list<std::string_view> fields) {
    Data out;
    for (auto f : fields) out.insert(out.end(), f.begin(), f.end());
    return out;
}

std::string errorOf(const Data& bytes) {
    try {
        decodeMessageData(bytes);
    } catch (const OSCDecodeError& e) {
        return e.what();
    }
    return "";
}

TEST(MessageDecodingTest, LayoutErrors) {
    using namespace std::string_view_literals;
    struct Case {
        Data bytes;
        std::string error;
    };
    const Case cases[] = {
        {Data(5, '/'), "Malformed data: Length not a multiple of 4 bytes."},
        {{}, "Malformed data: Does not start with an address pattern."},
        {{'a', 0, 0, 0, ',', 0, 0, 0}, "Malformed data: Does not start with an address pattern."},
        {bytesOf({"/abc"sv, "\0\0\0\x01"sv, ",\0\0\0"sv}),
         "Malformed data: Address pattern string could not be parsed."},
        {bytesOf({"/abc"sv}), "Malformed data: Address pattern string could not be parsed."},
        {bytesOf({"/\xC3\xA9\0"sv}), "Malformed data: Address pattern string could not be parsed."},
        {bytesOf({"/a\0\0"sv}), "Malformed data: Couldn't extract OSC-type chunk."},
        {bytesOf({"/a\0\0"sv, ",iii"sv}), "Malformed data: Couldn't extract OSC-type chunk."},
        {bytesOf({"/a\0\0"sv, ",i\0\0"sv}),
         "Malformed data: Not enough bytes while reading Int32 data chunk."},
        {bytesOf({"/a\0\0"sv, ",x\0\0"sv}),
         "Internal inconsistency: No decoder found to decode OSC type tag: x. Only decoder types "
         "supplied by ROZUri can be used."},
        {bytesOf({"/a\0\0"sv, ",T]\0"sv}),
         "Internal inconsistency: No decoder found to decode OSC type tag: ]. Only decoder types "
         "supplied by ROZUri can be used."},
        {bytesOf({"/a\0\0"sv, ",[i\0"sv, "\0\0\0\x01"sv}),
         "Malformed data: Array termination tag ']' was not found."},
        {bytesOf({"/a\0\0"sv, ",c\0\0"sv, "\0\0\0\xC8"sv}),
         "Malformed data: Character value couldn't be read. Could not form a Unicode scalar from "
         "the value."},
        {bytesOf({"/a\0\0"sv, ",b\0\0"sv, "\xFF\xFF\xFF\xFF"sv}),
         "Malformed data: Blob length is negative: -1."},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.bytes), c.error);
}

TEST(MessageDecodingTest, ValidLayouts) {
    using namespace std::string_view_literals;
    struct Case {
        Data bytes;
        std::string address;
        std::vector<AnyOSCValue> values;
    };
    const Case cases[] = {
        {{0x2F, 0x61, 0, 0, 0x2C, 0x69, 0, 0, 0, 0, 0, 0x2A}, "/a", {std::int32_t{42}}},
        {bytesOf({"/a\0\0"sv, "i\0\0\0"sv, "\0\0\0\x2A"sv}), "/a", {std::int32_t{42}}},
        {bytesOf({"/a\0\0"sv, ",,i\0"sv, "\0\0\0\x2A"sv}), "/a", {std::int32_t{42}}},
        {bytesOf({"/a\0\0"sv, "\0\0\0\0"sv}), "/a", {}},
        {bytesOf({"/a\0\0"sv, ",\0\0\0"sv}), "/a", {}},
        {bytesOf({"/abc"sv, "\0\0\0\0"sv, ",\0\0\0"sv}), "/abc", {}},
        {bytesOf({"/a\0\0"sv, ",i\0\0"sv, "\0\0\0\x01"sv, "\xDE\xAD\xBE\xEF"sv}),
         "/a",
         {std::int32_t{1}}},
        {bytesOf({"/a\0\0"sv, ",TFi"sv, "\0\0\0\0"sv, "\0\0\0\x05"sv}),
         "/a",
         {true, false, std::int32_t{5}}},
        {bytesOf({"/a\0\0"sv, ",bi\0"sv, "\0\0\0\x04"sv, "\x01\x02\x03\x04"sv, "\0\0\0\x09"sv}),
         "/a",
         {Data{1, 2, 3, 4}, std::int32_t{9}}},
        {bytesOf({"/a\0\0"sv, ",sfd"sv, "h\0\0\0"sv, "hi\0\0"sv, "\x3F\x80\0\0"sv,
                  "\x3F\xF0\0\0\0\0\0\0"sv, "\0\0\0\0\0\0\0\x07"sv}),
         "/a",
         {"hi", 1.0f, 1.0, std::int64_t{7}}},
    };
    for (const auto& c : cases) {
        auto m = decodeMessageData(c.bytes);
        EXPECT_EQ(m.addressPattern, c.address);
        EXPECT_TRUE(valueArraysEqual(m.values, c.values)) << m.values.size();
    }
}

TEST(MessageDecodingTest, BackslashesArriveUnchanged) {
    using namespace std::string_view_literals;
    // An address, a tag string and a string argument holding backslashes.
    Data bytes = bytesOf({"/C:\\temp\0\0\0\0"sv, ",s\0\0"sv, "\\u0041\0\0"sv});
    auto m = decodeMessageData(bytes);
    EXPECT_EQ(m.addressPattern, "/C:\\temp");
    ASSERT_EQ(m.values.size(), 1u);
    EXPECT_EQ(m.values[0], AnyOSCValue("\\u0041"));
    // And our own output reads back.
    std::vector<AnyOSCValue> values = {"C:\\temp\\x", "\\"};
    auto again = decodeMessageData(encodeMessageData(Data{'/', '\\'}, values));
    EXPECT_EQ(again.addressPattern, "/\\");
    EXPECT_TRUE(valueArraysEqual(again.values, values));
}

Data nestedArrays(std::size_t depth) {
    std::string text =
        std::string("/n\0\0,", 5) + std::string(depth, '[') + std::string(depth, ']');
    Data bytes(text.begin(), text.end());
    padToFourBytes(bytes);
    return bytes;
}

TEST(MessageDecodingTest, ArrayNestingIsBounded) {
    auto ok = decodeMessageData(nestedArrays(kMaxValueNestingDepth));
    ASSERT_EQ(ok.values.size(), 1u);
    // Walk down: exactly 256 levels.
    const AnyOSCValue* v = &ok.values[0];
    std::size_t levels = 0;
    while (auto a = v->get_if<OSCArrayValue>()) {
        ++levels;
        if (a->elements.empty()) break;
        v = &a->elements[0];
    }
    EXPECT_EQ(levels, kMaxValueNestingDepth);

    for (std::size_t depth : {kMaxValueNestingDepth + 1, std::size_t{60000}}) {
        EXPECT_EQ(errorOf(nestedArrays(depth)), "Malformed data: Array nesting is too deep.")
            << depth;
    }
    // Unterminated: 60,000 '[' with nothing after them.
    std::string text = std::string("/n\0\0,", 5) + std::string(60000, '[');
    Data open(text.begin(), text.end());
    padToFourBytes(open);
    EXPECT_EQ(errorOf(open), "Malformed data: Array nesting is too deep.");
}

TEST(MessageDecodingTest, DeepValuesBuiltInCodeStaySafe) {
    AnyOSCValue v = OSCArrayValue(std::vector<AnyOSCValue>{});
    for (std::size_t i = 1; i < kMaxValueNestingDepth; ++i)
        v = OSCArrayValue(std::vector<AnyOSCValue>{v});
    AnyOSCValue copy = v;
    EXPECT_EQ(v, copy);
    EXPECT_EQ(v.hash(), copy.hash());
    EXPECT_FALSE(v.description().empty());
    std::vector<AnyOSCValue> values = {v};
    auto decoded = decodeMessageData(encodeMessageData(Data{'/', 'd'}, values));
    EXPECT_TRUE(valueArraysEqual(decoded.values, values));

    values = {OSCArrayValue(std::vector<AnyOSCValue>{v})};  // one level too many
    try {
        encodeMessageData(Data{'/', 'd'}, values);
        ADD_FAILURE();
    } catch (const OSCEncodeError& e) {
        EXPECT_STREQ(e.what(), "Encoding error: Array nesting is too deep.");
    }
}

TEST(MessageDecodingTest, TruncatedInputNeverReadsPastTheEnd) {
    std::vector<AnyOSCValue> values = {std::int32_t{1}, "text", Data{1, 2, 3, 4, 5}, 2.0,
                                       std::int64_t{3}, true,   Character('c'),      0.5f};
    Data full = encodeMessageData(Data{'/', 'a', 'b'}, values);
    for (std::size_t n = 0; n < full.size(); n += 4) {
        // A copy of exactly n bytes, so that a read past it is caught by the sanitizers.
        Data cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_THROW(decodeMessageData(cut), OSCDecodeError) << n;
    }
    EXPECT_TRUE(valueArraysEqual(decodeMessageData(full).values, values));
}

TEST(MessageDecodingTest, TagCharacters) {
    auto tags = tagCharacters(",i\r\nf");
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[2].text(), "\r\n");
}

}  // namespace
