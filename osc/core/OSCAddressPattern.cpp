#include "osc/core/OSCAddressPattern.h"

#include <nlohmann/json.hpp>

#include "osc/core/ASCIIString.h"
#include "osc/core/GraphemeClusters.h"
#include "osc/core/TextUtilities.h"

namespace rozuri {

namespace {

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

std::size_t hashString(std::string_view s) {
    return std::hash<std::string_view>{}(s);
}

using Token = OSCAddressPattern::Component::Token;
using CharacterGroup = Token::CharacterGroup;

}  // namespace

// MARK: - Conversion from text

namespace {

bool isPlainASCII(std::string_view text) {
    return isASCIIText(text);
}

}  // namespace

// Made directly in place: every decoded message makes one.
OSCAddressPattern::OSCAddressPattern(std::string_view text)
    : rawAddress_(isPlainASCII(text) ? std::string(text)
                                     : ASCIIString::asciiStringFromText(text).stringValue()) {}

OSCAddressPattern::OSCAddressPattern(std::string&& text) {
    if (isPlainASCII(text))
        rawAddress_ = std::move(text);
    else
        rawAddress_ = ASCIIString::asciiStringFromText(text).stringValue();
}

nlohmann::json OSCAddressPattern::toJSON() const {
    return rawAddress_;
}

OSCAddressPattern OSCAddressPattern::fromJSON(const nlohmann::json& json) {
    return OSCAddressPattern(json.get<std::string>());
}

// MARK: - Tokeniser

std::optional<std::pair<std::string_view, std::string_view>> OSCAddressPattern::findBracketedRange(
    std::string_view closing, std::size_t position, std::string_view text) {
    if (position >= text.size()) return std::nullopt;
    GraphemeClusters chars(text.substr(position));
    for (std::size_t i = 1; i < chars.count(); ++i) {
        if (chars.at(i) != closing) continue;
        std::string_view bracketed = text.substr(position, chars.offset(i + 1));
        if (i + 1 < 3) return std::pair{bracketed, std::string_view{}};
        std::size_t innerStart = chars.offset(1);
        return std::pair{bracketed,
                         text.substr(position + innerStart, chars.offset(i) - innerStart)};
    }
    return std::nullopt;
}

std::vector<Token> OSCAddressPattern::tokenize(std::string_view component) {
    std::vector<Token> tokens;
    if (component.empty()) return tokens;
    GraphemeClusters chars(component);
    const std::size_t n = chars.count();

    // Index of the next "]" / "}" at or after each position, so that an unmatched opener costs
    // nothing more than a lookup.
    std::vector<std::uint32_t> nextBracket(n + 1, static_cast<std::uint32_t>(n));
    std::vector<std::uint32_t> nextBrace(n + 1, static_cast<std::uint32_t>(n));
    for (std::size_t i = n; i-- > 0;) {
        nextBracket[i] = chars.at(i) == "]" ? static_cast<std::uint32_t>(i) : nextBracket[i + 1];
        nextBrace[i] = chars.at(i) == "}" ? static_cast<std::uint32_t>(i) : nextBrace[i + 1];
    }

    std::size_t runStart = 0, runEnd = 0;  // byte range of the pending literal run
    auto flush = [&] {
        if (runEnd > runStart)
            tokens.push_back(
                Token::literal(std::string(component.substr(runStart, runEnd - runStart))));
    };
    auto startAfter = [&](std::size_t i) { runStart = runEnd = chars.offset(i); };

    std::size_t i = 0;
    while (i < n) {
        std::string_view c = chars.at(i);
        if (c == "*") {
            flush();
            if (tokens.empty() || tokens.back().kind() != Token::Kind::zeroOrMoreWildcard)
                tokens.push_back(Token::zeroOrMoreWildcard());
            startAfter(++i);
            continue;
        }
        if (c == "?") {
            flush();
            tokens.push_back(Token::singleCharWildcard());
            startAfter(++i);
            continue;
        }
        if (c == "[" || c == "{") {
            std::size_t close = c == "[" ? nextBracket[i + 1] : nextBrace[i + 1];
            if (close < n) {
                std::size_t innerStart = chars.offset(i + 1), innerEnd = chars.offset(close);
                std::string_view inner = component.substr(innerStart, innerEnd - innerStart);
                flush();
                if (c == "[") {
                    auto [isExclusion, groups] = Token::parseCharacterGroup(inner);
                    tokens.push_back(Token::singleChar(isExclusion, std::move(groups)));
                } else {
                    tokens.push_back(Token::strings(Token::parseStringAlternatives(inner)));
                }
                i = close + 1;
                startAfter(i);
                continue;
            }
        }
        runEnd = chars.offset(++i);
    }
    flush();
    return tokens;
}

std::pair<bool, std::set<CharacterGroup>> Token::parseCharacterGroup(std::string_view inner) {
    std::set<CharacterGroup> groups;
    if (inner.empty()) return {false, groups};
    GraphemeClusters chars(inner);
    std::size_t i = 0;
    bool isExclusion = false;
    if (chars.at(0) == "!") {
        isExclusion = true;
        i = 1;
    }
    // Each "-" is, in turn, the first dash of what is left: at either end it only notes that a
    // dash was seen; inside it joins the character before and after it into a range. The
    // characters before it are never dashes, so one pass does it.
    std::vector<std::string_view> kept;
    bool dashSeen = false;
    const std::size_t n = chars.count();
    while (i < n) {
        std::string_view c = chars.at(i);
        if (c != "-") {
            kept.push_back(c);
            ++i;
            continue;
        }
        if (kept.empty() || i + 1 == n) {
            dashSeen = true;
            ++i;
            continue;
        }
        groups.insert(
            CharacterGroup::asciiRange(std::string(kept.back()), std::string(chars.at(i + 1))));
        kept.pop_back();
        i += 2;
    }
    for (std::string_view c : kept) groups.insert(CharacterGroup::single(std::string(c)));
    if (dashSeen) groups.insert(CharacterGroup::single("-"));
    return {isExclusion, groups};
}

std::set<std::string> Token::parseStringAlternatives(std::string_view inner) {
    std::set<std::string> alternatives;
    std::size_t start = 0;
    while (start <= inner.size()) {
        std::size_t comma = inner.find(',', start);
        if (comma == std::string_view::npos) comma = inner.size();
        if (comma > start) alternatives.emplace(inner.substr(start, comma - start));
        start = comma + 1;
    }
    return alternatives;
}

// MARK: - Equality, hashing, text

bool CharacterGroup::accepts(std::string_view character) const {
    if (const Single* s = asSingle()) return s->character == character;
    const AsciiRange& r = std::get<AsciiRange>(value_);
    std::uint8_t c, lo, hi;
    if (!GraphemeClusters::asciiValue(character, &c) ||
        !GraphemeClusters::asciiValue(r.start, &lo) || !GraphemeClusters::asciiValue(r.end, &hi))
        return false;
    return lo <= c && c <= hi;
}

std::size_t CharacterGroup::hash() const {
    if (const Single* s = asSingle()) return combine(0, hashString(s->character));
    const AsciiRange& r = std::get<AsciiRange>(value_);
    return combine(combine(1, hashString(r.start)), hashString(r.end));
}

std::size_t Token::hash() const {
    std::size_t h = static_cast<std::size_t>(kind());
    switch (kind()) {
        case Kind::literal:
            return combine(h, hashString(asLiteral()->text));
        case Kind::singleChar: {
            const SingleChar& sc = *asSingleChar();
            h = combine(h, sc.isExclusion ? 1 : 0);
            for (const CharacterGroup& g : sc.groups) h = combine(h, g.hash());
            return h;
        }
        case Kind::strings:
            for (const std::string& s : asStrings()->strings) h = combine(h, hashString(s));
            return h;
        default:
            return combine(h, 0);
    }
}

std::string Token::description() const {
    switch (kind()) {
        case Kind::literal:
            return asLiteral()->text;
        case Kind::zeroOrMoreWildcard:
            return "*";
        case Kind::singleCharWildcard:
            return "?";
        case Kind::singleChar: {
            const SingleChar& sc = *asSingleChar();
            std::string text = sc.isExclusion ? "[!" : "[";
            for (const CharacterGroup& g : sc.groups) {
                if (const CharacterGroup::Single* s = g.asSingle())
                    text += s->character;
                else
                    text += g.asAsciiRange()->start + "-" + g.asAsciiRange()->end;
            }
            return text + "]";
        }
        case Kind::strings: {
            std::string text = "{";
            bool first = true;
            for (const std::string& s : asStrings()->strings) {
                if (!first) text += ",";
                text += s;
                first = false;
            }
            return text + "}";
        }
    }
    return {};
}

std::size_t OSCAddressPattern::Component::hash() const {
    std::size_t h = tokens.size();
    for (const Token& t : tokens) h = combine(h, t.hash());
    return h;
}

}  // namespace rozuri
