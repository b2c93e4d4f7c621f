// The ten integer targets against every source type (128-bit included) at the bounds of both:
// exact and plain conversions, the decimal text round trip, the exact floating forms and the
// text rules.

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "osc/masks/IntegerConversions.h"
#include "osc/masks/IntegerText.h"

namespace rozuri::numeric {
namespace {

using I128 = __int128;
template <class T>
constexpr I128 kMin = I128(std::numeric_limits<T>::min());
template <class T>  // the largest value of T that __int128 holds
constexpr I128 kMax = sizeof(T) == 16 ? std::numeric_limits<I128>::max()
                                      : I128(std::numeric_limits<T>::max());

#define TARGET(Name, Type, stem)                                                     \
    struct Name {                                                                    \
        using T = Type;                                                              \
        static T plain(auto x) { return stem##Value(x); }                            \
        static std::optional<T> exact(auto x) { return stem##ValueExactly(x); }      \
        static std::optional<T> parse(std::string_view s) { return stem##Value(s); } \
    };
TARGET(IntT, std::int64_t, int)
TARGET(Int8T, std::int8_t, int8)
TARGET(Int16T, std::int16_t, int16)
TARGET(Int32T, std::int32_t, int32)
TARGET(Int64T, std::int64_t, int64)
TARGET(UIntT, std::uint64_t, uint)
TARGET(UInt8T, std::uint8_t, uint8)
TARGET(UInt16T, std::uint16_t, uint16)
TARGET(UInt32T, std::uint32_t, uint32)
TARGET(UInt64T, std::uint64_t, uint64)
#undef TARGET

template <class Target>
class IntegerTargetTest : public ::testing::Test {};
using Targets =
    ::testing::Types<IntT, Int8T, Int16T, Int32T, Int64T, UIntT, UInt8T, UInt16T, UInt32T, UInt64T>;
TYPED_TEST_SUITE(IntegerTargetTest, Targets);

template <class Target, class X>
void checkSource() {
    using T = typename Target::T;
    for (I128 v :
         {kMin<X>, kMax<X>, I128(0), I128(-1), kMin<T>, kMin<T> - 1, kMax<T>, kMax<T> + 1}) {
        if (v < kMin<X> || v > kMax<X>) continue;
        const X x = X(v);
        const std::string text = stringValue(x);
        SCOPED_TRACE(text + " of " + std::to_string(sizeof(X)) + " bytes to " +
                     std::to_string(sizeof(T)) + (kMin<T> < 0 ? " signed" : " unsigned"));
        const bool fits = v >= kMin<T> && v <= kMax<T>;
        EXPECT_EQ(Target::exact(x), fits ? std::optional<T>(T(v)) : std::nullopt);
        EXPECT_EQ(Target::parse(text), Target::exact(x));
        T truncated;  // little-endian: the low bytes
        std::memcpy(&truncated, &v, sizeof(T));
        EXPECT_EQ(Target::plain(x), truncated);
        if (v > -(I128(1) << 64) && v <= (I128(1) << 64)) {  // Float80 holds v exactly
            const auto wide = static_cast<long double>(v);
            const double d = static_cast<double>(wide);
            const float f = static_cast<float>(wide);
            EXPECT_EQ(doubleValueExactly(x), d == wide ? std::optional(d) : std::nullopt);
            EXPECT_EQ(floatValueExactly(x), f == wide ? std::optional(f) : std::nullopt);
            EXPECT_EQ(doubleValue(x), d);
            EXPECT_EQ(floatValue(x), f);
        }
    }
}

TYPED_TEST(IntegerTargetTest, EverySourceAtTheBounds) {
    checkSource<TypeParam, std::int8_t>();
    checkSource<TypeParam, std::int16_t>();
    checkSource<TypeParam, std::int32_t>();
    checkSource<TypeParam, std::int64_t>();
    checkSource<TypeParam, std::uint8_t>();
    checkSource<TypeParam, std::uint16_t>();
    checkSource<TypeParam, std::uint32_t>();
    checkSource<TypeParam, std::uint64_t>();
    checkSource<TypeParam, I128>();
    checkSource<TypeParam, unsigned __int128>();
}

TYPED_TEST(IntegerTargetTest, TextRules) {
    using T = typename TypeParam::T;
    const std::optional<T> minus42 = kMin<T> < 0 ? std::optional<T>(T(-42)) : std::nullopt;
    EXPECT_EQ(TypeParam::parse("-42"), minus42);
    const char* texts[] = {"42", "+42", "007", "-0", "-000", "000000000000000000000000042"};
    const int values[] = {42, 42, 7, 0, 0, 42};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(TypeParam::parse(texts[i]), T(values[i])) << texts[i];
    EXPECT_EQ(TypeParam::parse(std::string_view("1234").substr(1, 2)), T(23));
    const std::string nul("4\0002", 3), longText(400, '9');
    for (std::string_view bad : {"", "+", "-", " 42", "42 ", "4_2", "0x1F", "1e3", "++1", "--1",
                                 "-+1", "1.0", "\xEF\xBC\x94\xEF\xBC\x92", "\xD9\xA4\xD9\xA2"})
        EXPECT_EQ(TypeParam::parse(bad), std::nullopt) << bad;
    EXPECT_EQ(TypeParam::parse(nul), std::nullopt);
    EXPECT_EQ(TypeParam::parse(longText), std::nullopt);
}

}  // namespace
}  // namespace rozuri::numeric
