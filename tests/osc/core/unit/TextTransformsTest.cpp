#include <gtest/gtest.h>

#include "platform/foundation/TextTransforms.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

TEST(TextTransformsTest, NonLossyASCIIDecoding) {
    struct Case {
        std::string_view input;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        {"abc", "abc"},
        {"\\u0041", "A"},
        {"\\101", "A"},
        {"\\u00e9", "\xC3\xA9"},
        {"\\ud83d\\ude00", "\xF0\x9F\x98\x80"},
        {"\\", std::nullopt},
        {"\\u00", std::nullopt},
        {"\\x41", std::nullopt},
        {"\\ud83d", std::nullopt},
        {"\\ude00", std::nullopt},
        {"\x80", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(foundation::decodeNonLossyASCII(bytes(c.input)), c.text) << c.input;
    for (std::string_view text : {"plain", "back\\slash", "caf\xC3\xA9", "\xF0\x9F\x98\x80!"}) {
        auto encoded = foundation::encodeNonLossyASCII(text);
        for (auto b : encoded) EXPECT_LT(b, 0x80);
        EXPECT_EQ(foundation::decodeNonLossyASCII(encoded), std::string(text));
    }
}

TEST(TextTransformsTest, GraphemeClusters) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> clusters;
    };
    const Case cases[] = {
        {"", {}},
        {"ab", {"a", "b"}},
        {"a\r\nb", {"a", "\r\n", "b"}},
        {"e\xCC\x81x", {"e\xCC\x81", "x"}},
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"}},  // one flag
        {"\xFF"
         "a",
         {"\xFF", "a"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(foundation::graphemeClusters(c.text), c.clusters) << c.text;
    EXPECT_EQ(foundation::firstGraphemeCluster("e\xCC\x81x"), "e\xCC\x81");
    EXPECT_TRUE(foundation::isSingleGraphemeCluster("\r\n"));
    EXPECT_FALSE(foundation::isSingleGraphemeCluster("ab"));
}

TEST(TextTransformsTest, TransformsAndEquivalence) {
    EXPECT_EQ(foundation::applyingTransform("caf\xC3\xA9 \xC3\x9F", "Latin-ASCII"), "cafe ss");
    EXPECT_FALSE(foundation::applyingTransform("x", "No-Such-Transform"));
    EXPECT_TRUE(foundation::canonicallyEquivalent("\xC3\xA9", "e\xCC\x81"));
    EXPECT_FALSE(foundation::canonicallyEquivalent("e", "e\xCC\x81"));
    EXPECT_EQ(foundation::canonicalComposition("e\xCC\x81"), "\xC3\xA9");
    EXPECT_TRUE(foundation::isWhitespaceOrNewline(0x3000));
    EXPECT_FALSE(foundation::isWhitespaceOrNewline('x'));
    std::size_t offset = 0;
    EXPECT_EQ(foundation::nextUnicodeScalar("\xE2\x82", offset), 0xFFFDu);  // truncated
    EXPECT_EQ(offset, 1u);
    EXPECT_FALSE(foundation::isValidUTF8(bytes("\xED\xA0\x80")));  // a surrogate
    EXPECT_TRUE(foundation::isValidUTF8(bytes("\xEF\xBF\xBD")));
}

}  // namespace
