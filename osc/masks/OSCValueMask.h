#pragma once

// Value masks: the values of a message handed back as typed results in one step.
//
//   auto [id, name] =
//       applyValueMask<std::int32_t, std::optional<std::string>>(message.values());
//
// One requested type per position, 1 to 10 positions. std::optional<V> marks an optional
// position; the optional positions form the tail (no required position after an optional one).
// The result is the bare value (or optional) for one position, else a std::tuple in position
// order. A shape that breaks these rules does not compile.
//
// Per position: Int takes any integer value that fits in 64 signed bits (a Bool is no integer);
// AnyOSCNumberValue takes any integer, floating or Bool value, kept in its own type; every other
// type takes only a value of exactly that type (an Int32 is no Int64, a Float no Double). An
// optional position is empty only past the end of the list; a present value of the wrong type,
// OSCNullValue included, is a mismatch.
//
// Failures throw OSCValueMaskError: invalidCount when the count lies outside required...N (checked
// before any value is looked at), else mismatchedTypes for the first position that does not match.
// Nothing is handed out on failure and the values are never changed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "osc/core/AnyOSCNumberValue.h"
#include "osc/core/AnyOSCValue.h"
#include "osc/core/NumericTypes.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCValueMaskError.h"

namespace rozuri {

// A type a mask position may request.
template <class V>
concept OSCMaskRequestable = OSCValueMaskable<V> && std::copy_constructible<V>;

namespace detail {

template <class P>
struct MaskPosition {
    using type = P;
    static constexpr bool optional = false;
};
template <class V>
struct MaskPosition<std::optional<V>> {
    using type = V;
    static constexpr bool optional = true;
};

template <class... Ps>
constexpr bool hasOptionalTail() {
    bool seenOptional = false;
    bool ordered = true;
    ((ordered = ordered && (MaskPosition<Ps>::optional || !seenOptional),
      seenOptional = seenOptional || MaskPosition<Ps>::optional),
     ...);
    return ordered;
}

template <class... Ps>
constexpr std::int64_t requiredCount() {
    return (std::int64_t{0} + ... + (MaskPosition<Ps>::optional ? 0 : 1));
}

}  // namespace detail

template <class... Ps>
concept OSCValueMaskShape = sizeof...(Ps) >= 1 && sizeof...(Ps) <= 10 &&
                            (OSCMaskRequestable<typename detail::MaskPosition<Ps>::type> && ...) &&
                            detail::hasOptionalTail<Ps...>();

template <class... Ps>
requires OSCValueMaskShape<Ps...>
using OSCValueMaskResult =
    std::conditional_t<sizeof...(Ps) == 1, std::tuple_element_t<0, std::tuple<Ps...>>,
                       std::tuple<Ps...>>;

// Fails with invalidCount unless values holds exactly count values.
void checkValueCount(std::int64_t count, std::span<const AnyOSCValue> values);
// Fails with invalidCount unless min <= values.size() <= max (so always when min > max).
void checkValueCountRange(std::int64_t min, std::int64_t max, std::span<const AnyOSCValue> values);

namespace detail {

bool indexInside(std::int64_t index, std::span<const AnyOSCValue> values);
// The value at index; invalidCount when there is none.
const AnyOSCValue& valueAt(std::int64_t index, std::span<const AnyOSCValue> values);
Int maskInt(const AnyOSCValue& value);
AnyOSCNumberValue maskNumber(const AnyOSCValue& value);

}  // namespace detail

// The value at index as a V.
template <OSCMaskRequestable V>
V maskValue(std::int64_t index, std::span<const AnyOSCValue> values) {
    const AnyOSCValue& value = detail::valueAt(index, values);
    if constexpr (std::is_same_v<V, Int>) {
        return detail::maskInt(value);
    } else if constexpr (std::is_same_v<V, AnyOSCNumberValue>) {
        return detail::maskNumber(value);
    } else {
        if (const V* v = value.get_if<V>()) return *v;
        throw OSCValueMaskError::mismatchedTypes();
    }
}

// Empty past the end of the list (or for a negative index), else maskValue's result.
template <OSCMaskRequestable V>
std::optional<V> maskOptionalValue(std::int64_t index, std::span<const AnyOSCValue> values) {
    if (!detail::indexInside(index, values)) return std::nullopt;
    return maskValue<V>(index, values);
}

namespace detail {

template <class P>
P maskPosition(std::int64_t index, std::span<const AnyOSCValue> values) {
    if constexpr (MaskPosition<P>::optional) {
        return maskOptionalValue<typename MaskPosition<P>::type>(index, values);
    } else {
        return maskValue<P>(index, values);
    }
}

template <class... Ps, std::size_t... Is>
OSCValueMaskResult<Ps...> maskPositions(std::span<const AnyOSCValue> values,
                                        std::index_sequence<Is...>) {
    if constexpr (sizeof...(Ps) == 1) {
        return maskPosition<Ps...>(0, values);
    } else {
        // Braced initialisation runs left to right; a throw destroys the earlier results.
        return std::tuple<Ps...>{maskPosition<Ps>(static_cast<std::int64_t>(Is), values)...};
    }
}

}  // namespace detail

template <class... Ps>
requires OSCValueMaskShape<Ps...> OSCValueMaskResult<Ps...> applyValueMask(
    std::span<const AnyOSCValue> values) {
    checkValueCountRange(detail::requiredCount<Ps...>(), sizeof...(Ps), values);
    return detail::maskPositions<Ps...>(values, std::index_sequence_for<Ps...>{});
}

}  // namespace rozuri
