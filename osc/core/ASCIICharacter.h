#pragma once

// One ASCII character: its text and its code 0 to 127 (CR LF has the code 10).

#include <concepts>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "osc/core/Character.h"
#include "osc/core/Data.h"

namespace rozuri {

class ASCIICharacter {
  public:
    // A one-character ASCII text given as a literal ('A', "A"); lossy like lossyASCIICharacter.
    ASCIICharacter(char c);            // NOLINT: literal construction
    ASCIICharacter(const char* text);  // NOLINT: literal construction
    // A Unicode scalar given as a literal (U'A', U'\u00E9'); lossy, so U'\u00E9' is "e". A value
    // that is no scalar (a surrogate, above U+10FFFF) gives "?".
    ASCIICharacter(char32_t scalar);  // NOLINT: literal construction

    static std::optional<ASCIICharacter> exactASCIICharacter(const Character& c);
    static std::optional<ASCIICharacter> exactASCIICharacter(std::string_view text);
    static ASCIICharacter lossyASCIICharacter(const Character& c);
    static ASCIICharacter lossyASCIICharacter(std::string_view text);
    template <std::integral T>
    static std::optional<ASCIICharacter> asciiCharacterFromCode(T code) {
        if (std::cmp_less(code, 0) || std::cmp_greater(code, 255)) return std::nullopt;
        std::uint8_t byte = static_cast<std::uint8_t>(code);
        return asciiCharacterFromByte(DataView(&byte, 1));
    }
    static std::optional<ASCIICharacter> asciiCharacterFromByte(DataView byte);

    const Character& characterValue() const { return characterValue_; }
    std::uint8_t asciiValue() const { return asciiValue_; }

    friend bool operator==(const ASCIICharacter& a, const ASCIICharacter& b) {
        return a.asciiValue_ == b.asciiValue_;
    }
    friend bool operator==(const ASCIICharacter& a, const Character& b) {
        return a.characterValue_ == b;
    }

    std::size_t hash() const { return std::hash<std::uint8_t>{}(asciiValue_); }
    // The character for 0x20 to 0x7E, "?" otherwise.
    std::string description() const;
    // ASCIICharacter(#65: "A")
    std::string debugDescription() const;

    // Keyed coding: the character as a JSON string. Decoding throws DecodingError.
    nlohmann::json toJSON() const;
    static ASCIICharacter fromJSON(const nlohmann::json& json,
                                   std::vector<std::string> codingPath = {});

  private:
    ASCIICharacter(Character c, std::uint8_t code)
        : characterValue_(std::move(c)), asciiValue_(code) {}
    Character characterValue_;
    std::uint8_t asciiValue_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::ASCIICharacter> {
    std::size_t operator()(const rozuri::ASCIICharacter& c) const noexcept { return c.hash(); }
};
