// Rounding to a multiple, integer to floating rounding, floating parts and integer text.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fma/FusedCaller.h"
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

// Every x of the narrow types against arithmetic in a wide type: the nearest multiple in each
// direction, x itself for m <= 0 or for a result that does not fit.
template <class T>
void checkRoundingExhaustively() {
    for (long long x = kMin<T>; x <= kMax<T>; ++x) {
        for (long long m = std::max<long long>(-3, kMin<T>); m <= std::min<long long>(130, kMax<T>);
             m += (m < 20 ? 1 : 9)) {
            long long down = x, up = x;
            if (m > 0) {
                down = (x >= 0 ? x / m : -((-x + m - 1) / m)) * m;
                up = down == x ? x : down + m;
            }
            auto fit = [&](long long r) { return r < kMin<T> || r > kMax<T> ? x : r; };
            ASSERT_EQ(roundedUp(T(x), T(m)), fit(up)) << x << " " << m;
            ASSERT_EQ(roundedDown(T(x), T(m)), fit(down)) << x << " " << m;
            ASSERT_EQ(roundedAwayFromZero(T(x), T(m)), fit(x < 0 ? down : up)) << x << " " << m;
        }
    }
}

TEST(NumericHelperTest, Rounding) {
    checkRoundingExhaustively<std::int8_t>();
    checkRoundingExhaustively<std::uint8_t>();
    checkRoundingExhaustively<std::int16_t>();
    checkRoundingExhaustively<std::uint16_t>();
    using I = std::int64_t;
    const struct {
        I x, m, up, down, away;
    } rows[] = {{7, 5, 10, 5, 10},
                {-7, 5, -5, -10, -10},
                {10, 5, 10, 10, 10},
                {0, 5, 0, 0, 0},
                {7, -5, 7, 7, 7},
                {kMin<I>, -1, kMin<I>, kMin<I>, kMin<I>},
                {kMin<I>, 10, kMin<I> + 8, kMin<I>, kMin<I>},
                {kMax<I>, 10, kMax<I>, kMax<I> - 7, kMax<I>}};
    for (const auto& r : rows) {
        EXPECT_EQ(roundedUp(r.x, r.m), r.up) << r.x << " " << r.m;
        EXPECT_EQ(roundedDown(r.x, r.m), r.down) << r.x << " " << r.m;
        EXPECT_EQ(roundedAwayFromZero(r.x, r.m), r.away) << r.x << " " << r.m;
    }
    EXPECT_EQ(roundedUp(kMax<std::uint64_t>, 10), kMax<std::uint64_t>);
    EXPECT_TRUE(roundedUp(kMin<__int128>, 10) == kMin<__int128> + 8);
}

TEST(NumericHelperTest, IntegerToFloating) {
    const double two53 = 0x1p53, two64 = 0x1p64;
    EXPECT_EQ(doubleValue(std::int8_t{-1}), -1.0);
    EXPECT_EQ(doubleValue(std::uint8_t{255}), 255.0);
    EXPECT_EQ(doubleValue(std::int64_t(two53) + 1), two53);  // ties go to the even significand
    EXPECT_EQ(doubleValue(std::int64_t(two53) + 3), two53 + 4);
    EXPECT_EQ(doubleValueExactly(kMax<std::int64_t>), std::nullopt);  // 2^63 does not convert back
    EXPECT_EQ(doubleValueExactly(kMin<std::int64_t>), -0x1p63);
    EXPECT_EQ(floatValue(kMax<std::uint64_t>), float(two64));
    EXPECT_EQ(float32Value(kMax<std::uint64_t>), float(two64));
    EXPECT_EQ(floatValueExactly(kMax<std::uint64_t>), std::nullopt);
    EXPECT_EQ(float80Value(kMax<std::uint64_t>), 18446744073709551615.0L);
    EXPECT_EQ(float80Value(kMin<std::int64_t>), -0x1p63L);
    const __int128 wide64 = __int128(1) << 64;
    EXPECT_EQ(uint64ValueExactly(wide64), std::nullopt);
    EXPECT_EQ(doubleValue(wide64), two64);
    EXPECT_EQ(doubleValue(wide64 + 2048), two64);
    EXPECT_EQ(doubleValue(wide64 + 3 * 2048), two64 + 8192);
    EXPECT_EQ(int64ValueExactly(-(__int128(1) << 63)), kMin<std::int64_t>);
    EXPECT_EQ(doubleValueExactly(kMax<__int128>), std::nullopt);
    EXPECT_EQ(doubleValueExactly(kMin<__int128>), -0x1p127);
    EXPECT_EQ(floatValue(kMax<unsigned __int128>), std::numeric_limits<float>::infinity());
    EXPECT_EQ(floatValueExactly(kMax<unsigned __int128>), std::nullopt);
    EXPECT_EQ(doubleValue(kMax<unsigned __int128>), 0x1p128);
    EXPECT_EQ(float80Value(kMin<__int128>), -0x1p127L);
}

