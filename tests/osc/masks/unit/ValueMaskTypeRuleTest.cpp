// Which value each requested type takes, the Int and number rules, indices and count checks.

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/masks/OSCValueMask.h"

namespace rozuri {
namespace {

using Values = std::vector<AnyOSCValue>;
using Kind = OSCValueMaskError::Kind;

template <class F>
std::optional<Kind> failureOf(F&& f) {
    try {
        f();
    } catch (const OSCValueMaskError& e) {
        return e.kind();
    }
    return std::nullopt;
}

// One value of every value type.
Values oneOfEach() {
    return {std::int32_t{7},
            1.0f,
            std::string("s"),
            Data{1},
            true,
            Character('c'),
            2.5,
            std::int64_t{-9},
            OSCImpulseValue{},
            OSCMIDIValue{},
            OSCNullValue{},
            OSCStringAltValue("alt"),
            OSCTimeTag(5),
            OSCArrayValue{},
            Int(3),
            std::int8_t{-8},
            std::int16_t{16},
            std::uint8_t{255},
            std::uint16_t{16},
            std::uint32_t{32},
            UInt(64),
            std::uint64_t{64},
            Float80{1.5L},
            CGFloat(0.5)};
}

template <class... Vs>
struct TypeList {};
using Requested =
    TypeList<std::int32_t, float, std::string, Data, bool, Character, double, std::int64_t,
             OSCImpulseValue, OSCMIDIValue, OSCNullValue, OSCStringAltValue, OSCTimeTag,
             OSCArrayValue, Int, std::int8_t, std::int16_t, std::uint8_t, std::uint16_t,
             std::uint32_t, UInt, std::uint64_t, Float80, CGFloat, AnyOSCNumberValue>;

const std::set<std::string_view> kIntegers = {"Int32", "Int64",  "Int",    "Int8", "Int16",
                                              "UInt8", "UInt16", "UInt32", "UInt", "UInt64"};

std::set<std::string_view> accepted(std::string_view requested) {
    if (requested == "Int") return kIntegers;
    if (requested == "AnyOSCNumberValue") {
        auto numbers = kIntegers;
        numbers.insert({"Float", "Double", "Float80", "CGFloat", "Bool"});
        return numbers;
    }
    return {requested};
}

template <class V>
void expectTakes(const Values& values) {
    const std::string_view name = OSCValueTraits<V>::name;
    const auto expected = accepted(name);
    for (const auto& x : values) {
        const Values one{x};
        const auto kind = failureOf([&] { maskValue<V>(0, one); });
        EXPECT_EQ(kind, expected.contains(x.typeName()) ? std::nullopt
                                                        : std::optional(Kind::mismatchedTypes))
            << name << " <- " << x.typeName();
        if constexpr (OSCValue<V> && !std::is_same_v<V, Int>) {
            if (!kind) {
                EXPECT_EQ(maskValue<V>(0, one), x.get<V>()) << name;
            }
        }
    }
}
template <class... Vs>
void expectEachTakes(TypeList<Vs...>, const Values& values) {
    (expectTakes<Vs>(values), ...);
}

TEST(ValueMaskTypeRuleTest, EachRequestedTypeTakesItsValues) {
    expectEachTakes(Requested{}, oneOfEach());
}

TEST(ValueMaskTypeRuleTest, IntConvertsIntegersThatFit) {
    constexpr auto maxInt = std::numeric_limits<std::int64_t>::max();
    const struct {
        AnyOSCValue value;
        std::optional<std::int64_t> expected;
    } rows[] = {
        {std::int32_t{-5}, -5},
        {std::int64_t{maxInt}, maxInt},
        {std::int64_t{std::numeric_limits<std::int64_t>::min()},
         std::numeric_limits<std::int64_t>::min()},
        {std::uint8_t{255}, 255},
        {std::int8_t{-128}, -128},
        {std::uint64_t{maxInt}, maxInt},
        {std::uint64_t{std::uint64_t(maxInt) + 1}, std::nullopt},
        {UInt(std::numeric_limits<std::uint64_t>::max()), std::nullopt},
        {1.0f, std::nullopt},
        {true, std::nullopt},
        {false, std::nullopt},
    };
    for (const auto& row : rows) {
        const Values one{row.value};
        if (row.expected) {
            EXPECT_EQ(maskValue<Int>(0, one), Int(*row.expected)) << row.value.debugDescription();
        } else {
            EXPECT_EQ(failureOf([&] { maskValue<Int>(0, one); }), Kind::mismatchedTypes)
                << row.value.debugDescription();
        }
    }
}

TEST(ValueMaskTypeRuleTest, NumberKeepsTheValueInItsOwnType) {
    const Values values{2.5, std::int32_t{3}, false, std::uint64_t{1} << 63, std::string("3")};
    const auto [d, i, b, u, s] =
        applyValueMask<AnyOSCNumberValue, AnyOSCNumberValue, AnyOSCNumberValue, AnyOSCNumberValue,
                       std::optional<AnyOSCNumberValue>>(Values(values.begin(), values.end() - 1));
    EXPECT_EQ(d, AnyOSCNumberValue::fromFloat(2.5));
    EXPECT_TRUE(std::get<OSCNumberValueBase::Float>(d.base.value()).value.is<double>());
    EXPECT_EQ(i, AnyOSCNumberValue::fromInt(std::int32_t{3}));
    EXPECT_TRUE(std::get<OSCNumberValueBase::Int>(i.base.value()).value.is<std::int32_t>());
    EXPECT_EQ(b, AnyOSCNumberValue::fromBool(false));
    EXPECT_EQ(u, AnyOSCNumberValue::fromInt(std::uint64_t{1} << 63));
    EXPECT_FALSE(s);
    EXPECT_EQ(failureOf([&] { maskValue<AnyOSCNumberValue>(4, values); }), Kind::mismatchedTypes);
}

TEST(ValueMaskTypeRuleTest, OptionalTailOfAMessage) {
    using Mask = std::tuple<std::int32_t, std::optional<std::string>>;
    auto apply = [](const OSCMessage& m) {
        return applyValueMask<std::int32_t, std::optional<std::string>>(m.values());
    };
    EXPECT_EQ(apply(OSCMessage("/a", {std::int32_t{1}})), Mask(1, std::nullopt));
    EXPECT_EQ(apply(OSCMessage("/a", {std::int32_t{1}, std::string("x")})), Mask(1, "x"));
    for (const Values& bad :
         {Values{std::int32_t{1}, std::int32_t{2}}, Values{std::int32_t{1}, OSCNullValue{}},
          Values{std::int32_t{1}, OSCStringAltValue("x")}})
        EXPECT_EQ(failureOf([&] { apply(OSCMessage("/a", bad)); }), Kind::mismatchedTypes);
    // A later mismatch fails the whole mask.
    EXPECT_EQ(failureOf([] {
                  applyValueMask<std::int32_t, std::int32_t, std::int32_t>(
                      Values{std::int32_t{1}, std::int32_t{2}, 3.0f});
              }),
              Kind::mismatchedTypes);
}

TEST(ValueMaskTypeRuleTest, IndicesOutsideTheList) {
    const Values values{std::int32_t{1}, std::int32_t{2}};
    for (std::int64_t index : {std::int64_t{-1}, std::numeric_limits<std::int64_t>::min(),
                               std::int64_t{2}, std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_EQ(failureOf([&] { maskValue<std::int32_t>(index, values); }), Kind::invalidCount)
            << index;
        EXPECT_EQ(maskOptionalValue<std::int32_t>(index, values), std::nullopt) << index;
    }
    EXPECT_EQ(maskOptionalValue<std::int32_t>(1, values), 2);
}

TEST(ValueMaskTypeRuleTest, CountChecks) {
    const std::int64_t minI = std::numeric_limits<std::int64_t>::min();
    const std::int64_t maxI = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::int64_t min, max;
        std::size_t count;
        bool passes;
    } ranges[] = {
        {-1, 3, 1, true}, {minI, maxI, 0, true}, {0, 0, 0, true},     {2, 2, 2, true},
        {2, 2, 1, false}, {2, 2, 3, false},      {3, 1, 0, false},    {3, 1, 2, false},
        {3, 1, 3, false}, {minI, -1, 0, false},  {1, maxI, 0, false},
    };
    for (const auto& r : ranges) {
        const Values values(r.count, AnyOSCValue(std::int32_t{0}));
        const auto kind = failureOf([&] { checkValueCountRange(r.min, r.max, values); });
        EXPECT_EQ(kind, r.passes ? std::nullopt : std::optional(Kind::invalidCount))
            << r.min << "..." << r.max << " count " << r.count;
        if (r.min == r.max) {
            EXPECT_EQ(failureOf([&] { checkValueCount(r.min, values); }), kind);
        }
    }
    for (std::int64_t n : {std::int64_t{-1}, minI, maxI})
        EXPECT_EQ(failureOf([&] { checkValueCount(n, Values{}); }), Kind::invalidCount) << n;
}

}  // namespace
}  // namespace rozuri
