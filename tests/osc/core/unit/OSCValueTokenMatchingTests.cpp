#include <gtest/gtest.h>

#include "osc/core/AnyOSCNumberValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/core/OSCValueMaskError.h"
#include "osc/core/OSCValueTokenMatching.h"

namespace rozuri {
namespace {

using T = OSCValueToken;

TEST(OSCValueTokenMatching, ValuesAgainstMasks) {
    struct Case {
        const char* name;
        std::vector<AnyOSCValue> values;
        std::vector<T> mask;
        bool matches;
    };
    const Case cases[] = {
        {"int32 + optional", {std::int32_t{1}}, {T::int32, T::float32Optional}, true},
        {"int32 + required", {std::int32_t{1}}, {T::int32, T::float32}, false},
        {"too many values", {std::int32_t{1}, std::int32_t{2}}, {T::int32}, false},
        {"empty mask, no values", {}, {}, true},
        {"empty mask, a value", {std::int32_t{1}}, {}, false},
        {"bool as numberOrBool", {true}, {T::numberOrBool}, true},
        {"bool as number", {true}, {T::number}, false},
        {"double as number", {1.0}, {T::number}, true},
        {"int64 as numberOptional", {std::int64_t{1}}, {T::numberOptional}, true},
        {"string as number", {std::string("a")}, {T::number}, false},
        {"Int as int32", {Int(1)}, {T::int32}, false},
        {"Int as number", {Int(1)}, {T::number}, true},
        {"Int as numberOrBool", {Int(1)}, {T::numberOrBool}, true},
        {"time tag", {OSCTimeTag(3)}, {T::timeTag}, true},
        {"wrong kind", {1.0f}, {T::double_}, false},
        {"all optional, none given", {}, {T::int32Optional, T::stringOptional}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(valuesMatchMask(c.values, c.mask), c.matches) << c.name;
}

TEST(OSCValueTokenMatching, TokenAccepts) {
    EXPECT_TRUE(tokenAccepts(T::int32, false, T::int32));
    EXPECT_FALSE(tokenAccepts(T::number, false, T::int32));
    EXPECT_TRUE(tokenAccepts(T::number, true, T::int32));
    EXPECT_FALSE(tokenAccepts(T::number, true, T::bool_));
    EXPECT_TRUE(tokenAccepts(T::numberOrBool, true, T::bool_));
    EXPECT_FALSE(tokenAccepts(T::numberOrBool, true, T::number));
    EXPECT_FALSE(tokenAccepts(T::numberOptional, true, T::int32));
    EXPECT_FALSE(tokenAccepts(T::number, true, T::string));
}

TEST(OSCValueTokenMatching, TokenTypesAndError) {
    EXPECT_EQ(tokenType(T::stringAlt), typeid(std::string));
    EXPECT_EQ(tokenType(T::timeTagOptional), typeid(std::int64_t));
    EXPECT_EQ(tokenType(T::numberOrBool), typeid(AnyOSCNumberValue));
    EXPECT_EQ(tokenType(T::blob), typeid(Data));
    EXPECT_STREQ(OSCValueMaskError::invalidCount().what(), "Invalid argument count");
    EXPECT_EQ(OSCValueMaskError::mismatchedTypes().errorDescription(), "Mismatched types");
    EXPECT_NE(OSCValueMaskError::invalidCount(), OSCValueMaskError::mismatchedTypes());
}

}  // namespace
}  // namespace rozuri
