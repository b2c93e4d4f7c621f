#include "osc/core/OSCPatternMatching.h"

#include <algorithm>

#include "osc/core/GraphemeClusters.h"

namespace rozuri {

namespace {

using Token = OSCAddressPattern::Component::Token;

// "/a/b/" -> ["a", "b"]: one leading and one trailing "/" dropped, empty pieces kept.
std::vector<std::string_view> pathComponents(std::string_view text) {
    std::vector<std::string_view> parts;
    if (!text.empty() && text.front() == '/') text.remove_prefix(1);
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    if (text.empty()) return parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = text.find('/', start);
        if (slash == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
}

// Characters taken by `prefix` at character `p` of `chars`, or npos when the text there does
// not begin with it character by character.
std::size_t prefixLength(const GraphemeClusters& chars, std::size_t p, std::string_view prefix) {
    std::string_view rest = chars.text().substr(chars.offset(p));
    if (rest.size() < prefix.size() || rest.compare(0, prefix.size(), prefix) != 0)
        return GraphemeClusters::npos;
    std::size_t end = chars.indexAtOffset(chars.offset(p) + prefix.size());
    return end == GraphemeClusters::npos ? end : end - p;
}

bool singleCharAccepts(const Token::SingleChar& token, std::string_view character) {
    bool any = std::any_of(token.groups.begin(), token.groups.end(),
                           [&](const Token::CharacterGroup& g) { return g.accepts(character); });
    return any != token.isExclusion;
}

}  // namespace

std::vector<OSCAddressPattern::Component> tokenizedComponents(std::string_view patternText) {
    std::vector<OSCAddressPattern::Component> components;
    for (std::string_view part : pathComponents(patternText))
        components.emplace_back(OSCAddressPattern::tokenize(part));
    return components;
}

bool matchComponent(std::string_view text, const OSCAddressPattern::Component& component) {
    const std::vector<Token>& tokens = component.tokens;
    if (tokens.empty()) return text.empty();
    if (tokens.size() == 1) {
        if (const Token::Literal* literal = tokens[0].asLiteral()) return text == literal->text;
        if (tokens[0].kind() == Token::Kind::zeroOrMoreWildcard) return true;
    }

    GraphemeClusters chars(text);
    const std::size_t n = chars.count();
    // reach[p]: the tokens so far can take exactly the first p characters.
    std::vector<char> reach(n + 1, 0), next(n + 1, 0);
    reach[0] = 1;
    for (const Token& token : tokens) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        auto mark = [&](std::size_t q) {
            next[q] = 1;
            any = true;
        };
        switch (token.kind()) {
            case Token::Kind::zeroOrMoreWildcard: {
                auto first = std::find(reach.begin(), reach.end(), 1);
                for (auto it = first; it != reach.end(); ++it)
                    mark(static_cast<std::size_t>(it - reach.begin()));
                break;
            }
            case Token::Kind::singleCharWildcard:
                for (std::size_t p = 0; p < n; ++p)
                    if (reach[p]) mark(p + 1);
                break;
            case Token::Kind::singleChar: {
                const Token::SingleChar& sc = *token.asSingleChar();
                for (std::size_t p = 0; p < n; ++p)
                    if (reach[p] && singleCharAccepts(sc, chars.at(p))) mark(p + 1);
                break;
            }
            case Token::Kind::literal: {
                const std::string& literal = token.asLiteral()->text;
                for (std::size_t p = 0; p <= n; ++p) {
                    if (!reach[p]) continue;
                    std::size_t len = prefixLength(chars, p, literal);
                    if (len != GraphemeClusters::npos) mark(p + len);
                }
                break;
            }
            case Token::Kind::strings: {
                const std::set<std::string>& alternatives = token.asStrings()->strings;
                if (alternatives.empty()) {
                    // Takes no characters and always matches.
                    next = reach;
                    any = true;
                    break;
                }
                for (std::size_t p = 0; p <= n; ++p) {
                    if (!reach[p]) continue;
                    for (const std::string& alternative : alternatives) {
                        std::size_t len = prefixLength(chars, p, alternative);
                        if (len != GraphemeClusters::npos) mark(p + len);
                    }
                }
                break;
            }
        }
        if (!any) return false;
        reach.swap(next);
    }
    return reach[n] != 0;
}

bool matchesAddress(const OSCAddressPattern& pattern, std::string_view address) {
    std::vector<OSCAddressPattern::Component> components =
        tokenizedComponents(pattern.rawAddress());
    if (components.empty()) return false;
    std::vector<std::string_view> parts = pathComponents(address);
    if (parts.size() != components.size()) return false;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!matchComponent(parts[i], components[i])) return false;
    return true;
}

}  // namespace rozuri