// Equal, NaN equal to NaN, the sign of zero counted.
template <class F>
bool same(F a, F b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

template <class F>
void checkFloatingParts() {
    const F inf = std::numeric_limits<F>::infinity(), nan = std::numeric_limits<F>::quiet_NaN();
    const struct {
        F x, d, quotient, remainder, integral, fractional;
    } rows[] = {{7.5, 2, 3, 1.5, 7, 0.5},     {-7.5, 2, -3, -1.5, -7, -0.5},
                {5, 0, inf, nan, 5, 0},       {5, inf, 0, nan, 5, 0},
                {0, 0, nan, nan, 0, 0},       {-3, 3, -1, 0, -3, 0},
                {inf, 1, inf, nan, inf, nan}, {-inf, 1, -inf, nan, -inf, nan},
                {nan, 1, nan, nan, nan, nan}, {-2.5, 1, -2, -0.5, -2, -0.5}};
    for (const auto& r : rows) {
        const auto [q, rem] = quotientAndRemainder(r.x, r.d);
        const auto [i, f] = integralAndFractionalParts(r.x);
        EXPECT_TRUE(same(q, r.quotient) && same(rem, r.remainder))
            << double(r.x) << "/" << double(r.d);
        EXPECT_TRUE(same(i, r.integral) && same(f, r.fractional)) << double(r.x);
        EXPECT_TRUE(same(integralPart(r.x), i) && same(fractionalPart(r.x), f));
    }
}

TEST(NumericHelperTest, FloatingParts) {
    checkFloatingParts<float>();
    checkFloatingParts<double>();
    checkFloatingParts<long double>();
}

// A caller compiled with -march=x86-64-v3 -ffp-contract=fast gets the same results as any
// other: q * d is rounded before the subtraction. The control, written in that caller, shows the
// flags would have fused it (a remainder of -0.0555... for 1e15 / 0.1).
TEST(NumericHelperTest, FloatingPartsIgnoreCallerFlags) {
    if (!fused::available()) GTEST_SKIP() << "no FMA-compiled caller on this architecture";
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("fma") || !__builtin_cpu_supports("avx2"))
        GTEST_SKIP() << "the CPU lacks FMA or AVX2";
#endif
    EXPECT_NE(fused::inlineRemainder(1e15, 0.1), 0.0) << "the control was not fused";
    EXPECT_NE(fused::inlineRemainder(1e7f, 0.1f), 0.0f) << "the control was not fused";
    const struct {
        double x, d;
    } rows[] = {{1e15, 0.1}, {1e7, 0.1}, {-1e15, 0.1}, {7.5, 2}, {1e30, 3e-5}, {123456.789, 0.01}};
    for (const auto& r : rows) {
        EXPECT_EQ(fused::libraryQuotientAndRemainder(r.x, r.d), quotientAndRemainder(r.x, r.d))
            << r.x << "/" << r.d;
        const auto xf = static_cast<float>(r.x), df = static_cast<float>(r.d);
        EXPECT_EQ(fused::libraryQuotientAndRemainder(xf, df), quotientAndRemainder(xf, df))
            << r.x << "/" << r.d;
        const long double xl = r.x, dl = r.d;
        EXPECT_EQ(fused::libraryQuotientAndRemainder(xl, dl), quotientAndRemainder(xl, dl))
            << r.x << "/" << r.d;
    }
    EXPECT_EQ(fused::libraryQuotientAndRemainder(1e15, 0.1), (QuotientAndRemainder<double>{1e16, 0}));
    EXPECT_EQ(fused::libraryQuotientAndRemainder(1e7f, 0.1f), (QuotientAndRemainder<float>{1e8f, 0}));
}

TEST(NumericHelperTest, IntegerText) {
    EXPECT_EQ(stringValue(-42), "-42");
    EXPECT_EQ(stringValue(0), "0");
    EXPECT_EQ(stringValue(std::int8_t{-128}), "-128");
    EXPECT_EQ(stringValue(std::uint8_t{65}), "65");
    EXPECT_EQ(stringValue(kMin<__int128>), "-170141183460469231731687303715884105728");
    EXPECT_EQ(stringValue(kMax<unsigned __int128>), "340282366920938463463374607431768211455");
    EXPECT_EQ(uint64Value("18446744073709551615"), kMax<std::uint64_t>);
    EXPECT_EQ(uint64Value("18446744073709551616"), std::nullopt);
}

}  // namespace
}  // namespace rozuri::numeric
