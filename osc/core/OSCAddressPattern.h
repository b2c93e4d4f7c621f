#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace rozuri {

// An OSC address or address pattern, held as ASCII text. Equality and hashing look at the text
// alone; wildcards are not evaluated by ==. The parsed form is made only when matching.
class OSCAddressPattern {
  public:
    // One "/"-separated part of a pattern, as tokens.
    class Component {
      public:
        // One token of a pattern component.
        class Token {
          public:
            // One member of a '[...]' group: a single character or an ASCII range. Characters are
            // one grapheme cluster each, as UTF-8 text.
            class CharacterGroup {
              public:
                struct Single {
                    std::string character;
                    friend auto operator<=>(const Single&, const Single&) = default;
                };
                struct AsciiRange {
                    std::string start;
                    std::string end;
                    friend auto operator<=>(const AsciiRange&, const AsciiRange&) = default;
                };

                static CharacterGroup single(std::string character) {
                    return CharacterGroup(Single{std::move(character)});
                }
                static CharacterGroup asciiRange(std::string start, std::string end) {
                    return CharacterGroup(AsciiRange{std::move(start), std::move(end)});
                }

                const Single* asSingle() const { return std::get_if<Single>(&value_); }
                const AsciiRange* asAsciiRange() const { return std::get_if<AsciiRange>(&value_); }

                // Whether the group takes this one character.
                bool accepts(std::string_view character) const;

                std::size_t hash() const;
                friend auto operator<=>(const CharacterGroup&, const CharacterGroup&) = default;
                friend bool operator==(const CharacterGroup&, const CharacterGroup&) = default;

              private:
                explicit CharacterGroup(std::variant<Single, AsciiRange> value)
                    : value_(std::move(value)) {}
                std::variant<Single, AsciiRange> value_;
            };

            enum class Kind {
                literal = 0,
                zeroOrMoreWildcard,
                singleCharWildcard,
                singleChar,
                strings
            };

            struct Literal {
                std::string text;
                friend bool operator==(const Literal&, const Literal&) = default;
            };
            struct ZeroOrMoreWildcard {
                friend bool operator==(const ZeroOrMoreWildcard&,
                                       const ZeroOrMoreWildcard&) = default;
            };
            struct SingleCharWildcard {
                friend bool operator==(const SingleCharWildcard&,
                                       const SingleCharWildcard&) = default;
            };
            struct SingleChar {
                bool isExclusion = false;
                std::set<CharacterGroup> groups;
                friend bool operator==(const SingleChar&, const SingleChar&) = default;
            };
            struct Strings {
                std::set<std::string> strings;
                friend bool operator==(const Strings&, const Strings&) = default;
            };

            static Token literal(std::string text) { return Token(Literal{std::move(text)}); }
            static Token zeroOrMoreWildcard() { return Token(ZeroOrMoreWildcard{}); }
            static Token singleCharWildcard() { return Token(SingleCharWildcard{}); }
            static Token singleChar(bool isExclusion, std::set<CharacterGroup> groups) {
                return Token(SingleChar{isExclusion, std::move(groups)});
            }
            static Token strings(std::set<std::string> alternatives) {
                return Token(Strings{std::move(alternatives)});
            }

            Kind kind() const { return static_cast<Kind>(value_.index()); }
            const Literal* asLiteral() const { return std::get_if<Literal>(&value_); }
            const SingleChar* asSingleChar() const { return std::get_if<SingleChar>(&value_); }
            const Strings* asStrings() const { return std::get_if<Strings>(&value_); }

            std::size_t hash() const;
            std::string description() const;
            friend bool operator==(const Token&, const Token&) = default;

            // The parts of '[...]' and '{...}'.
            static std::pair<bool, std::set<CharacterGroup>> parseCharacterGroup(
                std::string_view inner);
            static std::set<std::string> parseStringAlternatives(std::string_view inner);

          private:
            using Value =
                std::variant<Literal, ZeroOrMoreWildcard, SingleCharWildcard, SingleChar, Strings>;
            explicit Token(Value value) : value_(std::move(value)) {}
            Value value_;
        };

        Component() = default;
        explicit Component(std::vector<Token> tokens) : tokens(std::move(tokens)) {}

        std::vector<Token> tokens;

        std::size_t hash() const;
        friend bool operator==(const Component&, const Component&) = default;
    };

    OSCAddressPattern() : OSCAddressPattern(std::string_view{}) {}
    // Text that is not pure ASCII is stored in its lossy ASCII form.
    explicit OSCAddressPattern(std::string_view text);
    OSCAddressPattern(const char* text) : OSCAddressPattern(std::string_view(text)) {}
    OSCAddressPattern(const std::string& text) : OSCAddressPattern(std::string_view(text)) {}
    OSCAddressPattern(std::string&& text);

    // Text a decoder has already found to be ASCII: taken as it is, without a second look.
    class ASCIIKey {
        ASCIIKey() = default;
        friend class OSCMessage;
    };
    OSCAddressPattern(ASCIIKey, std::string_view asciiText) : rawAddress_(asciiText) {}

    // "/" followed by the components joined with "/" ("/" for none).
    template <typename Range>
    static OSCAddressPattern fromPathComponents(const Range& components) {
        std::string text = "/";
        bool first = true;
        for (const auto& c : components) {
            if (!first) text += '/';
            text += std::string_view(c);
            first = false;
        }
        return OSCAddressPattern(text);
    }
    static OSCAddressPattern fromPathComponents(
        std::initializer_list<std::string_view> components) {
        return fromPathComponents<std::initializer_list<std::string_view>>(components);
    }

    const std::string& rawAddress() const { return rawAddress_; }
    // The ASCII bytes of rawAddress: the text is ASCII, so they are its bytes.
    std::span<const std::uint8_t> rawData() const {
        return {reinterpret_cast<const std::uint8_t*>(rawAddress_.data()), rawAddress_.size()};
    }
    const std::string& description() const { return rawAddress_; }

    // Keyed coding: the text as a JSON string; decoding converts as from text. Errors of the
    // JSON value (not a string) pass through.
    nlohmann::json toJSON() const;
    static OSCAddressPattern fromJSON(const nlohmann::json& json);

    friend bool operator==(const OSCAddressPattern& a, const OSCAddressPattern& b) {
        return a.rawAddress_ == b.rawAddress_;
    }

    // Splits one component (text without "/") into tokens. Linear in the text; never fails.
    static std::vector<Component::Token> tokenize(std::string_view component);

    // From the opening character at `position` in `text`, the first `closing` after it: the
    // bracketed text (opening through closing) and the inner text, or nothing.
    static std::optional<std::pair<std::string_view, std::string_view>> findBracketedRange(
        std::string_view closing, std::size_t position, std::string_view text);

  private:
    std::string rawAddress_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCAddressPattern> {
    std::size_t operator()(const rozuri::OSCAddressPattern& p) const noexcept {
        return std::hash<std::string>{}(p.rawAddress());
    }
};
template <>
struct std::hash<rozuri::OSCAddressPattern::Component::Token> {
    std::size_t operator()(const rozuri::OSCAddressPattern::Component::Token& t) const noexcept {
        return t.hash();
    }
};
template <>
struct std::hash<rozuri::OSCAddressPattern::Component::Token::CharacterGroup> {
    std::size_t operator()(
        const rozuri::OSCAddressPattern::Component::Token::CharacterGroup& g) const noexcept {
        return g.hash();
    }
};
template <>
struct std::hash<rozuri::OSCAddressPattern::Component> {
    std::size_t operator()(const rozuri::OSCAddressPattern::Component& c) const noexcept {
        return c.hash();
    }
};
