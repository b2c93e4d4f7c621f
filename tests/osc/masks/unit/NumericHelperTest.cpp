// Rounding to a multiple, integer to floating rounding, floating parts and integer text.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "osc/masks/FloatingParts.h"
#include "osc/masks/IntegerConversions.h"
#include "osc/masks/IntegerRounding.h"
#include "osc/masks/IntegerText.h"

namespace rozuri::numeric {
namespace {

template <class T>
constexpr T kMin = std::numeric_limits<T>::min();
template <class T>
constexpr T kMax = std::numeric_limits<T>::max();

// Exhaustive over the narrow types against plain arithmetic in a wide type: the nearest
// multiple in each direction, x itself for m <= 0 or a result that does not fit.
template <class T>
void checkRoundingExhaustively() {
    for (long long x = kMin<T>; x <= kMax<T>; ++x) {
        for (long long m = -3; m <= 130; m += (m < 20 ? 1 : 9)) {
            if (m > kMax<T> || m < kMin<T>) continue;
            long long up = x, down = x;
            if (m > 0) {
                const long long below = (x >= 0 ? x / m : -((-x + m - 1) / m)) * m;
                down = below;
                up = below == x ? x : below + m;
            }
            auto fit = [&](long long r) { return r < kMin<T> || r > kMax<T> ? x : r; };
            const T tx = T(x), tm = T(m);
            ASSERT_EQ(roundedUp(tx, tm), fit(up)) << x << " " << m;
            ASSERT_EQ(roundedDown(tx, tm), fit(down)) << x << " " << m;
            ASSERT_EQ(roundedAwayFromZero(tx, tm), fit(x < 0 ? down : up)) << x << " " << m;
        }
    }
}

TEST(NumericHelperTest, RoundingOfNarrowTypesExhaustively) {
    checkRoundingExhaustively<std::int8_t>();
    checkRoundingExhaustively<std::uint8_t>();
    checkRoundingExhaustively<std::int16_t>();
    checkRoundingExhaustively<std::uint16_t>();
}

TEST(NumericHelperTest, RoundingAtTheWideBounds) {
    using I = std::int64_t;
    using U = std::uint64_t;
    const struct {
        I x, m, up, down, away;
    } rows[] = {
        {7, 5, 10, 5, 10},
        {-7, 5, -5, -10, -10},
        {10, 5, 10, 10, 10},
        {-5, 5, -5, -5, -5},
        {0, 5, 0, 0, 0},
        {7, 0, 7, 7, 7},
        {7, -5, 7, 7, 7},
        {-7, -5, -7, -7, -7},
        {kMin<I>, -1, kMin<I>, kMin<I>, kMin<I>},
        {kMin<I>, 0, kMin<I>, kMin<I>, kMin<I>},
        {kMin<I>, 10, kMin<I> + 8, kMin<I>, kMin<I>},
        {kMin<I>, 2, kMin<I>, kMin<I>, kMin<I>},
        {kMax<I>, 10, kMax<I>, kMax<I> - 7, kMax<I>},
        {kMax<I>, kMax<I>, kMax<I>, kMax<I>, kMax<I>},
        {kMin<I> + 1, kMax<I>, kMin<I> + 1, kMin<I> + 1, kMin<I> + 1},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(roundedUp(r.x, r.m), r.up) << r.x << " " << r.m;
        EXPECT_EQ(roundedDown(r.x, r.m), r.down) << r.x << " " << r.m;
        EXPECT_EQ(roundedAwayFromZero(r.x, r.m), r.away) << r.x << " " << r.m;
    }
    EXPECT_EQ(roundedUp(kMax<U>, U(10)), kMax<U>);
    EXPECT_EQ(roundedDown(kMax<U>, U(10)), kMax<U> - 5);
    EXPECT_EQ(roundedUp(U(0), U(0)), 0u);
    using I128 = __int128;
    EXPECT_TRUE(roundedUp(kMin<I128>, I128(10)) == kMin<I128> + 8);
    EXPECT_TRUE(roundedAwayFromZero(kMin<I128>, I128(10)) == kMin<I128>);
}

TEST(NumericHelperTest, IntegerToFloatingRounding) {
    const double two53 = 9007199254740992.0, two63 = 9223372036854775808.0,
                 two64 = 18446744073709551616.0;
    EXPECT_EQ(doubleValue(std::int8_t{-1}), -1.0);
    EXPECT_EQ(doubleValue(std::uint8_t{255}), 255.0);
    EXPECT_EQ(doubleValue(std::int64_t{9007199254740993}), two53);
    EXPECT_EQ(doubleValue(std::int64_t{9007199254740995}), two53 + 4);
    EXPECT_EQ(doubleValueExactly(std::int64_t{9007199254740993}), std::nullopt);
    EXPECT_EQ(doubleValueExactly(std::int64_t{9007199254740992}), two53);
    EXPECT_EQ(doubleValue(kMax<std::int64_t>), two63);
    EXPECT_EQ(doubleValueExactly(kMax<std::int64_t>), std::nullopt);
    EXPECT_EQ(doubleValueExactly(kMin<std::int64_t>), -two63);
    EXPECT_EQ(doubleValueExactly(kMax<std::uint64_t>), std::nullopt);
    EXPECT_EQ(floatValue(std::int32_t{16777217}), 16777216.0f);
    EXPECT_EQ(floatValueExactly(std::int32_t{16777217}), std::nullopt);
    EXPECT_EQ(floatValue(kMax<std::uint64_t>), float(two64));
    EXPECT_EQ(float32Value(kMax<std::uint64_t>), float(two64));
    EXPECT_EQ(float32Value(std::int32_t{16777217}), 16777216.0f);
    EXPECT_EQ(floatValueExactly(kMax<std::uint64_t>), std::nullopt);
    EXPECT_EQ(float80Value(kMax<std::uint64_t>), 18446744073709551615.0L);
    EXPECT_EQ(float80Value(kMin<std::int64_t>), -9223372036854775808.0L);

    // Wider than 64 bits.
    const __int128 two64w = __int128(1) << 64;
    EXPECT_EQ(uint64ValueExactly(two64w), std::nullopt);
    EXPECT_EQ(doubleValue(two64w), two64);
    EXPECT_EQ(int64ValueExactly(-(__int128(1) << 63)), kMin<std::int64_t>);
    EXPECT_EQ(doubleValue(kMax<__int128>), std::ldexp(1.0, 127));
    EXPECT_EQ(doubleValueExactly(kMax<__int128>), std::nullopt);
    EXPECT_EQ(doubleValueExactly(kMin<__int128>), -std::ldexp(1.0, 127));
    EXPECT_EQ(floatValue(kMax<unsigned __int128>), std::numeric_limits<float>::infinity());
    EXPECT_EQ(floatValueExactly(kMax<unsigned __int128>), std::nullopt);
    EXPECT_EQ(doubleValue(kMax<unsigned __int128>), std::ldexp(1.0, 128));
    // Ties go to the even significand.
    EXPECT_EQ(doubleValue(two64w + 2048), two64);
    EXPECT_EQ(doubleValue(two64w + 3 * 2048), two64 + 8192);
    EXPECT_EQ(floatValue((__int128(1) << 100) + (__int128(1) << 76)), std::ldexp(1.0f, 100));
    EXPECT_EQ(float80Value(kMin<__int128>), -std::ldexp(1.0L, 127));
}

// Equal, with NaN equal to NaN and the sign of zero counted.
template <class F>
bool same(F a, F b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

template <class F>
void checkFloatingParts() {
    const F inf = std::numeric_limits<F>::infinity(), nan = std::numeric_limits<F>::quiet_NaN();
    const struct {
        F x, integral, fractional;
    } parts[] = {{F(-2.5), F(-2), F(-0.5)}, {F(3), F(3), F(0)},      {F(-3), F(-3), F(0)},
                 {F(0.75), F(0), F(0.75)},  {inf, inf, nan},         {-inf, -inf, nan},
                 {nan, nan, nan},           {F(-0.0), F(-0.0), F(0)}};
    for (const auto& r : parts) {
        const auto got = integralAndFractionalParts(r.x);
        EXPECT_TRUE(same(got.integral, r.integral) && same(got.fractional, r.fractional))
            << double(r.x) << " -> " << double(got.integral) << ", " << double(got.fractional);
        EXPECT_TRUE(same(integralPart(r.x), r.integral) && same(fractionalPart(r.x), r.fractional));
    }
    const struct {
        F x, d, quotient, remainder;
    } divisions[] = {{F(7.5), F(2), F(3), F(1.5)}, {F(-7.5), F(2), F(-3), F(-1.5)},
                     {F(5), F(0), inf, nan},       {F(5), inf, F(0), nan},
                     {F(0), F(0), nan, nan},       {nan, F(1), nan, nan},
                     {F(-6), F(3), F(-2), F(0)}};
    for (const auto& r : divisions) {
        const auto got = quotientAndRemainder(r.x, r.d);
        EXPECT_TRUE(same(got.quotient, r.quotient) && same(got.remainder, r.remainder))
            << double(r.x) << " / " << double(r.d) << " -> " << double(got.quotient) << ", "
            << double(got.remainder);
    }
}

TEST(NumericHelperTest, FloatingParts) {
    checkFloatingParts<float>();
    checkFloatingParts<double>();
    checkFloatingParts<long double>();
}

TEST(NumericHelperTest, IntegerText) {
    EXPECT_EQ(stringValue(-42), "-42");
    EXPECT_EQ(stringValue(0), "0");
    EXPECT_EQ(stringValue(std::int8_t{-128}), "-128");
    EXPECT_EQ(stringValue(std::uint8_t{65}), "65");
    EXPECT_EQ(stringValue(kMin<std::int64_t>), "-9223372036854775808");
    EXPECT_EQ(stringValue(kMax<std::uint64_t>), "18446744073709551615");
    EXPECT_EQ(stringValue(kMin<__int128>), "-170141183460469231731687303715884105728");
    EXPECT_EQ(stringValue(kMax<unsigned __int128>), "340282366920938463463374607431768211455");
    EXPECT_EQ(int8Value("-128"), std::int8_t{-128});
    EXPECT_EQ(int8Value("-129"), std::nullopt);
    EXPECT_EQ(uint64Value("18446744073709551615"), kMax<std::uint64_t>);
    EXPECT_EQ(uint64Value("18446744073709551616"), std::nullopt);
    EXPECT_EQ(int64Value(std::string("-9223372036854775808")), kMin<std::int64_t>);
}

}  // namespace
}  // namespace rozuri::numeric
