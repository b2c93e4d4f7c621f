#pragma once

// The integer types the numeric helpers take: the standard signed and unsigned integers of every
// width, plus the 128-bit ones. Under strict C++20 std::is_integral_v<__int128> is false, so
// std::integral, std::in_range and std::to_string refuse them; this concept and the limits below
// work for both. Bool and the character types are not integers here.

#include <climits>
#include <concepts>
#include <type_traits>

namespace rozuri::numeric {

template <class T>
concept BinaryInteger = (std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                         !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t> &&
                         !std::is_same_v<T, char8_t> && !std::is_same_v<T, char16_t> &&
                         !std::is_same_v<T, char32_t>) ||
                        std::is_same_v<T, __int128> || std::is_same_v<T, unsigned __int128>;

namespace detail {

template <class T>
struct UnsignedOf {
    using type = std::make_unsigned_t<T>;
};
template <>
struct UnsignedOf<__int128> {
    using type = unsigned __int128;
};
template <>
struct UnsignedOf<unsigned __int128> {
    using type = unsigned __int128;
};

}  // namespace detail

// Width, signedness and range of an integer type, the 128-bit ones included.
template <BinaryInteger T>
struct IntegerInfo {
    using Unsigned = typename detail::UnsignedOf<T>::type;
    static constexpr bool isSigned = T(-1) < T(0);
    static constexpr int bitWidth = static_cast<int>(sizeof(T) * CHAR_BIT);
    static constexpr T max = isSigned ? T(Unsigned(~Unsigned(0)) >> 1) : T(~Unsigned(0));
    static constexpr T min = isSigned ? T(-max - 1) : T(0);
};

template <BinaryInteger T>
constexpr bool isNegative(T x) {
    if constexpr (IntegerInfo<T>::isSigned) {
        return x < T(0);
    } else {
        return false;
    }
}

// The magnitude of x as its unsigned counterpart, without negating x in its own type (which
// overflows at a signed type's minimum).
template <BinaryInteger T>
constexpr typename IntegerInfo<T>::Unsigned magnitude(T x) {
    using U = typename IntegerInfo<T>::Unsigned;
    return isNegative(x) ? U(U(0) - U(x)) : U(x);
}

}  // namespace rozuri::numeric
