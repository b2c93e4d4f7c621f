#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "osc/core/AnyOSCNumberValue.h"
#include "osc/core/OSCInterpolatedValue.h"

using namespace rozuri;

namespace {

TEST(AnyOSCNumberValueTest, Conversions) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto maxInt = std::numeric_limits<std::int64_t>::max();
    constexpr auto minInt = std::numeric_limits<std::int64_t>::min();
    struct Case {
        AnyOSCNumberValue number;
        bool boolValue;
        std::int64_t intValue;
        double doubleValue;
        std::string description;
    };
    const Case cases[] = {
        {AnyOSCNumberValue::fromInt(std::int32_t{7}), true, 7, 7.0, "7"},
        {AnyOSCNumberValue::fromInt(std::int32_t{-3}), false, -3, -3.0, "-3"},
        {AnyOSCNumberValue::fromInt(std::int64_t{0}), false, 0, 0.0, "0"},
        {AnyOSCNumberValue::fromInt(std::uint64_t{18446744073709551615ULL}), true, maxInt,
         18446744073709551615.0, "18446744073709551615"},
        {AnyOSCNumberValue::fromInt(Int(5)), true, 5, 5.0, "5"},
        {AnyOSCNumberValue::fromInt(std::int8_t{-128}), false, -128, -128.0, "-128"},
        {AnyOSCNumberValue::fromBool(true), true, 1, 1.0, "true"},
        {AnyOSCNumberValue::fromBool(false), false, 0, 0.0, "false"},
        {AnyOSCNumberValue::fromFloat(0.5), false, 0, 0.5, "0.5"},
        {AnyOSCNumberValue::fromFloat(-2.7), false, -2, -2.7, "-2.7"},
        {AnyOSCNumberValue::fromFloat(1.5f), true, 1, 1.5, "1.5"},
        {AnyOSCNumberValue::fromFloat(1.0), true, 1, 1.0, "1.0"},
        {AnyOSCNumberValue::fromFloat(inf), true, maxInt, inf, "inf"},
        {AnyOSCNumberValue::fromFloat(-inf), false, minInt, -inf, "-inf"},
        {AnyOSCNumberValue::fromFloat(1e300), true, maxInt, 1e300, "1e+300"},
        {AnyOSCNumberValue::fromFloat(Float80(-1e30L)), false, minInt, -1e30, "-1e+30"},
        {AnyOSCNumberValue::fromFloat(CGFloat(2.0)), true, 2, 2.0, "2.0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.number.boolValue(), c.boolValue) << c.description;
        EXPECT_EQ(c.number.intValue(), c.intValue) << c.description;
        EXPECT_DOUBLE_EQ(c.number.doubleValue(), c.doubleValue) << c.description;
        EXPECT_EQ(c.number.description(), c.description);
    }
    auto n = AnyOSCNumberValue::fromFloat(nan);
    EXPECT_FALSE(n.boolValue());
    EXPECT_EQ(n.intValue(), 0);
    EXPECT_TRUE(std::isnan(n.doubleValue()));
    EXPECT_EQ(AnyOSCNumberValue::oscValueToken(), OSCValueToken::numberOrBool);
}

TEST(AnyOSCNumberValueTest, EqualityAndHashing) {
    struct Case {
        AnyOSCNumberValue a, b;
        bool equal;
    };
    const Case cases[] = {
        {AnyOSCNumberValue::fromInt(std::int32_t{1}), AnyOSCNumberValue::fromInt(std::int32_t{1}),
         true},
        {AnyOSCNumberValue::fromInt(std::int32_t{1}), AnyOSCNumberValue::fromInt(std::int64_t{1}),
         false},
        {AnyOSCNumberValue::fromInt(std::int32_t{1}), AnyOSCNumberValue::fromFloat(1.0), false},
        {AnyOSCNumberValue::fromBool(true), AnyOSCNumberValue::fromInt(std::int32_t{1}), false},
        {AnyOSCNumberValue::fromBool(true), AnyOSCNumberValue::fromBool(true), true},
        {AnyOSCNumberValue::fromFloat(0.0), AnyOSCNumberValue::fromFloat(-0.0), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.a.description() << " " << c.b.description();
        if (c.equal) {
            EXPECT_EQ(c.a.hash(), c.b.hash());
        }
    }
}

TEST(AnyOSCNumberValueTest, FromValue) {
    EXPECT_EQ(AnyOSCNumberValue::fromValue(std::int32_t{4})->intValue(), 4);
    EXPECT_TRUE(AnyOSCNumberValue::fromValue(true)->boolValue());
    EXPECT_EQ(AnyOSCNumberValue::fromValue(2.5)->doubleValue(), 2.5);
    EXPECT_FALSE(AnyOSCNumberValue::fromValue("text"));
    EXPECT_FALSE(AnyOSCNumberValue::fromValue(Data{1}));
    EXPECT_THROW(OSCNumberValueBase::integer(AnyOSCValue(1.0)), std::invalid_argument);
}

TEST(AnyOSCNumberValueTest, ValueListEquality) {
    std::vector<AnyOSCValue> a = {std::int32_t{1}, "a"};
    std::vector<AnyOSCValue> b = {std::int32_t{1}, "a"};
    std::vector<AnyOSCValue> reversed = {"a", std::int32_t{1}};
    std::vector<AnyOSCValue> shorter = {std::int32_t{1}};
    EXPECT_TRUE(valueArraysEqual(a, b));
    EXPECT_EQ(hashValues(a), hashValues(b));
    EXPECT_FALSE(valueArraysEqual(a, reversed));
    EXPECT_FALSE(valueArraysEqual(a, shorter));
    EXPECT_TRUE(valueArraysEqual({}, {}));
}

}  // namespace
