#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "osc/core/CoreUtilities.h"

namespace rozuri {
namespace {

TEST(CoreUtilities, RadixText) {
    struct Case {
        std::string got;
        const char* expected;
    };
    const Case cases[] = {
        {hexString(255, true), "0xFF"},
        {hexString(0), "0"},
        {hexString(0, true), "0x0"},
        {hexString(10, 4, true), "0x000A"},
        {hexString(4660, 2, true), "0x1234"},
        {hexString(10, -3, false), "A"},
        {binaryString(5, 8, true), "0b00000101"},
        {binaryString(0u), "0"},
        {hexString(std::int8_t{-1}), "-1"},
        {hexString(std::numeric_limits<std::int64_t>::min(), true), "-0x8000000000000000"},
        {hexString(std::vector<int>{1, 2, 3}, false, " "), "1 2 3"},
        {hexString(std::vector<int>{}, false, " "), ""},
        {binaryString(std::vector<int>{1, 2}, 2, true, ","), "0b01,0b10"},
        {hexListString(std::array<std::uint8_t, 2>{1, 255}, 2), "[0x01, 0xFF]"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST(CoreUtilities, SleepCap) {
    EXPECT_EQ(sleepNanoseconds(0), 0u);
    // The capped seconds times 1e9 in double precision.
    EXPECT_EQ(sleepNanoseconds(1e30), 18446744072999999488ULL);
    EXPECT_EQ(sleepNanoseconds(-1), 0u);
    EXPECT_EQ(sleepNanoseconds(std::nan("")), 0u);
    EXPECT_EQ(sleepNanoseconds(1.5), 1500000000u);
    sleepSeconds(-1);  // returns at once
}

TEST(CoreUtilities, CharacterSets) {
    CharacterSet abc(std::vector<std::string>{"ab", "c\xC3\xA9"});
    EXPECT_EQ(abc.size(), 4u);
    EXPECT_TRUE(isMadeOf("", abc));
    EXPECT_TRUE(isMadeOf("cab\xC3\xA9", abc));
    EXPECT_FALSE(isMadeOf("abd", abc));
    EXPECT_FALSE(isMadeOf("\xFF", abc));
    CharacterSet a(std::vector<std::string>{"a"});
    EXPECT_EQ((abc - a).size(), 3u);
    EXPECT_EQ((a + CharacterSet(std::vector<std::string>{"z"})).size(), 2u);
    CharacterSet both = a;
    both += abc;
    EXPECT_EQ(both, abc);
    both -= abc;
    EXPECT_EQ(both.size(), 0u);
}

TEST(CoreUtilities, OffsetAccess) {
    std::vector<int> v{10, 20, 30, 40};
    EXPECT_EQ(elementAtOffset(v, 0), 10);
    EXPECT_EQ(elementAtOffset(v, 4), std::nullopt);
    EXPECT_EQ(elementAtOffset(v, -1), std::nullopt);
    EXPECT_EQ(indexAtOffsetFromEnd(v, -1), 3u);
    EXPECT_EQ(sliceAtClosedOffsets(v, 1, 2), (std::vector<int>{20, 30}));
    EXPECT_EQ(sliceAtOffsets(v, 2, 1), std::nullopt);
    EXPECT_EQ(sliceFromOffset(v, 3), (std::vector<int>{40}));
    EXPECT_EQ(sliceThroughOffset(v, 0), (std::vector<int>{10}));
    EXPECT_EQ(sliceUpToOffset(v, 0), (std::vector<int>{}));
    EXPECT_EQ(sliceUpToOffset(v, 9), std::nullopt);

    EXPECT_EQ(sliceAtClosedOffsets(std::string("abcd"), 1, 2), "bc");
    // Text offsets count characters, not bytes.
    EXPECT_EQ(characterAtOffset("e\xCC\x81x", 1), "x");
    EXPECT_EQ(sliceAtOffsets(std::string_view("\xC3\xA9t\xC3\xA9"), 0, 2), "\xC3\xA9t");
    EXPECT_EQ(characterAtOffset("ab", 2), std::nullopt);

    v << 50;
    EXPECT_EQ(v.back(), 50);
    std::optional<int> some = 3;
    EXPECT_EQ(optionalValue(some), 3);
    EXPECT_EQ(noneValue<std::optional<int>>(), std::nullopt);
}

// Every text form counts characters: the first character of each text is one character of
// 1 to 3 bytes (ASCII, precomposed, combining, CR LF).
TEST(CoreUtilities, TextOffsetsCountCharacters) {
    for (const std::string first : {"a", "\xC3\xA9", "e\xCC\x81", "\r\n"}) {
        const std::string t = first + "bc";
        EXPECT_EQ(sliceFromOffset(t, 1), "bc") << t;
        EXPECT_EQ(sliceFromOffset(t, 3), "") << t;
        EXPECT_EQ(sliceFromOffset(t, 4), std::nullopt) << t;
        EXPECT_EQ(sliceThroughOffset(t, 0), first) << t;
        EXPECT_EQ(sliceUpToOffset(t, 1), first) << t;
        EXPECT_EQ(sliceUpToOffset(t, 4), std::nullopt) << t;
        EXPECT_EQ(sliceAtOffsets(t, 1, 3), "bc") << t;
        EXPECT_EQ(sliceAtClosedOffsets(t, 0, 1), first + "b") << t;
        EXPECT_EQ(indexAtOffset(t, 1), first.size()) << t;
        EXPECT_EQ(indexAtOffset(t, 4), std::nullopt) << t;
        EXPECT_EQ(indexAtOffsetFromEnd(t, -2), first.size()) << t;
        EXPECT_EQ(indexAtOffsetFromEnd(t, -4), std::nullopt) << t;
        EXPECT_EQ(elementAtOffset(t, 0), first) << t;
        EXPECT_EQ(elementAtOffset(t, 3), std::nullopt) << t;
    }
}

// The packaged GoogleTest cannot print char8_t text: UTF-8 results are compared as std::string.
template <typename T>
T printable(const T& value) {
    return value;
}
std::string printable(const std::u8string& t) {
    return std::string(t.begin(), t.end());
}
std::optional<std::string> printable(const std::optional<std::u8string>& t) {
    return t ? std::optional(printable(*t)) : std::nullopt;
}

// The same checks for every text type, on an owned string and on a view of it: the first
// character of each text is one character of one or more code units.
template <typename S>
void checkTextOffsets(std::initializer_list<S> firsts) {
    const S rest{'b', 'c'};
    auto check = [&](const auto& t, const S& first) {
        EXPECT_EQ(printable(sliceFromOffset(t, 1)), printable(rest));
        EXPECT_EQ(printable(sliceThroughOffset(t, 0)), printable(first));
        EXPECT_EQ(printable(sliceUpToOffset(t, 1)), printable(first));
        EXPECT_EQ(printable(sliceAtClosedOffsets(t, 0, 1)), printable(first + S{'b'}));
        EXPECT_EQ(indexAtOffset(t, 1), first.size());
        EXPECT_EQ(characterOffsetToByte(t, 3), first.size() + 2);
        EXPECT_EQ(indexAtOffsetFromEnd(t, -2), first.size());
        EXPECT_EQ(indexAtOffsetFromEnd(t, -4), std::nullopt);
        EXPECT_EQ(printable(elementAtOffset(t, 0)), printable(first));
        EXPECT_EQ(printable(characterAtOffset(t, 2)), printable(S{'c'}));
        EXPECT_EQ(printable(characterAtOffset(t, 3)), std::nullopt);
    };
    for (const S& first : firsts) {
        SCOPED_TRACE(testing::Message() << "first character of " << first.size() << " units");
        const S t = first + rest;
        check(t, first);
        check(std::basic_string_view<typename S::value_type>(t), first);
    }
}

TEST(CoreUtilities, TextOffsetsCountCharactersInEveryEncoding) {
    checkTextOffsets<std::string>({"a", "\xC3\xA9", "e\xCC\x81", "\r\n"});
    checkTextOffsets<std::u8string>({u8"a", u8"\u00E9", u8"e\u0301", u8"\r\n", u8"\U0001F600"});
    checkTextOffsets<std::u16string>({u"a", u"e\u0301", u"\r\n", u"\U0001F600",
                                      u"\U0001F469\u200D\U0001F4BB", u"\U0001F1EB\U0001F1F7"});
    checkTextOffsets<std::u32string>(
        {U"a", U"\u00E9", U"e\u0301", U"\r\n", U"\U0001F469\u200D\U0001F4BB"});
    checkTextOffsets<std::wstring>({L"a", L"e\u0301", L"\U0001F600"});
    // Literals and pointers are text too, in their own encoding.
    EXPECT_EQ(printable(sliceFromOffset(u8"\u00E9ab", 1)), "ab");
    EXPECT_EQ(indexAtOffset(u"\U0001F600ab", 1), 2u);
    const char32_t* pointer = U"e\u0301x";
    EXPECT_EQ(elementAtOffset(pointer, 1), U"x");
}

// An unpaired surrogate or a value beyond U+10FFFF is one character of one unit; it never
// swallows or splits its neighbours.
TEST(CoreUtilities, IllFormedWideTextCountsBadUnitsAlone) {
    const std::u16string lone{char16_t(0xD800), u'a', char16_t(0xDC00), char16_t(0xD800)};
    EXPECT_EQ(sliceFromOffset(lone, 1), lone.substr(1));
    EXPECT_EQ(indexAtOffsetFromEnd(lone, -1), 3u);
    EXPECT_EQ(indexAtOffset(lone, 4), 4u);
    const std::u32string big{char32_t(0x110000), U'a', char32_t(0xD800)};
    EXPECT_EQ(sliceFromOffset(big, 1), big.substr(1));
    EXPECT_EQ(indexAtOffset(big, 3), 3u);
    EXPECT_EQ(sliceFromOffset(std::wstring{static_cast<wchar_t>(-1), L'a'}, 1), L"a");
}

// Offsets near the limits of the offset type give nothing instead of overflowing.
TEST(CoreUtilities, ExtremeOffsetsGiveNothing) {
    const std::vector<int> v{1, 2};
    const std::u16string t = u"ab";
    for (std::ptrdiff_t offset : {PTRDIFF_MAX, PTRDIFF_MIN}) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(indexAtOffsetFromEnd(v, offset), std::nullopt);
        EXPECT_EQ(indexAtOffsetFromEnd(t, offset), std::nullopt);
        EXPECT_EQ(elementAtOffset(t, offset), std::nullopt);
        EXPECT_EQ(sliceThroughOffset(v, offset), std::nullopt);
        EXPECT_EQ(sliceThroughOffset(t, offset), std::nullopt);
    }
}

}  // namespace
}  // namespace rozuri
