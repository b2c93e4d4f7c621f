#pragma once

// Byte buffers and the conversions between fixed-width numbers and bytes, in a chosen byte order.

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace rozuri {

using Data = std::vector<std::uint8_t>;
using DataView = std::span<const std::uint8_t>;

enum class NumberEndianness : std::uint8_t {
    platformDefault = 0,
    littleEndian = 1,
    bigEndian = 2,
};

// The host's order: littleEndian or bigEndian, never platformDefault.
NumberEndianness systemEndianness();

namespace detail {
template <class T>
T byteSwapped(T value) {
    using U = std::make_unsigned_t<std::conditional_t<std::is_integral_v<T>, T, std::int8_t>>;
    if constexpr (sizeof(T) == 1) {
        return value;
    } else {
        U bits;
        std::memcpy(&bits, &value, sizeof(T));
        bits = static_cast<U>(__builtin_bswap64(static_cast<std::uint64_t>(bits)) >>
                              (64 - 8 * sizeof(T)));
        T out;
        std::memcpy(&out, &bits, sizeof(T));
        return out;
    }
}
template <class T>
T toOrder(T value, NumberEndianness endianness) {
    if (endianness == NumberEndianness::platformDefault || endianness == systemEndianness())
        return value;
    return byteSwapped(value);
}
template <class T>
void appendBytes(Data& out, const T& value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof(T));
}
}  // namespace detail

// Number to bytes: exactly as many bytes as the type is wide.
template <std::integral T>
Data dataRepresentation(T value, NumberEndianness endianness) {
    Data out;
    out.reserve(sizeof(T));
    detail::appendBytes(out, detail::toOrder(value, endianness));
    return out;
}
Data dataRepresentation(float value, NumberEndianness endianness);
Data dataRepresentation(double value, NumberEndianness endianness);

// Appending forms, for coders that build one buffer.
template <std::integral T>
void appendDataRepresentation(Data& out, T value, NumberEndianness endianness) {
    detail::appendBytes(out, detail::toOrder(value, endianness));
}
void appendDataRepresentation(Data& out, float value, NumberEndianness endianness);
void appendDataRepresentation(Data& out, double value, NumberEndianness endianness);

// Bytes to number: none unless the byte count is exactly the type's width.
template <std::integral T>
std::optional<T> integerValue(DataView bytes, NumberEndianness endianness) {
    if (bytes.size() != sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data(), sizeof(T));
    if constexpr (sizeof(T) == 1) {
        return value;
    } else {
        return detail::toOrder(value, endianness);
    }
}
inline std::optional<std::int64_t> int64Value(DataView b, NumberEndianness e) {
    return integerValue<std::int64_t>(b, e);
}
inline std::optional<std::uint64_t> uint64Value(DataView b, NumberEndianness e) {
    return integerValue<std::uint64_t>(b, e);
}
inline std::optional<std::uint32_t> uint32Value(DataView b, NumberEndianness e) {
    return integerValue<std::uint32_t>(b, e);
}
inline std::optional<std::int32_t> int32Value(DataView b, NumberEndianness e) {
    return integerValue<std::int32_t>(b, e);
}
inline std::optional<std::int16_t> int16Value(DataView b, NumberEndianness e) {
    return integerValue<std::int16_t>(b, e);
}
inline std::optional<std::uint16_t> uint16Value(DataView b, NumberEndianness e) {
    return integerValue<std::uint16_t>(b, e);
}
inline std::optional<std::int8_t> int8Value(DataView b) {
    return integerValue<std::int8_t>(b, {});
}
inline std::optional<std::uint8_t> uint8Value(DataView b) {
    return integerValue<std::uint8_t>(b, {});
}
std::optional<float> float32Value(DataView bytes, NumberEndianness endianness);
std::optional<double> doubleValue(DataView bytes, NumberEndianness endianness);

// Text encodings of the conversions below.
enum class TextEncoding : std::uint8_t { ascii, nonLossyASCII, utf8 };

// Text to bytes without lossy conversion; none when the text cannot be represented.
std::optional<Data> dataUsingEncoding(std::string_view text, TextEncoding encoding);
// Bytes to text; none when the bytes are not valid in the encoding.
std::optional<std::string> stringFromData(DataView bytes, TextEncoding encoding);
// Bytes as a list of byte values, and a buffer from any sequence of byte values.
std::vector<std::uint8_t> byteArray(DataView bytes);
template <class Range>
Data dataFromSequence(const Range& bytes) {
    Data out;
    for (auto b : bytes) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

}  // namespace rozuri
