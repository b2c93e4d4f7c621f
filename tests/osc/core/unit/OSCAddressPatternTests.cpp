#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "osc/core/OSCAddressPattern.h"

namespace rozuri {
namespace {

using Token = OSCAddressPattern::Component::Token;
using Group = Token::CharacterGroup;

std::string show(const std::vector<Token>& tokens) {
    std::string text;
    for (const Token& t : tokens) text += "<" + t.description() + ">";
    return text;
}

TEST(OSCAddressPattern, EqualityIsByTextAlone) {
    OSCAddressPattern show("/mantleshade/show");
    EXPECT_EQ(show, OSCAddressPattern("/mantleshade/show"));
    for (const char* other : {"/mantleshade/show/", "/mantleshade/SHOW", "/mantleshade/*"})
        EXPECT_NE(show, OSCAddressPattern(other)) << other;
    EXPECT_EQ(std::hash<OSCAddressPattern>{}(show),
              std::hash<OSCAddressPattern>{}(OSCAddressPattern("/mantleshade/show")));
}

TEST(OSCAddressPattern, TextBecomesASCII) {
    OSCAddressPattern plain("/a\r\nb");
    EXPECT_EQ(plain.rawAddress(), "/a\r\nb");
    EXPECT_EQ(plain.rawData().size(), 5u);

    OSCAddressPattern cafe("/caf\xC3\xA9");
    EXPECT_EQ(cafe.rawAddress(), "/cafe");
    EXPECT_EQ(cafe, OSCAddressPattern("/cafe\xCC\x81"));  // e + combining acute
    EXPECT_EQ(std::string(cafe.rawData().begin(), cafe.rawData().end()), "/cafe");
    OSCAddressPattern japanese("/\xE6\x97\xA5\xE6\x9C\xAC");
    for (unsigned char c : japanese.rawAddress()) EXPECT_LT(c, 0x80);
}

TEST(OSCAddressPattern, FromPathComponentsAndKeyedCoding) {
    EXPECT_EQ(OSCAddressPattern::fromPathComponents({"a", "b"}).rawAddress(), "/a/b");
    EXPECT_EQ(OSCAddressPattern::fromPathComponents(std::vector<std::string>{}).rawAddress(), "/");
    OSCAddressPattern p("/x/{a,b}");
    EXPECT_EQ(OSCAddressPattern::fromJSON(p.toJSON()).rawAddress(), "/x/{a,b}");
    EXPECT_EQ(OSCAddressPattern::fromJSON(nlohmann::json("/\xC3\xA9")).rawAddress(), "/e");
    EXPECT_THROW(OSCAddressPattern::fromJSON(nlohmann::json(3)), nlohmann::json::exception);
}

TEST(OSCAddressPattern, Tokenize) {
    struct Case {
        const char* text;
        const char* tokens;
    };
    const Case cases[] = {
        {"", ""},
        {"abc", "<abc>"},
        {"*", "<*>"},
        {"***", "<*>"},
        {"a**b", "<a><*><b>"},
        {"??", "<?><?>"},
        {"[]", "<[]>"},
        {"[!]", "<[!]>"},
        {"a[bc", "<a[bc>"},
        {"a{b", "<a{b>"},
        {"a[b}c", "<a[b}c>"},
        {"x]y", "<x]y>"},
        {"x}y", "<x}y>"},
        {"{a,,b}", "<{a,b}>"},
        {"{}", "<{}>"},
        {"{,}", "<{}>"},
        {"{a,{b}}", "<{a,{b}><}>"},
        {"a*?[xy]{p,q}z", "<a><*><?><[xy]><{p,q}><z>"},
        {"[[]", "<[[]>"},
        {"[a]]", "<[a]><]>"},
        {"{x}[", "<{x}><[>"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(show(OSCAddressPattern::tokenize(c.text)), c.tokens) << c.text;
}

TEST(OSCAddressPattern, CharacterGroups) {
    struct Case {
        const char* inner;
        bool exclusion;
        std::set<Group> groups;
    };
    const Case cases[] = {
        {"", false, {}},
        {"!", true, {}},
        {"a-z0-9", false, {Group::asciiRange("a", "z"), Group::asciiRange("0", "9")}},
        {"-az", false, {Group::single("a"), Group::single("z"), Group::single("-")}},
        {"az-", false, {Group::single("a"), Group::single("z"), Group::single("-")}},
        {"a-c-e", false, {Group::asciiRange("a", "c"), Group::single("e"), Group::single("-")}},
        {"a--b", false, {Group::asciiRange("a", "-"), Group::single("b")}},
        {"!a!", true, {Group::single("a"), Group::single("!")}},
        {"!-", true, {Group::single("-")}},
        {"--", false, {Group::single("-")}},
        {"z-a", false, {Group::asciiRange("z", "a")}},
    };
    for (const Case& c : cases) {
        auto [exclusion, groups] = Token::parseCharacterGroup(c.inner);
        EXPECT_EQ(exclusion, c.exclusion) << c.inner;
        EXPECT_EQ(groups, c.groups) << c.inner;
    }
}

TEST(OSCAddressPattern, Alternatives) {
    EXPECT_EQ(Token::parseStringAlternatives("a,,b"), (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(Token::parseStringAlternatives("a,a"), (std::set<std::string>{"a"}));
    EXPECT_TRUE(Token::parseStringAlternatives("").empty());
    EXPECT_TRUE(Token::parseStringAlternatives(",").empty());
}

TEST(OSCAddressPattern, FindBracketedRange) {
    auto r = OSCAddressPattern::findBracketedRange("]", 1, "x[ab]c");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, "[ab]");
    EXPECT_EQ(r->second, "ab");
    r = OSCAddressPattern::findBracketedRange("}", 0, "{}");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, "{}");
    EXPECT_EQ(r->second, "");
    EXPECT_FALSE(OSCAddressPattern::findBracketedRange("]", 0, "[abc"));
}

TEST(OSCAddressPattern, TokenEqualityAndHashing) {
    EXPECT_EQ(Token::strings({"a", "b"}), Token::strings({"b", "a"}));
    EXPECT_NE(Token::singleChar(true, {}), Token::singleChar(false, {}));
    EXPECT_NE(Token::literal("a"), Token::strings({"a"}));
    EXPECT_EQ(Token::strings({"a", "b"}).hash(), Token::strings({"b", "a"}).hash());
    OSCAddressPattern::Component a(OSCAddressPattern::tokenize("a*[b-c]"));
    OSCAddressPattern::Component b(OSCAddressPattern::tokenize("a**[b-c]"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.hash(), b.hash());
}

TEST(OSCAddressPattern, TokenizerIsLinearOnUnmatchedOpeners) {
    // 200,000 unmatched openers would take tens of billions of steps if each rescanned the rest.
    std::string text(200000, '[');
    text += std::string(200000, '{');
    std::vector<Token> tokens = OSCAddressPattern::tokenize(text);
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens[0].asLiteral()->text.size(), text.size());
}

}  // namespace
}  // namespace rozuri
