#include <gtest/gtest.h>

#include "osc/core/TextUtilities.h"

using namespace rozuri;

namespace {

TEST(TextUtilitiesTest, AddressPathComponents) {
    struct Case {
        std::string address;
        std::vector<std::string> components;
    };
    const Case cases[] = {
        {"", {}},
        {"/", {}},
        {"//", {}},
        {"///", {"", ""}},
        {"/a", {"a"}},
        {"a", {"a"}},
        {"/a/", {"a"}},
        {"a/b", {"a", "b"}},
        {"/a//b/", {"a", "", "b"}},
        {"//a", {"", "a"}},
        {"/a/b//", {"a", "b", ""}},
        {"/caf\xC3\xA9/x", {"caf\xC3\xA9", "x"}},
        // A slash carrying a combining accent is not a separator.
        {"/a/\xCC\x81"
         "b",
         {"a/\xCC\x81"
          "b"}},
    };
    for (const auto& c : cases) {
        auto parts = addressPathComponents(c.address);
        std::vector<std::string> got(parts.begin(), parts.end());
        EXPECT_EQ(got, c.components) << c.address;
    }
}

TEST(TextUtilitiesTest, ComponentsAreViewsIntoTheAddress) {
    std::string address = "/x/yz";
    auto parts = addressPathComponents(address);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[1].data(), address.data() + 3);
}

TEST(TextUtilitiesTest, IsASCIICharacter) {
    struct Case {
        std::string character;
        bool ascii;
    };
    const Case cases[] = {{"A", true},         {"\t", true},        {std::string(1, '\0'), true},
                          {"\x7F", true},      {"\r\n", true},      {"\r", true},
                          {"\xC3\xA9", false}, {"e\xCC\x81", false}};
    for (const auto& c : cases) EXPECT_EQ(isASCIICharacter(c.character), c.ascii) << c.character;
    EXPECT_TRUE(isASCIIText(""));
    EXPECT_TRUE(isASCIIText("a\r\nb"));
    EXPECT_FALSE(isASCIIText("caf\xC3\xA9"));
}

TEST(TextUtilitiesTest, FirstUnicodeScalar) {
    EXPECT_FALSE(firstUnicodeScalar(""));
    EXPECT_EQ(firstUnicodeScalar("\r\n"), U'\r');
    EXPECT_EQ(firstUnicodeScalar("\xC3\xA9x"), U'\u00E9');
    EXPECT_EQ(firstUnicodeScalar("\xF0\x9F\x98\x80"), U'\U0001F600');
}

TEST(TextUtilitiesTest, CharacterSetMembership) {
    CharacterSet empty;
    EXPECT_TRUE(consistsOfCharacters("", empty));
    EXPECT_FALSE(consistsOfCharacters("a", empty));
    std::vector<std::string> none;
    EXPECT_TRUE(allConsistOfCharacters(none, "abc"));
    EXPECT_FALSE(anyConsistsOfCharacters(none, "abc"));
    std::vector<std::string> emptyText = {""};
    EXPECT_TRUE(anyConsistsOfCharacters(emptyText, "abc"));
    std::vector<std::string> texts = {"cab", ""};
    EXPECT_TRUE(allConsistOfCharacters(texts, "abc"));
    texts.push_back("abd");
    EXPECT_FALSE(allConsistOfCharacters(texts, "abc"));
    EXPECT_TRUE(anyConsistsOfCharacters(texts, "abc"));
    // Membership goes by scalar: e plus a combining accent needs both scalars.
    std::vector<std::string> accented = {"e\xCC\x81"};
    EXPECT_FALSE(allConsistOfCharacters(accented, "e"));
    CharacterSet e(std::vector<std::string>{"e"});
    CharacterSet accent(std::vector<std::string>{"\xCC\x81"});
    std::vector<CharacterSet> more = {accent};
    EXPECT_TRUE(allConsistOfCharacters(accented, e, more));
    EXPECT_TRUE(anyConsistsOfCharacters(accented, e, more));
}

TEST(TextUtilitiesTest, TrimAndQuote) {
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \ta b\n"), "a b");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xC2\xA0x\xE2\x80\xA8"), "x");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(quoted(""), "\"\"");
    EXPECT_EQ(quoted("a\"b"), "\"a\"b\"");
}

TEST(TextUtilitiesTest, CharacterPrefixAndSuffix) {
    EXPECT_TRUE(hasCharacterPrefix("abc", ""));
    EXPECT_TRUE(hasCharacterPrefix("abc", "ab"));
    EXPECT_FALSE(hasCharacterPrefix("ab", "abc"));
    EXPECT_FALSE(hasCharacterPrefix("\r\nx", "\r"));  // CR LF is one character
    EXPECT_TRUE(hasCharacterSuffix("abc", "bc"));
    EXPECT_FALSE(hasCharacterSuffix("x\r\n", "\n"));
    EXPECT_TRUE(hasCharacterPrefix("caf\xC3\xA9", "cafe\xCC\x81"));  // canonical equivalence
    EXPECT_FALSE(hasCharacterPrefix("e\xCC\x81", "e"));
}

TEST(TextUtilitiesTest, DataPrefix) {
    struct Case {
        Data bytes;
        Data prefix;
        bool result;
    };
    const Case cases[] = {
        {{0x2F, 0x61}, {0x2F}, true},
        {{}, {0x2F}, false},
        {{1, 2}, {}, true},
        {{}, {}, true},
        {{1, 2, 3, 4}, {1, 2, 3, 4, 5, 6, 7, 8}, false},
        {{1, 2}, {1, 3}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(dataHasPrefix(c.bytes, c.prefix), c.result);
    EXPECT_EQ(dataFromByte(0x2F), Data{0x2F});
    EXPECT_EQ(dataFromBytes(std::vector<std::uint8_t>{}), Data{});
}

}  // namespace
