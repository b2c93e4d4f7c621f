#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "osc/core/ASCIIString.h"
#include "osc/core/DecodingError.h"

using namespace rozuri;

namespace {

const std::string nul(1, '\0');

TEST(ASCIIStringTest, PlainConstructorAndLossyConversion) {
    struct Case {
        std::string input;
        std::string plainText;
        Data plainBytes;
        std::string lossy;
    };
    const Case cases[] = {
        {"", "", {}, ""},
        {"abc", "abc", {0x61, 0x62, 0x63}, "abc"},
        {"a\tb", "a\tb", {0x61, 0x09, 0x62}, "a?b"},
        {"a\nb", "a\nb", {0x61, 0x0A, 0x62}, "a?b"},
        {"a\r\nb", "a\r\nb", {0x61, 0x0D, 0x0A, 0x62}, "a??b"},
        {"a" + nul + "b", "a" + nul + "b", {0x61, 0x00, 0x62}, "a?b"},
        {"\x7F", "\x7F", {0x7F}, "?"},
        {"caf\xC3\xA9", "cafe", {'c', 'a', 'f', 'e'}, "cafe"},
        {"caf\xC3\xA9\t", "cafe?", {'c', 'a', 'f', 'e', '?'}, "cafe?"},
        {"\xE6\xBC\xA2\xE5\xAD\x97", "??", {'?', '?'}, "??"},
        {"\xC3\x9F", "ss", {'s', 's'}, "ss"},
    };
    for (const auto& c : cases) {
        auto plain = ASCIIString::asciiStringFromText(c.input);
        EXPECT_EQ(plain.stringValue(), c.plainText) << c.input;
        EXPECT_EQ(plain.rawData(), c.plainBytes) << c.input;
        auto lossy = ASCIIString::lossyASCIIConversion(c.input);
        EXPECT_EQ(lossy.stringValue(), c.lossy) << c.input;
        EXPECT_EQ(lossy.rawData(), Data(c.lossy.begin(), c.lossy.end())) << c.input;
    }
}

TEST(ASCIIStringTest, ExactConversion) {
    ASSERT_TRUE(ASCIIString::exactASCIIConversion(""));
    EXPECT_TRUE(ASCIIString::exactASCIIConversion("")->rawData().empty());
    EXPECT_EQ(ASCIIString::exactASCIIConversion("a\tb")->stringValue(), "a\tb");
    EXPECT_FALSE(ASCIIString::exactASCIIConversion("caf\xC3\xA9"));
}

TEST(ASCIIStringTest, ExactAndLossyCharacters) {
    auto crlf = ASCIICharacter::exactASCIICharacter(*Character::fromText("\r\n"));
    ASSERT_TRUE(crlf);
    EXPECT_EQ(crlf->asciiValue(), 10);
    EXPECT_EQ(crlf->characterValue().text(), "\r\n");
    EXPECT_FALSE(ASCIICharacter::exactASCIICharacter(*Character::fromText("e\xCC\x81")));
    EXPECT_FALSE(ASCIICharacter::exactASCIICharacter(std::string_view("")));
    EXPECT_FALSE(ASCIICharacter::exactASCIICharacter(std::string_view("ab")));

    struct Case {
        std::string input;
        std::string text;
        std::uint8_t code;
    };
    const Case lossy[] = {
        {"", "?", 63},
        {"ab", "a", 97},
        {"\t", "\t", 9},
        {"\xC3\xA9", "e", 101},
        {"\xE6\xBC\xA2", "?", 63},
        {"\xC3\x9F", "s", 115},  // several letters keep the first
    };
    for (const auto& c : lossy) {
        auto a = ASCIICharacter::lossyASCIICharacter(std::string_view(c.input));
        EXPECT_EQ(a.characterValue().text(), c.text) << c.input;
        EXPECT_EQ(a.asciiValue(), c.code) << c.input;
    }
}

TEST(ASCIIStringTest, CharacterFromCode) {
    EXPECT_FALSE(ASCIICharacter::asciiCharacterFromCode(-1));
    EXPECT_FALSE(ASCIICharacter::asciiCharacterFromCode(256));
    EXPECT_FALSE(ASCIICharacter::asciiCharacterFromCode(200));
    EXPECT_EQ(ASCIICharacter::asciiCharacterFromCode(65)->characterValue().text(), "A");
    EXPECT_EQ(ASCIICharacter::asciiCharacterFromCode(std::uint64_t{92})->asciiValue(), 92);
    EXPECT_FALSE(ASCIICharacter::asciiCharacterFromByte(Data{}));
    EXPECT_FALSE(ASCIICharacter::asciiCharacterFromByte(Data{0x41, 0x42}));
}

TEST(ASCIIStringTest, CharacterDescriptions) {
    struct Case {
        ASCIICharacter c;
        std::string description;
        std::string debug;
    };
    const Case cases[] = {
        {'A', "A", "ASCIICharacter(#65: \"A\")"},    {'\t', "?", "ASCIICharacter(#9: \"?\")"},
        {"\r\n", "?", "ASCIICharacter(#10: \"?\")"}, {' ', " ", "ASCIICharacter(#32: \" \")"},
        {'~', "~", "ASCIICharacter(#126: \"~\")"},   {'\x7F', "?", "ASCIICharacter(#127: \"?\")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.c.description(), c.description);
        EXPECT_EQ(c.c.debugDescription(), c.debug);
    }
}

TEST(ASCIIStringTest, CharacterEqualityGoesByCode) {
    ASCIICharacter crlf("\r\n");
    ASCIICharacter lf('\n');
    EXPECT_EQ(crlf, lf);
    EXPECT_EQ(crlf.hash(), lf.hash());
    EXPECT_FALSE(crlf == Character('\n'));
    EXPECT_TRUE(lf == Character('\n'));
}

TEST(ASCIIStringTest, StringEqualityNeedsTextAndBytes) {
    auto plain = ASCIIString::asciiStringFromText("A");
    auto escaped = ASCIIString::asciiStringFromData(Data{0x5C, 0x75, 0x30, 0x30, 0x34, 0x31});
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->stringValue(), "A");
    EXPECT_EQ(escaped->rawData().size(), 6u);
    EXPECT_FALSE(plain == *escaped);
    EXPECT_TRUE(plain == "A");
    EXPECT_TRUE(*escaped == "A");
    EXPECT_FALSE(ASCIIString::asciiStringFromData(Data{0x80}));
    EXPECT_FALSE(
        ASCIIString::asciiStringFromData(Data{'\\', 'u', '0', '0', 'e', '9'}));  // not ASCII
    EXPECT_EQ(ASCIIString("abc").description(), "abc");
    EXPECT_EQ(ASCIIString("abc").debugDescription(), "ASCIIString(\"abc\")");
    EXPECT_EQ(ASCIIString("abc").hash(), ASCIIString(std::string("abc")).hash());
}

TEST(ASCIIStringTest, JoinAndConcatenate) {
    std::vector<ASCIIString> parts = {"a", "b", "c"};
    auto joined = ASCIIString::joinedASCIIString(parts, ASCIIString("-"));
    EXPECT_EQ(joined.stringValue(), "a-b-c");
    EXPECT_EQ(joined.rawData(), (Data{0x61, 0x2D, 0x62, 0x2D, 0x63}));
    EXPECT_EQ(ASCIIString::joinedASCIIString(std::vector<ASCIIString>{}), ASCIIString());
    EXPECT_EQ(ASCIIString::joinedASCIIString(parts).stringValue(), "abc");
    std::vector<ASCIICharacter> chars = {'x', 'y'};
    EXPECT_EQ(ASCIIString::joinedASCIIString(chars, ASCIIString(", ")).stringValue(), "x, y");
    EXPECT_EQ(ASCIIString::asciiStringFromCharacters(chars).rawData(), (Data{'x', 'y'}));

    auto fromChar = ASCIIString::asciiStringFromCharacter(ASCIICharacter("\r\n"));
    EXPECT_EQ(fromChar.stringValue(), "\r\n");
    EXPECT_EQ(fromChar.rawData(), Data{0x0A});
    EXPECT_FALSE(fromChar == ASCIIString::asciiStringFromText("\r\n"));

    auto sum = ASCIICharacter('a') + ASCIIString("bc") + ASCIICharacter('d');
    EXPECT_EQ(sum, ASCIIString("abcd"));
    EXPECT_EQ((ASCIICharacter('x') + ASCIICharacter('y')).rawData(), (Data{'x', 'y'}));
}

TEST(ASCIIStringTest, KeyedCoding) {
    EXPECT_EQ(ASCIIString::fromJSON(ASCIIString("a\tb").toJSON()), ASCIIString("a\tb"));
    EXPECT_EQ(ASCIICharacter::fromJSON(ASCIICharacter('q').toJSON()), ASCIICharacter('q'));
    for (const char* bad : {"ab", "", "\xC3\xA9"}) {
        try {
            ASCIICharacter::fromJSON(nlohmann::json(bad), {"key"});
            ADD_FAILURE() << bad;
        } catch (const DecodingError& e) {
            EXPECT_EQ(e.kind(), DecodingError::Kind::dataCorrupted);
            EXPECT_EQ(e.debugDescription(), "Value was not valid ASCII character number.");
            EXPECT_EQ(e.codingPath(), std::vector<std::string>{"key"});
        }
    }
    try {
        ASCIIString::fromJSON(nlohmann::json("caf\xC3\xA9"));
        ADD_FAILURE();
    } catch (const DecodingError& e) {
        EXPECT_EQ(e.debugDescription(), "Encoded string is not a valid ASCII string.");
    }
    EXPECT_THROW(ASCIIString::fromJSON(nlohmann::json(3)), DecodingError);
}

}  // namespace
