#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "osc/core/OSCTimeTag.h"

// Small helpers offered beside the OSC core.
namespace rozuri {

// MARK: - Sleep and dates

// Blocks the calling thread for the given seconds, capped at 18,446,744,073 s so the nanosecond
// count fits 64 bits. Negative and NaN sleep not at all.
void sleepSeconds(double seconds);
// The nanoseconds sleepSeconds asks for.
std::uint64_t sleepNanoseconds(double seconds);

// Seconds from the time-tag epoch (1900-01-01 UTC) to the date.
double secondsSinceOSCEpoch(OSCTimeTag::Date date);
// The era (2^32 - 1 seconds each) of the date; nothing when it does not fit 64 bits.
std::optional<std::int64_t> oscEra(OSCTimeTag::Date date);

// MARK: - Hexadecimal and binary text

namespace detail {
std::string radixString(std::uint64_t magnitude, bool negative, unsigned radix, int padTo,
                        bool prefix);
template <std::integral T>
std::string radixString(T value, unsigned radix, int padTo, bool prefix) {
    if constexpr (std::is_signed_v<T>) {
        bool negative = value < 0;
        // Negating through the unsigned type keeps the minimum value representable.
        std::uint64_t magnitude =
            negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        return radixString(magnitude, negative, radix, padTo, prefix);
    } else {
        return radixString(static_cast<std::uint64_t>(value), false, radix, padTo, prefix);
    }
}
}  // namespace detail

// Upper-case base 16, no leading zeros, "0x" when `prefix`; padTo is the minimum digit count
// (the prefix does not count). Negative values are written with a leading "-" before the prefix.
template <std::integral T>
std::string hexString(T value, bool prefix = false) {
    return detail::radixString(value, 16, 0, prefix);
}
template <std::integral T>
std::string hexString(T value, int padTo, bool prefix) {
    return detail::radixString(value, 16, padTo, prefix);
}
// Base 2 with the prefix "0b".
template <std::integral T>
std::string binaryString(T value, bool prefix = false) {
    return detail::radixString(value, 2, 0, prefix);
}
template <std::integral T>
std::string binaryString(T value, int padTo, bool prefix) {
    return detail::radixString(value, 2, padTo, prefix);
}

// List forms: each element as the single form gives it, joined with the separator.
template <typename Range>
std::string hexString(const Range& values, int padTo, bool prefix, std::string_view separator) {
    std::string text;
    bool first = true;
    for (const auto& v : values) {
        if (!first) text += separator;
        text += hexString(v, padTo, prefix);
        first = false;
    }
    return text;
}
template <typename Range>
std::string hexString(const Range& values, bool prefix, std::string_view separator) {
    return hexString(values, 0, prefix, separator);
}
template <typename Range>
std::string binaryString(const Range& values, int padTo, bool prefix, std::string_view separator) {
    std::string text;
    bool first = true;
    for (const auto& v : values) {
        if (!first) text += separator;
        text += binaryString(v, padTo, prefix);
        first = false;
    }
    return text;
}
template <typename Range>
std::string binaryString(const Range& values, bool prefix, std::string_view separator) {
    return binaryString(values, 0, prefix, separator);
}
// "[0x01, 0xFF]"
template <typename Range>
std::string hexListString(const Range& values, int padTo) {
    return "[" + hexString(values, padTo, true, ", ") + "]";
}

// MARK: - Character sets

// A set of Unicode scalars.
class CharacterSet {
  public:
    CharacterSet() = default;
    // Every scalar of every text (UTF-8; invalid bytes are skipped).
    explicit CharacterSet(const std::vector<std::string>& strings);

    void insert(char32_t scalar) { scalars_.insert(scalar); }
    bool contains(char32_t scalar) const { return scalars_.count(scalar) != 0; }
    std::size_t size() const { return scalars_.size(); }

    CharacterSet& operator+=(const CharacterSet& other);
    CharacterSet& operator-=(const CharacterSet& other);
    friend CharacterSet operator+(CharacterSet a, const CharacterSet& b) { return a += b; }
    friend CharacterSet operator-(CharacterSet a, const CharacterSet& b) { return a -= b; }
    friend bool operator==(const CharacterSet&, const CharacterSet&) = default;

