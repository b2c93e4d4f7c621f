#include <gtest/gtest.h>

#include <limits>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"

using namespace rozuri;

namespace {

std::pair<std::string, Data> encode(const AnyOSCValue& v) {
    std::vector<ASCIICharacter> tags;
    Data chunk;
    encodeValue(v, tags, chunk);
    std::string t;
    for (const auto& c : tags) t += c.characterValue().text();
    return {t, chunk};
}

TEST(OSCInterpolatedValueTest, EncodesAsTheCoreType) {
    struct Case {
        AnyOSCValue value;
        std::string tag;
        Data payload;
    };
    const Case cases[] = {
        {std::int8_t{-1}, "i", {0xFF, 0xFF, 0xFF, 0xFF}},
        {std::int16_t{-2}, "i", {0xFF, 0xFF, 0xFF, 0xFE}},
        {std::uint8_t{255}, "i", {0, 0, 0, 0xFF}},
        {std::uint16_t{65535}, "i", {0, 0, 0xFF, 0xFF}},
        {std::uint32_t{4294967295u}, "h", {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {Int(2147483647), "i", {0x7F, 0xFF, 0xFF, 0xFF}},
        {Int(-2147483648LL), "i", {0x80, 0, 0, 0}},
        {UInt(9223372036854775807ULL), "h", {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {std::uint64_t{9223372036854775807ULL},
         "h",
         {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {Float80(1.0L), "d", {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
        {CGFloat(1.0), "d", {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        auto [tag, payload] = encode(c.value);
        EXPECT_EQ(tag, c.tag) << c.value.typeName();
        EXPECT_EQ(payload, c.payload) << c.value.typeName();
        EXPECT_TRUE(c.value.descriptor().interpolated);
        EXPECT_EQ(c.value.descriptor().tagIdentity, c.value.descriptor().coreType()->tagIdentity);
        EXPECT_EQ(c.value.descriptor().token, c.value.descriptor().coreType()->token);
    }
}

TEST(OSCInterpolatedValueTest, OutOfRangeEncodingThrows) {
    struct Case {
        AnyOSCValue value;
        std::string text;
    };
    const Case cases[] = {
        {Int(2147483648LL),
         "OSC value encoding error: Value 2147483648 of type Int is out of range for Int32."},
        {Int(-2147483649LL),
         "OSC value encoding error: Value -2147483649 of type Int is out of range for Int32."},
        {UInt(9223372036854775808ULL),
         "OSC value encoding error: Value 9223372036854775808 of type UInt is out of range for "
         "Int64."},
        {std::uint64_t{18446744073709551615ULL},
         "OSC value encoding error: Value 18446744073709551615 of type UInt64 is out of range for "
         "Int64."},
    };
    for (const auto& c : cases) {
        std::vector<ASCIICharacter> tags;
        Data chunk;
        try {
            encodeValue(c.value, tags, chunk);
            ADD_FAILURE() << c.text;
        } catch (const OSCEncodeError& e) {
            EXPECT_EQ(e.kind(), OSCEncodeError::Kind::valueEncodingError);
            EXPECT_EQ(e.what(), c.text);
        }
        EXPECT_TRUE(tags.empty());
        EXPECT_TRUE(chunk.empty());
    }
}

template <class T>
std::string decodeOutcome(const Data& payload) {
    OSCValueDecoder d(payload);
    try {
        return AnyOSCValue(OSCValueTraits<T>::oscDecoding().block(d)).description();
    } catch (const OSCDecodeError& e) {
        return e.what();
    }
}

TEST(OSCInterpolatedValueTest, DecodingWithAChosenType) {
    struct Case {
        std::string outcome, expected;
    };
    const Data minusOne64(8, 0xFF);
    const Case cases[] = {
        {decodeOutcome<std::int8_t>({0, 0, 1, 0x2C}),
         "OSC value decoding error: Value 300 is out of range for Int8."},
        {decodeOutcome<std::int8_t>({0xFF, 0xFF, 0xFF, 0x80}), "-128"},
        {decodeOutcome<std::int16_t>({0, 1, 0, 0}),
         "OSC value decoding error: Value 65536 is out of range for Int16."},
        {decodeOutcome<std::uint8_t>({0xFF, 0xFF, 0xFF, 0xFF}),
         "OSC value decoding error: Value -1 is out of range for UInt8."},
        {decodeOutcome<std::uint16_t>({0, 0, 0xFF, 0xFF}), "65535"},
        {decodeOutcome<std::uint32_t>({0, 0, 0, 1, 0, 0, 0, 0}),
         "OSC value decoding error: Value 4294967296 is out of range for UInt32."},
        {decodeOutcome<UInt>(minusOne64),
         "OSC value decoding error: Value -1 is out of range for UInt."},
        {decodeOutcome<std::uint64_t>(minusOne64),
         "OSC value decoding error: Value -1 is out of range for UInt64."},
        {decodeOutcome<Int>({0xFF, 0xFF, 0xFF, 0xFE}), "-2"},
        {decodeOutcome<Float80>({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), "1.0"},
        {decodeOutcome<CGFloat>({0x3F, 0xF8, 0, 0, 0, 0, 0, 0}), "1.5"},
        {decodeOutcome<std::int8_t>({0, 0}),
         "Malformed data: Not enough bytes while reading Int32 data chunk."},
    };
    for (const auto& c : cases) EXPECT_EQ(c.outcome, c.expected);
}

TEST(OSCInterpolatedValueTest, ReceivedValuesAreCoreTypes) {
    std::vector<AnyOSCValue> values = {std::int8_t{5}, std::uint32_t{7}, Float80(2.5L), Int(9)};
    Data address = {'/', 'x'};
    auto decoded = decodeMessageData(encodeMessageData(address, values));
    ASSERT_EQ(decoded.values.size(), 4u);
    EXPECT_EQ(decoded.values[0], AnyOSCValue(std::int32_t{5}));
    EXPECT_EQ(decoded.values[1], AnyOSCValue(std::int64_t{7}));
    EXPECT_EQ(decoded.values[2], AnyOSCValue(2.5));
    EXPECT_EQ(decoded.values[3], AnyOSCValue(std::int32_t{9}));
}

}  // namespace
