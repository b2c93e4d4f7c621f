// Matches a fuzzed pattern against a fuzzed address (the input split at its first NUL). For
// short printable inputs the result is checked against a plain backtracking matcher.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "osc/core/OSCAddressSpace.h"
#include "osc/core/OSCPatternMatching.h"

namespace {

using namespace rozuri;
using Token = OSCAddressPattern::Component::Token;

bool printable(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

// Reference: try every way, one byte per character (printable ASCII only).
bool reference(const std::vector<Token>& tokens, std::size_t t, std::string_view text,
               std::size_t p) {
    if (t == tokens.size()) return p == text.size();
    const Token& token = tokens[t];
    std::string_view rest = text.substr(p);
    switch (token.kind()) {
        case Token::Kind::literal: {
            const std::string& l = token.asLiteral()->text;
            return rest.substr(0, l.size()) == l && reference(tokens, t + 1, text, p + l.size());
        }
        case Token::Kind::zeroOrMoreWildcard:
            for (std::size_t n = 0; n <= rest.size(); ++n)
                if (reference(tokens, t + 1, text, p + n)) return true;
            return false;
        case Token::Kind::singleCharWildcard:
            return !rest.empty() && reference(tokens, t + 1, text, p + 1);
        case Token::Kind::singleChar: {
            if (rest.empty()) return false;
            const Token::SingleChar& sc = *token.asSingleChar();
            bool any = false;
            for (const auto& g : sc.groups) any = any || g.accepts(rest.substr(0, 1));
            return any != sc.isExclusion && reference(tokens, t + 1, text, p + 1);
        }
        case Token::Kind::strings: {
            const auto& alternatives = token.asStrings()->strings;
            if (alternatives.empty()) return reference(tokens, t + 1, text, p);
            for (const std::string& a : alternatives)
                if (rest.substr(0, a.size()) == a && reference(tokens, t + 1, text, p + a.size()))
                    return true;
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find('\0');
    std::string_view patternText = input.substr(0, split);
    std::string_view address =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    OSCAddressPattern pattern(patternText);
    bool whole = matchesAddress(pattern, address);
    (void)whole;

    std::vector<OSCAddressPattern::Component> components =
        tokenizedComponents(pattern.rawAddress());
    if (!components.empty() && printable(address) && address.size() <= 12 &&
        address.find('/') == std::string_view::npos) {
        for (const auto& component : components) {
            if (component.tokens.size() > 8) continue;
            bool fast = matchComponent(address, component);
            if (fast != reference(component.tokens, 0, address, 0)) {
                std::fprintf(stderr, "fuzz_osc_pattern: matcher and reference disagree\n");
                std::abort();
            }
        }
    }

    // The address space walks its tree with the same matcher.
    static std::shared_ptr<OSCAddressSpace> space = [] {
        auto s = OSCAddressSpace::create();
        for (const char* a : {"/a/b", "/a/c", "/x/y/z", "/a", "/mantleshade/show", "/b/*"})
            s->registerMethod(a, {});
        return s;
    }();
    (void)space->methodIDs(pattern);
    return 0;
}
