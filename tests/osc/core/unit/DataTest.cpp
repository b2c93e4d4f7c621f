#include <gtest/gtest.h>

#include <cmath>

#include "osc/core/Data.h"

using namespace rozuri;

namespace {

constexpr auto big = NumberEndianness::bigEndian;
constexpr auto little = NumberEndianness::littleEndian;

TEST(DataTest, SystemEndiannessIsConcrete) {
    EXPECT_EQ(systemEndianness(), NumberEndianness::littleEndian);
}

TEST(DataTest, IntegerToBytes) {
    struct Case {
        Data bytes;
        Data expected;
    };
    const Case cases[] = {
        {dataRepresentation(std::int32_t{1}, big), {0, 0, 0, 1}},
        {dataRepresentation(std::int32_t{1}, little), {1, 0, 0, 0}},
        {dataRepresentation(std::int32_t{1}, NumberEndianness::platformDefault), {1, 0, 0, 0}},
        {dataRepresentation(std::uint16_t{0x1234}, big), {0x12, 0x34}},
        {dataRepresentation(std::int64_t{-2}, big),
         {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
        {dataRepresentation(std::uint8_t{7}, big), {7}},
        {dataRepresentation(1.0f, big), {0x3F, 0x80, 0, 0}},
        {dataRepresentation(1.0f, little), {0, 0, 0x80, 0x3F}},
        {dataRepresentation(1.0, big), {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.bytes, c.expected);
}

TEST(DataTest, BytesToNumberNeedsExactWidth) {
    const Data b256 = {0, 0, 1, 0};
    EXPECT_EQ(uint32Value(b256, big), 256u);
    EXPECT_EQ(uint32Value(b256, little), 0x10000u);
    for (std::size_t n : {0, 3, 5, 8}) {
        Data bytes(n, 1);
        EXPECT_FALSE(uint32Value(bytes, big)) << n;
        EXPECT_FALSE(int32Value(bytes, big)) << n;
        EXPECT_FALSE(float32Value(bytes, big)) << n;
    }
    EXPECT_FALSE(int64Value(Data{}, big));
    EXPECT_FALSE(doubleValue(Data{}, big));
    EXPECT_FALSE(int16Value(Data{}, big));
    EXPECT_FALSE(uint8Value(Data{}));
    EXPECT_EQ(uint8Value(Data{0xAB}), 0xAB);
    EXPECT_EQ(int8Value(Data{0xFF}), -1);
    EXPECT_EQ(integerValue<std::uint8_t>(Data{9}, little), 9);
}

TEST(DataTest, SliceConvertsLikeFreshBuffer) {
    const Data buffer = {9, 9, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0, 9};
    DataView slice = DataView(buffer).subspan(2, 8);
    EXPECT_EQ(doubleValue(slice, big), 1.0);
    EXPECT_EQ(int32Value(DataView(buffer).subspan(1, 4), big),
              int32Value(Data{9, 0x3F, 0xF0, 0}, big));
}

TEST(DataTest, FloatBitPatternsSurvive) {
    const Data nan = {0x7F, 0xC0, 0, 1};
    auto f = float32Value(nan, big);
    ASSERT_TRUE(f);
    EXPECT_TRUE(std::isnan(*f));
    EXPECT_EQ(dataRepresentation(*f, big), nan);
}

TEST(DataTest, TextEncodings) {
    EXPECT_EQ(dataUsingEncoding("ab", TextEncoding::ascii), (Data{'a', 'b'}));
    EXPECT_FALSE(dataUsingEncoding("\xC3\xA9", TextEncoding::ascii));
    EXPECT_EQ(stringFromData(Data{'\\', 'u', '0', '0', '4', '1'}, TextEncoding::nonLossyASCII),
              "A");
    EXPECT_FALSE(stringFromData(Data{0x80}, TextEncoding::ascii));
    EXPECT_FALSE(stringFromData(Data{0xC3}, TextEncoding::utf8));
    auto escaped = dataUsingEncoding("\xC3\xA9\\", TextEncoding::nonLossyASCII);
    ASSERT_TRUE(escaped);
    EXPECT_EQ(stringFromData(*escaped, TextEncoding::nonLossyASCII), "\xC3\xA9\\");
    EXPECT_EQ(byteArray(Data{1, 2}), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(dataFromSequence(std::vector<int>{1, 255}), (Data{1, 255}));
}

}  // namespace