  private:
    std::set<char32_t> scalars_;
};

// True when every scalar of the text is in the set (true for the empty text); text that is not
// valid UTF-8 is not made of any set.
bool isMadeOf(std::string_view text, const CharacterSet& set);

// MARK: - Offset access

// Offsets count elements from the start (or, for the "fromEnd" form, from the end). Offsets
// outside the collection give nothing.
//
// Text counts user-perceived characters (grapheme clusters), never code units: text is anything
// that converts to a string view of char or char8_t (UTF-8), char16_t (UTF-16), or char32_t or
// wchar_t (UTF-32). An index is the code-unit offset where a character starts; characters and
// slices come back in the text's own string type. Ill-formed code units never split a
// well-formed character.
namespace detail {
template <typename C, typename View>
concept ConvertsToView = std::convertible_to<const C&, View>;
template <typename C>
using TextViewOf = std::conditional_t<
    ConvertsToView<C, std::string_view>, std::string_view,
    std::conditional_t<
        ConvertsToView<C, std::u8string_view>, std::u8string_view,
        std::conditional_t<
            ConvertsToView<C, std::u16string_view>, std::u16string_view,
            std::conditional_t<
                ConvertsToView<C, std::u32string_view>, std::u32string_view,
                std::conditional_t<ConvertsToView<C, std::wstring_view>, std::wstring_view,
                                   void>>>>>;
}  // namespace detail

template <typename C>
concept OffsetText = !std::is_void_v<detail::TextViewOf<C>>;

// The string type a text's characters and slices come back in.
template <OffsetText C>
using OffsetTextString = std::basic_string<typename detail::TextViewOf<C>::value_type>;

namespace detail {
// The code-unit offset of the character at `offset` (counted from the end when `fromEnd`).
template <typename Unit>
std::optional<std::size_t> textIndexAtOffset(std::basic_string_view<Unit> text,
                                             std::ptrdiff_t offset, bool fromEnd);
// Characters [lower, upper) of the text; no upper means to the end.
template <typename Unit>
std::optional<std::basic_string<Unit>> textSlice(std::basic_string_view<Unit> text,
                                                 std::ptrdiff_t lower,
                                                 std::optional<std::ptrdiff_t> upper);
// Both are instantiated in CoreUtilitiesTextOffsets.cpp for the five code-unit types.
}  // namespace detail

// Text forms. The collection forms below never take text.
template <OffsetText C>
std::optional<std::size_t> indexAtOffset(const C& text, std::ptrdiff_t offset) {
    return detail::textIndexAtOffset(detail::TextViewOf<C>(text), offset, false);
}
template <OffsetText C>
std::optional<std::size_t> characterOffsetToByte(const C& text, std::ptrdiff_t offset) {
    return indexAtOffset(text, offset);
}
template <OffsetText C>
std::optional<std::size_t> indexAtOffsetFromEnd(const C& text, std::ptrdiff_t offset) {
    return detail::textIndexAtOffset(detail::TextViewOf<C>(text), offset, true);
}
// Characters [lower, upper).
template <OffsetText C>
std::optional<OffsetTextString<C>> sliceAtOffsets(const C& text, std::ptrdiff_t lower,
                                                  std::ptrdiff_t upper) {
    return detail::textSlice(detail::TextViewOf<C>(text), lower, upper);
}
// Characters [lower, upper].
template <OffsetText C>
std::optional<OffsetTextString<C>> sliceAtClosedOffsets(const C& text, std::ptrdiff_t lower,
                                                        std::ptrdiff_t upper) {
    if (upper == PTRDIFF_MAX) return std::nullopt;
    return sliceAtOffsets(text, lower, upper + 1);
}
template <OffsetText C>
std::optional<OffsetTextString<C>> characterAtOffset(const C& text, std::ptrdiff_t offset) {
    return sliceAtClosedOffsets(text, offset, offset);
}
template <OffsetText C>
std::optional<OffsetTextString<C>> elementAtOffset(const C& text, std::ptrdiff_t offset) {
    return characterAtOffset(text, offset);
}
template <OffsetText C>
std::optional<OffsetTextString<C>> sliceFromOffset(const C& text, std::ptrdiff_t lower) {
    return detail::textSlice(detail::TextViewOf<C>(text), lower, std::nullopt);
}
template <OffsetText C>
std::optional<OffsetTextString<C>> sliceThroughOffset(const C& text, std::ptrdiff_t upper) {
    return sliceAtClosedOffsets(text, 0, upper);
}
template <OffsetText C>
std::optional<OffsetTextString<C>> sliceUpToOffset(const C& text, std::ptrdiff_t upper) {
    return sliceAtOffsets(text, 0, upper);
}

template <typename C>
requires(!OffsetText<C>) std::optional<std::size_t> indexAtOffset(const C& c,
                                                                  std::ptrdiff_t offset) {
    auto size = static_cast<std::ptrdiff_t>(std::size(c));
    if (offset < 0 || offset > size) return std::nullopt;
    return static_cast<std::size_t>(offset);
}
template <typename C>
requires(!OffsetText<C>) std::optional<std::size_t> indexAtOffsetFromEnd(const C& c,
                                                                         std::ptrdiff_t offset) {
    // A positive offset lies past the end; refusing it first keeps the sum from overflowing.
    if (offset > 0) return std::nullopt;
    return indexAtOffset(c, static_cast<std::ptrdiff_t>(std::size(c)) + offset);
}
template <typename C>
requires(!OffsetText<C>) auto elementAtOffset(const C& c, std::ptrdiff_t offset)
    -> std::optional<std::decay_t<decltype(*std::begin(c))>> {
    auto size = static_cast<std::ptrdiff_t>(std::size(c));
    if (offset < 0 || offset >= size) return std::nullopt;
    return *std::next(std::begin(c), offset);
}
// Elements [lower, upper).
template <typename C>
requires(!OffsetText<C>) std::optional<C> sliceAtOffsets(const C& c, std::ptrdiff_t lower,
                                                         std::ptrdiff_t upper) {
    auto size = static_cast<std::ptrdiff_t>(std::size(c));
    if (lower < 0 || upper < lower || upper > size) return std::nullopt;
    return C(std::next(std::begin(c), lower), std::next(std::begin(c), upper));
}
// Elements [lower, upper].
template <typename C>
requires(!OffsetText<C>) std::optional<C> sliceAtClosedOffsets(const C& c, std::ptrdiff_t lower,
                                                               std::ptrdiff_t upper) {
    if (upper == PTRDIFF_MAX) return std::nullopt;
    return sliceAtOffsets(c, lower, upper + 1);
}
template <typename C>
requires(!OffsetText<C>) std::optional<C> sliceFromOffset(const C& c, std::ptrdiff_t lower) {
    return sliceAtOffsets(c, lower, static_cast<std::ptrdiff_t>(std::size(c)));
}
template <typename C>
requires(!OffsetText<C>) std::optional<C> sliceThroughOffset(const C& c, std::ptrdiff_t upper) {
    return sliceAtClosedOffsets(c, 0, upper);
}
template <typename C>
requires(!OffsetText<C>) std::optional<C> sliceUpToOffset(const C& c, std::ptrdiff_t upper) {
    return sliceAtOffsets(c, 0, upper);
}

// Appends one element.
template <typename T, typename A>
std::vector<T, A>& operator<<(std::vector<T, A>& collection, T element) {
    collection.push_back(std::move(element));
    return collection;
}

// MARK: - Optionals

// What the platform's optional offers generically: its wrapped type and its value as an optional.
template <typename T>
concept ROZUriOptional = requires(const T& t) {
    typename T::value_type;
    { t.has_value() } -> std::convertible_to<bool>;
};
template <ROZUriOptional O>
std::optional<typename O::value_type> optionalValue(const O& value) {
    return value.has_value() ? std::optional<typename O::value_type>(*value) : std::nullopt;
}
template <ROZUriOptional O>
O noneValue() {
    return O{};
}

}  // namespace rozuri
