#pragma once

// Text services the OSC core takes from the platform, built on ICU: ICU transforms such as
// "Latin-ASCII", grapheme clusters, canonical equivalence, Unicode scalars of UTF-8 text, the
// whitespace-and-newline set, and the strict and escape-interpreting ASCII encodings.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Applies an ICU transform (for example "Latin-ASCII") to UTF-8 text. None when the transform
// does not exist or fails.
std::optional<std::string> applyingTransform(std::string_view text, std::string_view transformID,
                                             bool reverse = false);

// The extended grapheme clusters of UTF-8 text, in order, as views into it. ASCII text is split
// without ICU (CR LF is its only two-byte cluster). Invalid UTF-8 never splits inside a byte.
std::vector<std::string_view> graphemeClusters(std::string_view text);

// The first grapheme cluster of the text (empty for empty text).
std::string_view firstGraphemeCluster(std::string_view text);

// True when the text is exactly one grapheme cluster.
bool isSingleGraphemeCluster(std::string_view text);

// The Unicode scalars of UTF-8 text. A malformed sequence yields U+FFFD and moves on by one byte.
std::vector<char32_t> unicodeScalars(std::string_view text);

// Decodes the scalar at `offset` and advances it; U+FFFD for a malformed sequence.
char32_t nextUnicodeScalar(std::string_view text, std::size_t& offset);

// UTF-8 for one scalar (appended).
void appendUTF8(std::string& out, char32_t scalar);

// Canonical equivalence, as the platform compares characters and texts (NFD of both equal).
bool canonicallyEquivalent(std::string_view a, std::string_view b);

// The NFC form of the text, for hashing canonically equivalent texts alike.
std::string canonicalComposition(std::string_view text);

// Membership in the platform's whitespace-and-newline set (Unicode White_Space plus U+0085).
bool isWhitespaceOrNewline(char32_t scalar);

// Strict ASCII: every byte below 0x80 stands for itself. Encoding fails on any other scalar.
std::optional<std::vector<std::uint8_t>> encodeASCII(std::string_view text);
std::optional<std::string> decodeASCII(std::span<const std::uint8_t> bytes);

// The escape-interpreting ASCII encoding: bytes above 0x7F fail; a backslash followed by three
// octal digits, or by 'u' and four hexadecimal digits (a UTF-16 unit, surrogate pairs joined),
// stands for that character; any other backslash fails. Encoding writes ASCII as it is except the
// backslash ("\134") and escapes everything else as \uXXXX units.
std::optional<std::string> decodeNonLossyASCII(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> encodeNonLossyASCII(std::string_view text);

// UTF-8 validity of bytes.
bool isValidUTF8(std::span<const std::uint8_t> bytes);

}  // namespace foundation
