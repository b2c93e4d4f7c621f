#pragma once

// Decimal text and integers.
//
// Parsing (intValue(text), ...) takes an optional leading '+' or '-' and then ASCII digits only:
// no spaces, no prefixes, no grouping, no exponent, no digits of other scripts; the whole view
// is read and nothing else. Empty on any other byte and on overflow of the target. "-0" is 0 for
// every target; a signed type's minimum parses. A view of part of a text reads only that part.
// Time is linear in the text's length; nothing is allocated.
//
// stringValue(x) is x's decimal text with a leading '-' when negative, for every integer type
// (Int8/UInt8 print numbers, 128-bit values print in full).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "osc/masks/BinaryInteger.h"

namespace rozuri::numeric {

template <BinaryInteger T>
constexpr std::optional<T> parseDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::size_t i = 0;
    const bool negative = text[0] == '-';
    if (negative || text[0] == '+') ++i;
    if (i == text.size()) return std::nullopt;
    // Accumulating a negative number downward lets a signed type's minimum parse.
    T value = 0;
    for (; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < '0' || byte > '9') return std::nullopt;
        const T digit = static_cast<T>(byte - '0');
        if (__builtin_mul_overflow(value, T(10), &value)) return std::nullopt;
        const bool overflow = negative ? __builtin_sub_overflow(value, digit, &value)
                                       : __builtin_add_overflow(value, digit, &value);
        if (overflow) return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> intValue(std::string_view text);
std::optional<std::int8_t> int8Value(std::string_view text);
std::optional<std::int16_t> int16Value(std::string_view text);
std::optional<std::int32_t> int32Value(std::string_view text);
std::optional<std::int64_t> int64Value(std::string_view text);
std::optional<std::uint64_t> uintValue(std::string_view text);
std::optional<std::uint8_t> uint8Value(std::string_view text);
std::optional<std::uint16_t> uint16Value(std::string_view text);
std::optional<std::uint32_t> uint32Value(std::string_view text);
std::optional<std::uint64_t> uint64Value(std::string_view text);

template <BinaryInteger X>
std::string stringValue(X x) {
    char digits[48];  // 39 digits of 2^128 and a sign
    char* end = digits + sizeof digits;
    char* p = end;
    auto rest = magnitude(x);
    do {
        *--p = static_cast<char>('0' + static_cast<int>(rest % 10));
        rest /= 10;
    } while (rest != 0);
    if (isNegative(x)) *--p = '-';
    return std::string(p, end);
}

}  // namespace rozuri::numeric
