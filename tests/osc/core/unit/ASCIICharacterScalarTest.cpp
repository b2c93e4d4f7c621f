#include <gtest/gtest.h>

#include <string>

#include "osc/core/ASCIICharacter.h"

namespace rozuri {
namespace {

// Unicode-scalar literals go through the lossy conversion, like character literals.
TEST(ASCIICharacterScalar, LiteralsConvertLossily) {
    struct Case {
        char32_t scalar;
        std::uint8_t code;
        std::string text;
    };
    const Case cases[] = {
        {U'A', 65, "A"},
        {U'\0', 0, std::string(1, '\0')},
        {U'\u00E9', 'e', "e"},
        {U'\u00DF', 's', "s"},
        {U'\u4E2D', '?', "?"},
        {U'\U0001F600', '?', "?"},
        {char32_t{0xD800}, '?', "?"},
        {char32_t{0x110000}, '?', "?"},
        {U'\x7F', 127, "\x7F"},
    };
    for (const Case& c : cases) {
        ASCIICharacter ch(c.scalar);
        EXPECT_EQ(ch.asciiValue(), c.code) << static_cast<unsigned>(c.scalar);
        EXPECT_EQ(ch.characterValue().text(), c.text);
        EXPECT_EQ(ch, ASCIICharacter::lossyASCIICharacter(ch.characterValue()));
    }
    EXPECT_EQ(ASCIICharacter(U'a'), ASCIICharacter('a'));
}

}  // namespace
}  // namespace rozuri
