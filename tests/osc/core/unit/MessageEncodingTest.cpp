#include <gtest/gtest.h>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"

using namespace rozuri;

namespace {

Data ascii(std::string_view s) {
    return Data(s.begin(), s.end());
}

TEST(MessageEncodingTest, Layouts) {
    using namespace std::string_view_literals;
    struct Case {
        std::string address;
        std::vector<AnyOSCValue> values;
        std::string_view expected;
    };
    const Case cases[] = {
        {"/a", {}, "/a\0\0,\0\0\0"sv},
        {"/abcd", {}, "/abcd\0\0\0,\0\0\0"sv},
        {"/abc", {}, "/abc\0\0\0\0,\0\0\0"sv},
        {"", {}, "\0\0\0\0,\0\0\0"sv},
        {"/a",
         {std::int32_t{1}, std::int32_t{2}, std::int32_t{3}},
         "/a\0\0,iii\0\0\0\0\0\0\0\x01\0\0\0\x02\0\0\0\x03"sv},
        {"/a", {true, false}, "/a\0\0,TF\0"sv},
        {"/a", {Data{1, 2, 3, 4}}, "/a\0\0,b\0\0\0\0\0\x04\x01\x02\x03\x04"sv},
        {"/a", {Data{1, 2, 3, 4, 5}}, "/a\0\0,b\0\0\0\0\0\x05\x01\x02\x03\x04\x05\0\0\0"sv},
        {"/a", {"x", 1.0f}, "/a\0\0,sf\0x\0\0\0\x3F\x80\0\0"sv},
    };
    for (const auto& c : cases) {
        Data bytes = encodeMessageData(ascii(c.address), c.values);
        EXPECT_EQ(bytes, ascii(c.expected)) << c.address << " " << c.values.size();
        EXPECT_EQ(bytes.size() % 4, 0u);
    }
}

TEST(MessageEncodingTest, EncoderFields) {
    std::vector<AnyOSCValue> values = {std::int32_t{7}, true};
    OSCMessageEncoder encoder(ascii("/ab"), values);
    EXPECT_EQ(encoder.builderAddress, ascii(std::string_view("/ab\0", 4)));
    ASSERT_EQ(encoder.builderTags.size(), 3u);
    EXPECT_EQ(encoder.builderTags[0].asciiValue(), ',');
    EXPECT_EQ(encoder.builderTags[1].asciiValue(), 'i');
    EXPECT_EQ(encoder.builderTags[2].asciiValue(), 'T');
    EXPECT_EQ(encoder.builderValuesChunk, (Data{0, 0, 0, 7}));
    EXPECT_GE(encoder.builderValuesChunk.capacity(), 1000u);
}

// A type whose tag is not ASCII: written in its lossy form.
struct AccentTagValue {
    bool lossless;
    friend bool operator==(AccentTagValue, AccentTagValue) = default;
};

}  // namespace

template <>
struct rozuri::OSCValueTraits<AccentTagValue> {
    static constexpr std::string_view name = "AccentTagValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::null; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::variable(
            {*Character::fromText("\xC3\xA9"), *Character::fromText("\xE6\xBC\xA2")});
        return identity;
    }
    static constexpr OSCValueVariableTagEncoder<AccentTagValue> oscEncoding() {
        return {[](const AccentTagValue& v) {
            return OSCEncodedTag{*Character::fromText(v.lossless ? "\xC3\xA9" : "\xE6\xBC\xA2"),
                                 std::nullopt};
        }};
    }
    static constexpr OSCValueVariableTagDecoder<AccentTagValue> oscDecoding() {
        return {[](const Character&, OSCValueDecoder&) { return AccentTagValue{true}; }};
    }
    static std::size_t hash(const AccentTagValue& v) { return v.lossless; }
};

namespace {

TEST(MessageEncodingTest, NonASCIITagsAreWrittenLossily) {
    std::vector<AnyOSCValue> values = {AccentTagValue{true}, AccentTagValue{false}};
    EXPECT_EQ(encodeMessageData(ascii("/a"), values), ascii(std::string_view("/a\0\0,e?\0", 8)));
}

TEST(MessageEncodingTest, FirstErrorStopsTheEncoding) {
    std::vector<AnyOSCValue> values = {std::int32_t{1}, Int(1LL << 40), std::int32_t{2}};
    EXPECT_THROW(OSCMessageEncoder(ascii("/a"), values), OSCEncodeError);
}

}  // namespace
