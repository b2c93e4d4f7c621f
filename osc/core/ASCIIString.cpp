#include "osc/core/ASCIIString.h"

#include <nlohmann/json.hpp>

#include "osc/core/DecodingError.h"
#include "osc/core/TextUtilities.h"
#include "platform/foundation/TextTransforms.h"

namespace rozuri {

namespace {
Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}
bool isPrintable(char32_t c) {
    return c >= 0x20 && c <= 0x7E;
}
}  // namespace

ASCIIString::ASCIIString(const char* text) : ASCIIString(asciiStringFromText(text)) {}
ASCIIString::ASCIIString(std::string_view text) : ASCIIString(asciiStringFromText(text)) {}

std::optional<ASCIIString> ASCIIString::exactASCIIConversion(std::string_view text) {
    if (!isASCIIText(text)) return std::nullopt;
    return ASCIIString(std::string(text), bytesOf(text));
}

ASCIIString ASCIIString::lossyASCIIConversion(std::string_view text) {
    std::string source;
    if (isASCIIText(text)) {
        // The transform leaves ASCII as it is.
        source.assign(text);
    } else {
        auto transformed = foundation::applyingTransform(text, "Latin-ASCII");
        source = transformed ? std::move(*transformed) : std::string(text);
    }
    std::string joined;
    joined.reserve(source.size());
    for (std::size_t i = 0; i < source.size();) {
        char32_t c = foundation::nextUnicodeScalar(source, i);
        joined.push_back(isPrintable(c) ? static_cast<char>(c) : '?');
    }
    auto exact = exactASCIIConversion(joined);
    return exact ? std::move(*exact) : ASCIIString();
}

ASCIIString ASCIIString::asciiStringFromText(std::string_view text) {
    if (auto exact = exactASCIIConversion(text)) return std::move(*exact);
    std::string lossy = lossyASCIIConversion(text).stringValue();
    Data bytes = bytesOf(lossy);
    return ASCIIString(std::move(lossy), std::move(bytes));
}

std::optional<ASCIIString> ASCIIString::asciiStringFromData(DataView bytes) {
    auto text = foundation::decodeNonLossyASCII(bytes);
    if (!text || !isASCIIText(*text)) return std::nullopt;
    return ASCIIString(std::move(*text), Data(bytes.begin(), bytes.end()));
}

ASCIIString ASCIIString::asciiStringFromCharacter(const ASCIICharacter& c) {
    return ASCIIString(c.characterValue().text(), Data{c.asciiValue()});
}

ASCIIString ASCIIString::asciiStringFromCharacters(std::span<const ASCIICharacter> characters) {
    ASCIIString out;
    for (const auto& c : characters) {
        out.stringValue_ += c.characterValue().text();
        out.rawData_.push_back(c.asciiValue());
    }
    return out;
}

ASCIIString ASCIIString::joinedASCIIString(std::span<const ASCIIString> parts,
                                           const std::optional<ASCIIString>& separator) {
    ASCIIString out;
    bool first = true;
    for (const auto& p : parts) {
        if (!first && separator) {
            out.stringValue_ += separator->stringValue_;
            out.rawData_.insert(out.rawData_.end(), separator->rawData_.begin(),
                                separator->rawData_.end());
        }
        first = false;
        out.stringValue_ += p.stringValue_;
        out.rawData_.insert(out.rawData_.end(), p.rawData_.begin(), p.rawData_.end());
    }
    return out;
}

ASCIIString ASCIIString::joinedASCIIString(std::span<const ASCIICharacter> parts,
                                           const ASCIIString& separator) {
    std::vector<ASCIIString> strings;
    strings.reserve(parts.size());
    for (const auto& c : parts) strings.push_back(asciiStringFromCharacter(c));
    return joinedASCIIString(strings, separator);
}

ASCIIString ASCIIString::fromTrustedParts(std::string text, Data bytes) {
    return ASCIIString(std::move(text), std::move(bytes));
}

ASCIIString operator+(const ASCIIString& a, const ASCIIString& b) {
    ASCIIString out = a;
    out.stringValue_ += b.stringValue_;
    out.rawData_.insert(out.rawData_.end(), b.rawData_.begin(), b.rawData_.end());
    return out;
}
ASCIIString operator+(const ASCIICharacter& a, const ASCIIString& b) {
    return ASCIIString::asciiStringFromCharacter(a) + b;
}
ASCIIString operator+(const ASCIIString& a, const ASCIICharacter& b) {
    return a + ASCIIString::asciiStringFromCharacter(b);
}
ASCIIString operator+(const ASCIICharacter& a, const ASCIICharacter& b) {
    return ASCIIString::asciiStringFromCharacter(a) + ASCIIString::asciiStringFromCharacter(b);
}

bool operator==(const ASCIIString& a, const ASCIIString& b) {
    return a.rawData_ == b.rawData_ &&
           foundation::canonicallyEquivalent(a.stringValue_, b.stringValue_);
}
bool operator==(const ASCIIString& a, std::string_view b) {
    return foundation::canonicallyEquivalent(a.stringValue_, b);
}

std::size_t ASCIIString::hash() const {
    std::size_t h = std::hash<std::string>{}(stringValue_);
    std::size_t d = std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(rawData_.data()), rawData_.size()));
    return h ^ (d + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

std::string ASCIIString::debugDescription() const {
    return "ASCIIString(\"" + stringValue_ + "\")";
}

nlohmann::json ASCIIString::toJSON() const {
    return stringValue_;
}

ASCIIString ASCIIString::fromJSON(const nlohmann::json& json, std::vector<std::string> codingPath) {
    if (!json.is_string())
        throw DecodingError::typeMismatch(
            std::move(codingPath), "Expected to decode String but found another value instead.");
    auto s = exactASCIIConversion(json.get_ref<const std::string&>());
    if (!s)
        throw DecodingError::dataCorrupted(std::move(codingPath),
                                           "Encoded string is not a valid ASCII string.");
    return std::move(*s);
}

}  // namespace rozuri
