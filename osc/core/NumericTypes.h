#pragma once

// Strong types for the platform numbers that have no distinct C++ type of their own, so that an
// `Int` keeps its identity next to an `Int64` inside a value list. `Float80` is long double.

#include <compare>
#include <cstdint>
#include <functional>
#include <limits>

namespace rozuri {

static_assert(std::numeric_limits<long double>::digits == 64, "Float80 needs the x87 format");
using Float80 = long double;

template <class Rep, class Tag>
struct StrongNumber {
    Rep value{};
    constexpr StrongNumber() = default;
    constexpr explicit StrongNumber(Rep v) : value(v) {}
    constexpr explicit operator Rep() const { return value; }
    friend constexpr bool operator==(StrongNumber a, StrongNumber b) { return a.value == b.value; }
    friend constexpr auto operator<=>(StrongNumber a, StrongNumber b) {
        return a.value <=> b.value;
    }
};

struct IntTag {};
struct UIntTag {};
struct CGFloatTag {};

// The platform's word-sized signed integer.
using Int = StrongNumber<std::int64_t, IntTag>;
// The platform's word-sized unsigned integer.
using UInt = StrongNumber<std::uint64_t, UIntTag>;
// The graphics floating-point type (a double).
using CGFloat = StrongNumber<double, CGFloatTag>;

}  // namespace rozuri

template <class Rep, class Tag>
struct std::hash<rozuri::StrongNumber<Rep, Tag>> {
    std::size_t operator()(rozuri::StrongNumber<Rep, Tag> n) const noexcept {
        if constexpr (std::is_floating_point_v<Rep>) {
            if (n.value == 0) return std::hash<Rep>{}(Rep(0));
        }
        return std::hash<Rep>{}(n.value);
    }
};
