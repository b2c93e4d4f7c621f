#include "osc/core/ASCIICharacter.h"

#include <nlohmann/json.hpp>

#include "osc/core/ASCIIString.h"
#include "osc/core/DecodingError.h"
#include "platform/foundation/TextTransforms.h"

namespace rozuri {

namespace {
std::optional<std::uint8_t> exactCode(std::string_view c) {
    if (c == "\r\n") return std::uint8_t{10};
    if (c.size() == 1 && static_cast<unsigned char>(c[0]) < 0x80)
        return static_cast<std::uint8_t>(c[0]);
    return std::nullopt;
}
}  // namespace

ASCIICharacter::ASCIICharacter(char c)
    : ASCIICharacter(lossyASCIICharacter(std::string_view(&c, 1))) {}
ASCIICharacter::ASCIICharacter(const char* text)
    : ASCIICharacter(lossyASCIICharacter(std::string_view(text))) {}

ASCIICharacter::ASCIICharacter(char32_t scalar) : ASCIICharacter(Character('?'), 63) {
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF)) return;
    std::string text;
    foundation::appendUTF8(text, scalar);
    *this = lossyASCIICharacter(std::string_view(text));
}

std::optional<ASCIICharacter> ASCIICharacter::exactASCIICharacter(const Character& c) {
    auto code = exactCode(c.text());
    if (!code) return std::nullopt;
    return ASCIICharacter(c, *code);
}

std::optional<ASCIICharacter> ASCIICharacter::exactASCIICharacter(std::string_view text) {
    auto c = Character::fromText(text);
    if (!c) return std::nullopt;
    return exactASCIICharacter(*c);
}

ASCIICharacter ASCIICharacter::lossyASCIICharacter(const Character& c) {
    if (auto code = exactCode(c.text())) return ASCIICharacter(c, *code);
    std::string converted = ASCIIString::lossyASCIIConversion(c.text()).stringValue();
    if (converted.empty()) converted = "?";
    // A transliteration of several letters (sharp s gives "ss") keeps its first letter, so that
    // the text and the code always agree.
    auto first = Character::firstOf(converted);
    if (first) {
        if (auto code = exactCode(first->text())) return ASCIICharacter(*first, *code);
    }
    return ASCIICharacter(Character('?'), 63);
}

ASCIICharacter ASCIICharacter::lossyASCIICharacter(std::string_view text) {
    if (text.empty()) return ASCIICharacter(Character('?'), 63);
    auto c = Character::firstOf(text);
    return lossyASCIICharacter(*c);
}

std::optional<ASCIICharacter> ASCIICharacter::asciiCharacterFromByte(DataView byte) {
    if (byte.size() != 1) return std::nullopt;
    // A lone backslash is a backslash: one byte cannot hold an escape.
    if (byte[0] == '\\') return ASCIICharacter(Character('\\'), 92);
    auto text = foundation::decodeNonLossyASCII(byte);
    if (!text || text->empty()) return std::nullopt;
    std::size_t offset = 0;
    char32_t scalar = foundation::nextUnicodeScalar(*text, offset);
    if (scalar > 0x7F) return std::nullopt;
    return ASCIICharacter(Character(static_cast<char>(scalar)), static_cast<std::uint8_t>(scalar));
}

std::string ASCIICharacter::description() const {
    if (asciiValue_ >= 0x20 && asciiValue_ <= 0x7E) return characterValue_.text();
    return "?";
}

std::string ASCIICharacter::debugDescription() const {
    return "ASCIICharacter(#" + std::to_string(asciiValue_) + ": \"" + description() + "\")";
}

nlohmann::json ASCIICharacter::toJSON() const {
    return characterValue_.text();
}

ASCIICharacter ASCIICharacter::fromJSON(const nlohmann::json& json,
                                        std::vector<std::string> codingPath) {
    if (!json.is_string())
        throw DecodingError::typeMismatch(
            std::move(codingPath), "Expected to decode String but found another value instead.");
    auto c = exactASCIICharacter(json.get_ref<const std::string&>());
    if (!c)
        throw DecodingError::dataCorrupted(std::move(codingPath),
                                           "Value was not valid ASCII character number.");
    return *c;
}

}  // namespace rozuri
