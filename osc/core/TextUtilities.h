#pragma once

// Small helpers on text and bytes: ASCII tests, scalars, address path components, prefixes.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "osc/core/Character.h"
#include "osc/core/CoreUtilities.h"  // CharacterSet
#include "osc/core/Data.h"

namespace rozuri {

// CR LF, or one scalar below U+0080.
bool isASCIICharacter(const Character& c);
bool isASCIICharacter(std::string_view oneCharacter);
// Every character is ASCII; true for empty text.
bool isASCIIText(std::string_view text);
// Every byte is printable ASCII (0x20 to 0x7E); true for empty text.
bool isASCIIPrintable(std::string_view text);

std::optional<char32_t> firstUnicodeScalar(std::string_view text);
inline std::optional<char32_t> firstUnicodeScalar(const Character& c) {
    return firstUnicodeScalar(std::string_view(c.text()));
}

bool allUnicodeScalarsSatisfy(std::string_view text,
                              const std::function<bool(char32_t)>& predicate);
bool consistsOfCharacters(std::string_view text, const CharacterSet& set);

bool allConsistOfCharacters(std::span<const std::string> texts, std::string_view in);
bool allConsistOfCharacters(std::span<const std::string> texts, const CharacterSet& set,
                            std::span<const CharacterSet> more = {});
bool anyConsistsOfCharacters(std::span<const std::string> texts, std::string_view in);
bool anyConsistsOfCharacters(std::span<const std::string> texts, const CharacterSet& set,
                             std::span<const CharacterSet> more = {});

std::string trimmingWhitespaceAndNewlines(std::string_view text);
// A double quote, the text unescaped, a double quote.
std::string quoted(std::string_view text);

// One leading and one trailing "/" dropped, split at every "/", empty components kept; views
// into the address.
std::vector<std::string_view> addressPathComponents(std::string_view address);
bool hasCharacterPrefix(std::string_view slice, std::string_view prefix);
bool hasCharacterSuffix(std::string_view slice, std::string_view suffix);

bool dataHasPrefix(DataView bytes, DataView prefix);
Data dataFromByte(std::uint8_t byte);
Data dataFromBytes(std::span<const std::uint8_t> bytes);

}  // namespace rozuri
