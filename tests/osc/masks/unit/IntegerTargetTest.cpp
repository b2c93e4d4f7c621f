// The ten integer targets against every source type (128-bit included), at the bounds of both:
// exact and plain conversions, the decimal text round trip and the exact floating forms, checked
// against a sign-and-magnitude oracle.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "osc/masks/IntegerConversions.h"
#include "osc/masks/IntegerText.h"

namespace rozuri::numeric {
namespace {

using U128 = unsigned __int128;

// A mathematical integer of up to 128 bits of magnitude.
struct Wide {
    bool negative = false;
    U128 magnitude = 0;
    friend bool operator==(const Wide&, const Wide&) = default;
    friend bool operator<(const Wide& a, const Wide& b) {
        if (a.negative != b.negative) return a.negative;
        return a.negative ? a.magnitude > b.magnitude : a.magnitude < b.magnitude;
    }
    Wide plus(int d) const {  // d is +1 or -1
        if (magnitude == 0) return {d < 0, 1};
        return (d > 0) != negative ? Wide{negative, magnitude + 1} : Wide{negative, magnitude - 1};
    }
};

template <class X>
Wide wideOf(X x) {
    if (x >= X(0)) return {false, U128(x)};
    return {true, U128(-(x + 1)) + 1};
}
template <class X>
std::optional<X> fromWide(Wide w) {
    const Wide lo = wideOf(std::numeric_limits<X>::min()),
               hi = wideOf(std::numeric_limits<X>::max());
    if (w < lo || hi < w) return std::nullopt;
    if (!w.negative || w.magnitude == 0) return X(w.magnitude);
    return X(X(0) - X(w.magnitude - 1) - X(1));
}

int leadingZeros(U128 v) {
    int n = 128;
    for (; v != 0; v >>= 1) --n;
    return n;
}
int trailingZeros(U128 v) {
    int n = 0;
    for (; (v & 1) == 0 && n < 128; v >>= 1) ++n;
    return n;
}

// Exactly representable in a floating type with `digits` significand bits, and its value.
template <class F>
std::optional<F> exactFloating(Wide w) {
    if (w.magnitude == 0) return F(0);
    const int span = 128 - leadingZeros(w.magnitude) - trailingZeros(w.magnitude);
    if (span > std::numeric_limits<F>::digits) return std::nullopt;
    const int shift = trailingZeros(w.magnitude);
    const int exponent = shift + span;
    if (exponent > std::numeric_limits<F>::max_exponent) return std::nullopt;
    const F value = std::ldexp(F(static_cast<std::uint64_t>(w.magnitude >> shift)), shift);
    return w.negative ? -value : value;
}

#define TARGET(Name, Type, stem)                                                     \
    struct Name {                                                                    \
        using T = Type;                                                              \
        static constexpr const char* name = #stem;                                   \
        template <class X>                                                           \
        static T plain(X x) {                                                        \
            return stem##Value(x);                                                   \
        }                                                                            \
        template <class X>                                                           \
        static std::optional<T> exact(X x) {                                         \
            return stem##ValueExactly(x);                                            \
        }                                                                            \
        static std::optional<T> parse(std::string_view s) { return stem##Value(s); } \
    };
TARGET(IntTarget, std::int64_t, int)
TARGET(Int8Target, std::int8_t, int8)
TARGET(Int16Target, std::int16_t, int16)
TARGET(Int32Target, std::int32_t, int32)
TARGET(Int64Target, std::int64_t, int64)
TARGET(UIntTarget, std::uint64_t, uint)
TARGET(UInt8Target, std::uint8_t, uint8)
TARGET(UInt16Target, std::uint16_t, uint16)
TARGET(UInt32Target, std::uint32_t, uint32)
TARGET(UInt64Target, std::uint64_t, uint64)
#undef TARGET

template <class Target>
class IntegerTargetTest : public ::testing::Test {};
using Targets = ::testing::Types<IntTarget, Int8Target, Int16Target, Int32Target, Int64Target,
                                 UIntTarget, UInt8Target, UInt16Target, UInt32Target, UInt64Target>;
TYPED_TEST_SUITE(IntegerTargetTest, Targets);

template <class Target, class X>
void checkSource(const char* sourceName) {
    using T = typename Target::T;
    const Wide tMin = wideOf(std::numeric_limits<T>::min()),
               tMax = wideOf(std::numeric_limits<T>::max());
    const std::vector<Wide> candidates = {wideOf(std::numeric_limits<X>::min()),
                                          wideOf(std::numeric_limits<X>::max()),
                                          {false, 0},
                                          {false, 1},
                                          {true, 1},
                                          tMin,
                                          tMin.plus(-1),
                                          tMax,
                                          tMax.plus(1),
                                          tMin.plus(1),
                                          tMax.plus(-1)};
    for (const Wide& w : candidates) {
        const auto x = fromWide<X>(w);
        if (!x) continue;
        const std::string text = stringValue(*x);
        SCOPED_TRACE(std::string(Target::name) + " from " + sourceName + " " + text);
        const bool fits = !(w < tMin) && !(tMax < w);
        const auto exact = Target::exact(*x);
        ASSERT_EQ(exact.has_value(), fits);
        // Plain forms truncate to the target's width.
        const U128 bits = static_cast<U128>(*x);
        T truncated;
        std::memcpy(&truncated, &bits, sizeof(T));
        EXPECT_EQ(Target::plain(*x), truncated);
        if (fits) {
            EXPECT_TRUE(wideOf(*exact) == w);
        }
        EXPECT_EQ(Target::parse(text), exact);
        EXPECT_EQ(doubleValueExactly(*x), exactFloating<double>(w));
        EXPECT_EQ(floatValueExactly(*x), exactFloating<float>(w));
        if (auto d = exactFloating<double>(w)) {
            EXPECT_EQ(doubleValue(*x), *d);
        }
        if (auto f = exactFloating<float>(w)) {
            EXPECT_EQ(floatValue(*x), *f);
        }
        if (sizeof(X) <= 8) {
            EXPECT_TRUE(exactFloating<Float80>(w) == float80Value(*x));
        }
    }
}

TYPED_TEST(IntegerTargetTest, EverySourceAtTheBounds) {
    checkSource<TypeParam, std::int8_t>("Int8");
    checkSource<TypeParam, std::int16_t>("Int16");
    checkSource<TypeParam, std::int32_t>("Int32");
    checkSource<TypeParam, std::int64_t>("Int64");
    checkSource<TypeParam, std::uint8_t>("UInt8");
    checkSource<TypeParam, std::uint16_t>("UInt16");
    checkSource<TypeParam, std::uint32_t>("UInt32");
    checkSource<TypeParam, std::uint64_t>("UInt64");
    checkSource<TypeParam, __int128>("Int128");
    checkSource<TypeParam, unsigned __int128>("UInt128");
}

TYPED_TEST(IntegerTargetTest, TextRules) {
    using T = typename TypeParam::T;
    constexpr bool isSigned = std::numeric_limits<T>::is_signed;
    const std::string longDigits(400, '9');
    const struct {
        std::string_view text;
        std::optional<int> expected;
    } rows[] = {
        {"42", 42},
        {"+42", 42},
        {"007", 7},
        {"-0", 0},
        {"+0", 0},
        {"-000", 0},
        {"0000000000000000000000000000000000000000042", 42},
        {"-42", isSigned ? std::optional(-42) : std::nullopt},
        {"-1", isSigned ? -1 : std::optional<int>()},
        {"", {}},
        {"+", {}},
        {"-", {}},
        {" 42", {}},
        {"42 ", {}},
        {"4_2", {}},
        {"0x1F", {}},
        {"1e3", {}},
        {"++1", {}},
        {"--1", {}},
        {"+-1", {}},
        {"-+1", {}},
        {"\xEF\xBC\x94\xEF\xBC\x92", {}},
        {"\xD9\xA4\xD9\xA2", {}},
        {std::string_view("4\0"
                          "2",
                          3),
         {}},
        {"1.0", {}},
        {longDigits, {}},
    };
    for (const auto& row : rows) {
        const auto expected = row.expected ? std::optional<T>(T(*row.expected)) : std::nullopt;
        EXPECT_EQ(TypeParam::parse(row.text), expected)
            << TypeParam::name << " '" << row.text << "'";
    }
    EXPECT_EQ(TypeParam::parse(std::string_view("1234").substr(1, 2)), T(23));
}

}  // namespace
}  // namespace rozuri::numeric
