#pragma once

// ASCII text with its bytes, and the conversions from arbitrary text into it.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "osc/core/ASCIICharacter.h"
#include "osc/core/Data.h"

namespace rozuri {

class ASCIIString {
  public:
    // The empty string.
    ASCIIString() = default;
    // Literals and plain text: asciiStringFromText (never fails).
    ASCIIString(const char* text);       // NOLINT: literal construction
    ASCIIString(std::string_view text);  // NOLINT: lossless conversion from text
    ASCIIString(const std::string& text) : ASCIIString(std::string_view(text)) {}  // NOLINT

    // None unless every character is ASCII; control characters pass.
    static std::optional<ASCIIString> exactASCIIConversion(std::string_view text);
    // Transliterates ("Latin-ASCII"), then every scalar outside U+0020..U+007E becomes "?".
    static ASCIIString lossyASCIIConversion(std::string_view text);
    // Exact when possible, else lossy.
    static ASCIIString asciiStringFromText(std::string_view text);
    // Bytes decoded with escape interpretation (a backslash escape gives a shorter text).
    static std::optional<ASCIIString> asciiStringFromData(DataView bytes);
    static ASCIIString asciiStringFromCharacter(const ASCIICharacter& c);
    static ASCIIString asciiStringFromCharacters(std::span<const ASCIICharacter> characters);
    static ASCIIString joinedASCIIString(
        std::span<const ASCIIString> parts,
        const std::optional<ASCIIString>& separator = std::nullopt);
    static ASCIIString joinedASCIIString(std::span<const ASCIICharacter> parts,
                                         const ASCIIString& separator);
    // Text and bytes taken as they are; the caller vouches that they match and are ASCII.
    static ASCIIString fromTrustedParts(std::string text, Data bytes);

    const std::string& stringValue() const { return stringValue_; }
    const Data& rawData() const { return rawData_; }

    friend ASCIIString operator+(const ASCIIString& a, const ASCIIString& b);
    friend ASCIIString operator+(const ASCIICharacter& a, const ASCIIString& b);
    friend ASCIIString operator+(const ASCIIString& a, const ASCIICharacter& b);
    friend ASCIIString operator+(const ASCIICharacter& a, const ASCIICharacter& b);

    // Text and bytes both equal.
    friend bool operator==(const ASCIIString& a, const ASCIIString& b);
    // Text alone.
    friend bool operator==(const ASCIIString& a, std::string_view b);
    friend bool operator==(const ASCIIString& a, const char* b) { return a == std::string_view(b); }
    friend bool operator==(const ASCIIString& a, const std::string& b) {
        return a == std::string_view(b);
    }

    std::size_t hash() const;
    const std::string& description() const { return stringValue_; }
    // ASCIIString("abc")
    std::string debugDescription() const;

    nlohmann::json toJSON() const;
    static ASCIIString fromJSON(const nlohmann::json& json,
                                std::vector<std::string> codingPath = {});

  private:
    ASCIIString(std::string text, Data bytes)
        : stringValue_(std::move(text)), rawData_(std::move(bytes)) {}
    std::string stringValue_;
    Data rawData_;
};

ASCIIString operator+(const ASCIICharacter& a, const ASCIICharacter& b);

}  // namespace rozuri

template <>
struct std::hash<rozuri::ASCIIString> {
    std::size_t operator()(const rozuri::ASCIIString& s) const noexcept { return s.hash(); }
};
