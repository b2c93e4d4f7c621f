#include <gtest/gtest.h>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCSerializationError.h"
#include "osc/core/OSCValueTagIdentity.h"
#include "osc/core/OSCValueToken.h"

using namespace rozuri;

namespace {

using Identity = OSCValueTagIdentity;

TEST(OSCCodingErrorsTest, Descriptions) {
    struct Case {
        std::string what;
        std::string expected;
    };
    const Case cases[] = {
        {OSCDecodeError::malformed("Length not a multiple of 4 bytes.").what(),
         "Malformed data: Length not a multiple of 4 bytes."},
        {OSCDecodeError::unexpectedType('x').what(), "Unexpected OSC Type Tag: x"},
        {OSCDecodeError::valueDecodingError("v").what(), "OSC value decoding error: v"},
        {OSCDecodeError::internalInconsistency("i").what(), "Internal inconsistency: i"},
        {OSCEncodeError::general("").what(), "Encoding error: "},
        {OSCEncodeError::valueEncodingError("v").what(), "OSC value encoding error: v"},
        {OSCEncodeError::internalInconsistency("i").what(), "Internal inconsistency: i"},
        {OSCSerializationError::tagAlreadyRegistered().what(), "Tag already registered"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.what, c.expected);
    EXPECT_EQ(OSCDecodeError::unexpectedType('x').kind(), OSCDecodeError::Kind::unexpectedType);
    EXPECT_EQ(OSCDecodeError::unexpectedType('x').text(), "x");
    EXPECT_EQ(OSCEncodeError::general("g").kind(), OSCEncodeError::Kind::general);
    EXPECT_FALSE(OSCSerializationError::tagAlreadyRegistered().failureReason());
}

TEST(OSCValueTagIdentityTest, Matching) {
    EXPECT_TRUE(Identity::tag('i').matches('i'));
    EXPECT_FALSE(Identity::tag('i').matches('f'));
    EXPECT_TRUE(Identity::variable({'T', 'F'}).matches('F'));
    EXPECT_FALSE(Identity::variable({}).matches('F'));
    EXPECT_FALSE(Identity::variadic(2, std::nullopt).matches('['));
}

TEST(OSCValueTagIdentityTest, EqualityAndHashing) {
    struct Case {
        Identity a, b;
        bool equal;
    };
    const Case cases[] = {
        {Identity::variadic(2, std::nullopt), Identity::variadic(2, 2), false},
        {Identity::variadic(2, std::nullopt), Identity::variadic(2, std::nullopt), true},
        {Identity::variadic(std::nullopt, 2), Identity::variadic(2, std::nullopt), false},
        {Identity::variable({'T', 'F'}), Identity::variable({'F', 'T'}), false},
        {Identity::variable({'T', 'F'}), Identity::variable({'T', 'F'}), true},
        {Identity::variable({'T'}), Identity::tag('T'), false},
        {Identity::tag('i'), Identity::tag('i'), true},
        {Identity::tag(*Character::fromText("\xC3\xA9")),
         Identity::tag(*Character::fromText("e\xCC\x81")), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal);
        if (c.equal) {
            EXPECT_EQ(c.a.hash(), c.b.hash());
        }
    }
}

TEST(OSCValueTokenTest, OrdinalsAndForms) {
    const auto& all = allOSCValueTokens();
    ASSERT_EQ(all.size(), 32u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(ordinal(all[i]), i);
        EXPECT_EQ(isOptional(all[i]), i >= 16);
        EXPECT_EQ(ordinal(baseToken(all[i])), i % 16);
    }
    EXPECT_EQ(baseToken(OSCValueToken::timeTagOptional), OSCValueToken::timeTag);
    EXPECT_FALSE(isOptional(OSCValueToken::numberOrBool));
    EXPECT_TRUE(isOptional(OSCValueToken::numberOrBoolOptional));
    EXPECT_EQ(optionalToken(OSCValueToken::int32), OSCValueToken::int32Optional);
    EXPECT_EQ(tokenName(OSCValueToken::bool_), "bool");
    EXPECT_EQ(tokenName(OSCValueToken::numberOrBoolOptional), "numberOrBoolOptional");
}

}  // namespace
