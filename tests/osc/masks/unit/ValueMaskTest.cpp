// Every mask shape (N positions, the first K required) at compile and run time, and the rules
// by which a requested type takes a value.

#include <gtest/gtest.h>

#include <limits>
#include <set>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/masks/OSCValueMask.h"

namespace rozuri {
namespace {

using Values = std::vector<AnyOSCValue>;
using Kind = OSCValueMaskError::Kind;
using I = std::int32_t;
using O = std::optional<I>;

std::optional<Kind> failureOf(auto&& f) {
    try {
        f();
    } catch (const OSCValueMaskError& e) {
        return e.kind();
    }
    return std::nullopt;
}

template <std::size_t P, std::size_t K, class V>
using Pos = std::conditional_t<(P < K), V, std::optional<V>>;
// Requested types cycle through an exact type, the converting Int and the gathering number type.
template <std::size_t P>
using Cycled = std::tuple_element_t<P % 4, std::tuple<I, std::string, Int, AnyOSCNumberValue>>;
template <std::size_t>
using AllI = I;

template <std::size_t N, std::size_t K, template <std::size_t> class At,
          class = std::make_index_sequence<N>>
struct Shape;
template <std::size_t N, std::size_t K, template <std::size_t> class At, std::size_t... Ps>
struct Shape<N, K, At, std::index_sequence<Ps...>> {
    static constexpr std::size_t n = N, k = K;
    using Expected =
        std::conditional_t<N == 1, Pos<0, K, At<0>>, std::tuple<Pos<Ps, K, At<Ps>>...>>;
    static auto apply(const Values& v) { return applyValueMask<Pos<Ps, K, At<Ps>>...>(v); }
};

template <std::size_t N, template <std::size_t> class At, class F, std::size_t... Ks>
constexpr int forEachK(F& f, std::index_sequence<Ks...>) {
    (f(Shape<N, Ks, At>{}), ...);
    return sizeof...(Ks);
}
template <template <std::size_t> class At, class F, std::size_t... Ns>
constexpr int forEachN(F& f, std::index_sequence<Ns...>) {
    return (0 + ... + forEachK<Ns + 1, At>(f, std::make_index_sequence<Ns + 2>{}));
}
// Calls f(Shape<N, K>) for N = 1 ... 10 and K = 0 ... N; gives the number of shapes.
template <template <std::size_t> class At, class F>
constexpr int forEachShape(F f) {
    return forEachN<At>(f, std::make_index_sequence<10>{});
}

constexpr bool everyShapeHasItsResultType() {
    bool ok = true;
    const int count = forEachShape<Cycled>([&](auto s) {
        using S = decltype(s);
        ok = ok && std::is_same_v<decltype(S::apply({})), typename S::Expected>;
    });
    return ok && count == 65;
}
static_assert(everyShapeHasItsResultType());

template <class... Ps>
concept Applicable = requires(const Values& v) {
    applyValueMask<Ps...>(v);
};
struct NotAValue {};
static_assert(!Applicable<> && !Applicable<I, I, I, I, I, I, I, I, I, I, I> &&
              !Applicable<O, O, O, O, O, O, O, O, O, O, O>);
static_assert(!Applicable<O, I> && !Applicable<I, O, I>);
static_assert(!Applicable<NotAValue> && !Applicable<I, std::optional<NotAValue>> &&
              !Applicable<long long> && !Applicable<std::optional<O>> && !Applicable<const I>);
static_assert(Applicable<I, I, I, I, I, I, I, I, I, O> && Applicable<std::optional<Int>>);

std::vector<O> flatten(const auto& r) {
    if constexpr (requires { std::tuple_size<std::remove_cvref_t<decltype(r)>>::value; }) {
        return std::apply([](const auto&... e) { return std::vector<O>{O(e)...}; }, r);
    } else {
        return {O(r)};
    }
}

TEST(ValueMaskTest, CountsAndMismatchesOverEveryShape) {
    forEachShape<AllI>([](auto s) {
        using S = decltype(s);
        for (std::size_t c = 0; c <= S::n + 1; ++c) {
            SCOPED_TRACE(::testing::Message() << "N=" << S::n << " K=" << S::k << " count=" << c);
            Values values;
            for (std::size_t i = 0; i < c; ++i) values.emplace_back(I(100 + i));
            if (c < S::k || c > S::n) {
                EXPECT_EQ(failureOf([&] { S::apply(values); }), Kind::invalidCount);
                continue;
            }
            const auto got = flatten(S::apply(values));
            for (std::size_t i = 0; i < S::n; ++i) EXPECT_EQ(got[i], i < c ? O(100 + i) : O());
            for (std::size_t p = 0; p < c; ++p) {
                Values bad = values;
                bad[p] = AnyOSCValue("text");
                EXPECT_EQ(failureOf([&] { S::apply(bad); }), Kind::mismatchedTypes) << p;
            }
        }
    });
}

template <class... Vs>
void expectEachTakes(const Values& values) {
    const std::set<std::string_view> ints = {"Int32", "Int64",  "Int",    "Int8", "Int16",
                                             "UInt8", "UInt16", "UInt32", "UInt", "UInt64"};
    auto numbers = ints;
    numbers.insert({"Float", "Double", "Float80", "CGFloat", "Bool"});
    auto check = [&]<class V>(V*) {
        const std::string_view name = OSCValueTraits<V>::name;
        for (const auto& x : values) {
            const bool takes = name == "Int"                 ? ints.contains(x.typeName())
                               : name == "AnyOSCNumberValue" ? numbers.contains(x.typeName())
                                                             : x.typeName() == name;
            EXPECT_EQ(failureOf([&] { maskValue<V>(0, Values{x}); }),
                      takes ? std::nullopt : std::optional(Kind::mismatchedTypes))
                << name << " <- " << x.typeName();
        }
    };
    (check(static_cast<Vs*>(nullptr)), ...);
}

TEST(ValueMaskTest, EachRequestedTypeTakesItsValues) {
    expectEachTakes<I, float, std::string, Data, bool, Character, double, std::int64_t,
                    OSCImpulseValue, OSCMIDIValue, OSCNullValue, OSCStringAltValue, OSCTimeTag,
                    OSCArrayValue, Int, std::int8_t, std::int16_t, std::uint8_t, std::uint16_t,
                    std::uint32_t, UInt, std::uint64_t, Float80, CGFloat, AnyOSCNumberValue>(
        // clang-format off
        {I{7}, 1.0f, std::string("s"), Data{1}, true, Character('c'), 2.5, std::int64_t{-9},
         OSCImpulseValue{}, OSCMIDIValue{}, OSCNullValue{}, OSCStringAltValue("alt"), OSCTimeTag(5),
         OSCArrayValue{}, Int(3), std::int8_t{-8}, std::int16_t{16}, std::uint8_t{255},
         std::uint16_t{16}, std::uint32_t{32}, UInt(64), std::uint64_t{64}, Float80{1.5L},
         CGFloat(0.5)});
    // clang-format on
}

TEST(ValueMaskTest, ValuesDelivered) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    const Values ints{I{-5}, max, std::uint8_t{255}, std::int8_t{-128}, std::uint64_t{max}};
    EXPECT_EQ((applyValueMask<Int, Int, Int, Int, Int>(ints)),
              std::tuple(Int(-5), Int(max), Int(255), Int(-128), Int(max)));
    EXPECT_EQ(failureOf([] { maskValue<Int>(0, Values{std::uint64_t(max) + 1}); }),
              Kind::mismatchedTypes);
    const auto [d, i, b] = applyValueMask<AnyOSCNumberValue, AnyOSCNumberValue, AnyOSCNumberValue>(
        Values{2.5, I{3}, false});
    EXPECT_EQ(d, AnyOSCNumberValue::fromFloat(2.5));
    EXPECT_EQ(i, AnyOSCNumberValue::fromInt(I{3}));
    EXPECT_EQ(b, AnyOSCNumberValue::fromBool(false));
    EXPECT_EQ((applyValueMask<I, std::optional<std::string>>(Values{I{1}, std::string("x")})),
              std::tuple(1, std::optional<std::string>("x")));
    EXPECT_EQ(failureOf([] {
                  applyValueMask<I, O>(Values{I{1}, OSCNullValue{}});
              }),
              Kind::mismatchedTypes);
}

TEST(ValueMaskTest, IndicesAndCountChecks) {
    const std::int64_t lo = std::numeric_limits<std::int64_t>::min(), hi = -(lo + 1);
    const Values two{I{1}, I{2}};
    for (std::int64_t index : {std::int64_t{-1}, lo, std::int64_t{2}, hi}) {
        EXPECT_EQ(failureOf([&] { maskValue<I>(index, two); }), Kind::invalidCount) << index;
        EXPECT_EQ(maskOptionalValue<I>(index, two), std::nullopt) << index;
    }
    const struct {
        std::int64_t min, max;
        std::size_t count;
        bool passes;
    } ranges[] = {{-1, 3, 1, true},   {lo, hi, 0, true}, {2, 2, 2, true},  {2, 2, 1, false},
                  {2, 2, 3, false},   {3, 1, 2, false},  {3, 1, 3, false}, {lo, -1, 0, false},
                  {-1, -1, 0, false}, {hi, hi, 0, false}};
    for (const auto& r : ranges) {
        const Values values(r.count, AnyOSCValue(I{0}));
        const auto kind = failureOf([&] { checkValueCountRange(r.min, r.max, values); });
        EXPECT_EQ(kind, r.passes ? std::nullopt : std::optional(Kind::invalidCount)) << r.min;
        if (r.min == r.max) {
            EXPECT_EQ(failureOf([&] { checkValueCount(r.min, values); }), kind);
        }
    }
}

}  // namespace
}  // namespace rozuri
