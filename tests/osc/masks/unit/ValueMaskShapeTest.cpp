// Every mask shape (N positions, the first K required): compile-time validity and result type,
// refused shapes, and the count and mismatch rules at run time.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "osc/masks/OSCValueMask.h"

namespace rozuri {
namespace {

using Values = std::vector<AnyOSCValue>;

template <std::size_t I, std::size_t K, class V>
using Pos = std::conditional_t<(I < K), V, std::optional<V>>;

// Requested types cycle through an exact type, the converting Int and the gathering number type.
template <std::size_t I>
using Cycled =
    std::tuple_element_t<I % 4, std::tuple<std::int32_t, std::string, Int, AnyOSCNumberValue>>;
template <std::size_t>
using AllInt32 = std::int32_t;

template <std::size_t N, std::size_t K, template <std::size_t> class TypeAt,
          class = std::make_index_sequence<N>>
struct Shape;
template <std::size_t N, std::size_t K, template <std::size_t> class TypeAt, std::size_t... Is>
struct Shape<N, K, TypeAt, std::index_sequence<Is...>> {
    static constexpr std::size_t positions = N, required = K;
    static constexpr bool maskable = OSCValueMaskShape<Pos<Is, K, TypeAt<Is>>...>;
    using Expected =
        std::conditional_t<N == 1, Pos<0, K, TypeAt<0>>, std::tuple<Pos<Is, K, TypeAt<Is>>...>>;
    static auto apply(const Values& v) { return applyValueMask<Pos<Is, K, TypeAt<Is>>...>(v); }
};

template <std::size_t N, template <std::size_t> class TypeAt, class F, std::size_t... Ks>
constexpr int forEachRequiredCount(F& f, std::index_sequence<Ks...>) {
    (f(Shape<N, Ks, TypeAt>{}), ...);
    return static_cast<int>(sizeof...(Ks));
}
template <template <std::size_t> class TypeAt, class F, std::size_t... Ns>
constexpr int forEachArity(F& f, std::index_sequence<Ns...>) {
    return (0 + ... + forEachRequiredCount<Ns + 1, TypeAt>(f, std::make_index_sequence<Ns + 2>{}));
}
// Calls f(Shape<N, K>) for N = 1 ... 10 and K = 0 ... N; gives the number of shapes.
template <template <std::size_t> class TypeAt, class F>
constexpr int forEachShape(F f) {
    return forEachArity<TypeAt>(f, std::make_index_sequence<10>{});
}

constexpr bool allShapesCompile() {
    bool ok = true;
    const int count = forEachShape<Cycled>([&](auto shape) {
        using S = decltype(shape);
        ok =
            ok && S::maskable &&
            std::is_same_v<decltype(S::apply(std::declval<const Values&>())), typename S::Expected>;
    });
    return ok && count == 65;
}
static_assert(allShapesCompile());
static_assert(
    std::is_same_v<decltype(applyValueMask<std::optional<float>>(Values{})), std::optional<float>>);

template <class... Ps>
concept Applicable = requires(const Values& v) {
    applyValueMask<Ps...>(v);
};
struct NotAValue {};
using I = std::int32_t;
using O = std::optional<I>;
static_assert(!Applicable<>);
static_assert(!Applicable<I, I, I, I, I, I, I, I, I, I, I>);
static_assert(!Applicable<O, O, O, O, O, O, O, O, O, O, O>);
static_assert(!Applicable<O, I>);
static_assert(!Applicable<I, O, I>);
static_assert(!Applicable<NotAValue>);
static_assert(!Applicable<I, std::optional<NotAValue>>);
static_assert(!Applicable<long long>);
static_assert(!Applicable<std::optional<O>>);
static_assert(!Applicable<const I>);
static_assert(Applicable<I, I, I, I, I, I, I, I, I, O>);

std::optional<I> flat(I v) {
    return v;
}
std::optional<I> flat(std::optional<I> v) {
    return v;
}
template <class R>
std::vector<std::optional<I>> flatten(const R& r) {
    if constexpr (requires { std::tuple_size<R>::value; }) {
        return std::apply([](const auto&... e) { return std::vector{flat(e)...}; }, r);
    } else {
        return {flat(r)};
    }
}

template <class F>
std::optional<OSCValueMaskError::Kind> failureOf(F&& f) {
    try {
        f();
    } catch (const OSCValueMaskError& e) {
        return e.kind();
    }
    return std::nullopt;
}

TEST(ValueMaskShapeTest, CountsAndMismatchesOverEveryShape) {
    const int shapes = forEachShape<AllInt32>([](auto shape) {
        using S = decltype(shape);
        const std::size_t n = S::positions, k = S::required;
        for (std::size_t c = 0; c <= n + 1; ++c) {
            SCOPED_TRACE(::testing::Message() << "N=" << n << " K=" << k << " count=" << c);
            Values values;
            for (std::size_t i = 0; i < c; ++i) values.emplace_back(I(100 + i));
            if (c < k || c > n) {
                EXPECT_EQ(failureOf([&] { S::apply(values); }),
                          OSCValueMaskError::Kind::invalidCount);
                continue;
            }
            const auto got = flatten(S::apply(values));
            ASSERT_EQ(got.size(), n);
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_EQ(got[i], i < c ? std::optional<I>(I(100 + i)) : std::nullopt) << i;
            for (std::size_t p = 0; p < c; ++p) {
                Values mismatched = values;
                mismatched[p] = AnyOSCValue("text");
                EXPECT_EQ(failureOf([&] { S::apply(mismatched); }),
                          OSCValueMaskError::Kind::mismatchedTypes)
                    << "string at " << p;
            }
        }
    });
    EXPECT_EQ(shapes, 65);
}

}  // namespace
}  // namespace rozuri
