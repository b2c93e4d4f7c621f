// Offset access into text: characters (grapheme clusters) in every encoding the text forms take.

#include <limits>

#include "osc/core/CoreUtilities.h"
#include "osc/core/GraphemeClusters.h"
#include "platform/foundation/TextTransforms.h"

namespace rozuri {

namespace {

constexpr std::size_t notAStart = std::numeric_limits<std::size_t>::max();
constexpr char32_t replacementCharacter = 0xFFFD;

// 0, then the end of every character; the last entry is the text's size.
std::vector<std::size_t> utf8Boundaries(std::string_view text) {
    GraphemeClusters chars(text);
    std::vector<std::size_t> bounds(chars.count() + 1);
    for (std::size_t i = 0; i < bounds.size(); ++i) bounds[i] = chars.offset(i);
    return bounds;
}

// The scalar at `i` of UTF-16 (two-byte units) or UTF-32 text, advancing `i`; an unpaired
// surrogate or a value beyond U+10FFFF is one replacement character.
template <typename Unit>
char32_t nextWideScalar(std::basic_string_view<Unit> text, std::size_t& i) {
    auto isSurrogate = [](char32_t u) { return u >= 0xD800 && u <= 0xDFFF; };
    if constexpr (sizeof(Unit) == 2) {
        const char32_t u = static_cast<char16_t>(text[i++]);
        if (u >= 0xD800 && u <= 0xDBFF && i < text.size()) {
            const char32_t low = static_cast<char16_t>(text[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            }
        }
        return isSurrogate(u) ? replacementCharacter : u;
    } else {
        static_assert(sizeof(Unit) == 4, "wide text is UTF-16 or UTF-32");
        const auto u = static_cast<char32_t>(text[i++]);
        return u > 0x10FFFF || isSurrogate(u) ? replacementCharacter : u;
    }
}

// UTF-16 and UTF-32 text is split as a UTF-8 copy whose boundaries are mapped back to code units.
template <typename Unit>
std::vector<std::size_t> wideBoundaries(std::basic_string_view<Unit> text) {
    std::string utf8;
    std::vector<std::size_t> unitAt;  // per UTF-8 byte: the code unit its scalar starts at
    utf8.reserve(text.size());
    unitAt.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        foundation::appendUTF8(utf8, nextWideScalar(text, i));
        unitAt.push_back(start);
        unitAt.resize(utf8.size(), notAStart);
    }
    unitAt.push_back(text.size());
    std::vector<std::size_t> bounds;
    // Breaks fall between scalars; anything else (ICU missing) is dropped, not split.
    for (std::size_t b : utf8Boundaries(utf8))
        if (unitAt[b] != notAStart) bounds.push_back(unitAt[b]);
    return bounds;
}

template <typename Unit>
std::vector<std::size_t> characterBoundaries(std::basic_string_view<Unit> text) {
    if constexpr (sizeof(Unit) == 1) {
        return utf8Boundaries(
            std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    } else {
        return wideBoundaries(text);
    }
}

}  // namespace

template <typename Unit>
std::optional<std::size_t> detail::textIndexAtOffset(std::basic_string_view<Unit> text,
                                                     std::ptrdiff_t offset, bool fromEnd) {
    const std::vector<std::size_t> bounds = characterBoundaries(text);
    const auto count = static_cast<std::ptrdiff_t>(bounds.size() - 1);
    if (fromEnd) {
        if (offset > 0 || offset < -count) return std::nullopt;
        offset += count;
    } else if (offset < 0 || offset > count) {
        return std::nullopt;
    }
    return bounds[static_cast<std::size_t>(offset)];
}

template <typename Unit>
std::optional<std::basic_string<Unit>> detail::textSlice(std::basic_string_view<Unit> text,
                                                         std::ptrdiff_t lower,
                                                         std::optional<std::ptrdiff_t> upper) {
    const std::vector<std::size_t> bounds = characterBoundaries(text);
    const auto count = static_cast<std::ptrdiff_t>(bounds.size() - 1);
    const std::ptrdiff_t end = upper.value_or(count);
    if (lower < 0 || end < lower || end > count) return std::nullopt;
    const std::size_t from = bounds[static_cast<std::size_t>(lower)];
    return std::basic_string<Unit>(text.substr(from, bounds[static_cast<std::size_t>(end)] - from));
}

#define ROZURI_TEXT_OFFSETS(Unit)                                                              \
    template std::optional<std::size_t> detail::textIndexAtOffset<Unit>(                       \
        std::basic_string_view<Unit>, std::ptrdiff_t, bool);                                   \
    template std::optional<std::basic_string<Unit>> detail::textSlice<Unit>(                   \
        std::basic_string_view<Unit>, std::ptrdiff_t, std::optional<std::ptrdiff_t>);
ROZURI_TEXT_OFFSETS(char)
ROZURI_TEXT_OFFSETS(char8_t)
ROZURI_TEXT_OFFSETS(char16_t)
ROZURI_TEXT_OFFSETS(char32_t)
ROZURI_TEXT_OFFSETS(wchar_t)
#undef ROZURI_TEXT_OFFSETS

}  // namespace rozuri
