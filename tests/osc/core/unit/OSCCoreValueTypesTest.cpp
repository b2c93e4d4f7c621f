#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCInterpolatedValue.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCValueDecoder.h"

using namespace rozuri;

namespace {

struct Encoded {
    std::string tags;
    Data payload;
};

Encoded encode(const AnyOSCValue& v) {
    std::vector<ASCIICharacter> tags;
    Data chunk;
    encodeValue(v, tags, chunk);
    Encoded e;
    for (const auto& t : tags) e.tags += t.characterValue().text();
    e.payload = chunk;
    return e;
}

template <class T>
T decodeAs(const Data& payload) {
    OSCValueDecoder d(payload);
    T v = OSCValueTraits<T>::oscDecoding().block(d);
    EXPECT_EQ(d.pos, payload.size());
    return v;
}

template <class T>
std::string decodeError(const Data& payload) {
    OSCValueDecoder d(payload);
    try {
        OSCValueTraits<T>::oscDecoding().block(d);
    } catch (const OSCDecodeError& e) {
        return e.what();
    }
    return "";
}

TEST(OSCCoreValueTypesTest, PayloadVectors) {
    struct Case {
        AnyOSCValue value;
        std::string tag;
        Data payload;
    };
    const Case cases[] = {
        {std::int32_t{42}, "i", {0, 0, 0, 0x2A}},
        {std::int32_t{-1}, "i", {0xFF, 0xFF, 0xFF, 0xFF}},
        {std::int64_t{-1}, "h", Data(8, 0xFF)},
        {1.0f, "f", {0x3F, 0x80, 0, 0}},
        {1.0, "d", {0x3F, 0xF0, 0, 0, 0, 0, 0, 0}},
        {std::string("abc"), "s", {'a', 'b', 'c', 0}},
        {std::string("abcd"), "s", {'a', 'b', 'c', 'd', 0, 0, 0, 0}},
        {std::string(""), "s", {0, 0, 0, 0}},
        {std::string("a\tb"), "s", {'a', '\t', 'b', 0}},
        {std::string("\r\n\x7F"), "s", {'\r', '\n', 0x7F, 0}},
        {std::string("a\0b", 3), "s", {'a', '?', 'b', 0}},
        {std::string("\xC3\xA9\n\x01"), "s", {'e', '\n', 0x01, 0}},
        {OSCStringAltValue("a\tb"), "S", {'a', '\t', 'b', 0}},
        {std::string("caf\xC3\xA9"), "s", {'c', 'a', 'f', 'e', 0, 0, 0, 0}},
        {Data{1, 2, 3}, "b", {0, 0, 0, 3, 1, 2, 3, 0}},
        {Data{1, 2, 3, 4}, "b", {0, 0, 0, 4, 1, 2, 3, 4}},
        {Data{1, 2, 3, 4, 5}, "b", {0, 0, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0}},
        {Data{}, "b", {0, 0, 0, 0}},
        {true, "T", {}},
        {false, "F", {}},
        {Character('A'), "c", {0, 0, 0, 0x41}},
        {*Character::fromText("\r\n"), "c", {0, 0, 0, 0x0A}},
        {*Character::fromText("\xC3\xA9"), "c", {0, 0, 0, 'e'}},
        {*Character::fromText("\xE6\xBC\xA2"), "c", {0, 0, 0, '?'}},
    };
    for (const auto& c : cases) {
        auto e = encode(c.value);
        EXPECT_EQ(e.tags, c.tag) << c.value.debugDescription();
        EXPECT_EQ(e.payload, c.payload) << c.value.debugDescription();
    }
}

TEST(OSCCoreValueTypesTest, Decoding) {
    EXPECT_EQ(decodeAs<std::int32_t>({0, 0, 0, 0x2A}), 42);
    EXPECT_EQ(decodeAs<std::int64_t>(Data(8, 0xFF)), -1);
    EXPECT_EQ(decodeAs<float>({0x3F, 0x80, 0, 0}), 1.0f);
    EXPECT_EQ(decodeAs<double>({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), 1.0);
    EXPECT_EQ(decodeAs<std::string>({'a', 'b', 'c', 'd', 0, 0, 0, 0}), "abcd");
    EXPECT_EQ(decodeAs<Data>({0, 0, 0, 3, 1, 2, 3, 0}), (Data{1, 2, 3}));
    EXPECT_EQ(decodeAs<Character>({0, 0, 0, 0x41}), Character('A'));
    EXPECT_EQ(decodeAs<Character>({0, 0, 0, 0x5C}), Character('\\'));

    OSCValueDecoder none(Data{});
    EXPECT_TRUE(OSCValueTraits<bool>::oscDecoding().block('T', none));
    EXPECT_FALSE(OSCValueTraits<bool>::oscDecoding().block('F', none));
    EXPECT_EQ(none.pos, 0u);
    try {
        OSCValueTraits<bool>::oscDecoding().block('x', none);
        ADD_FAILURE();
    } catch (const OSCDecodeError& e) {
        EXPECT_EQ(e.kind(), OSCDecodeError::Kind::unexpectedType);
        EXPECT_STREQ(e.what(), "Unexpected OSC Type Tag: x");
    }
}

TEST(OSCCoreValueTypesTest, DecodingFailures) {
    const std::string badCharacter =
        "Malformed data: Character value couldn't be read. Could not form a Unicode scalar from "
        "the value.";
    EXPECT_EQ(decodeError<Character>({0, 0, 1, 0}), badCharacter);
    EXPECT_EQ(decodeError<Character>({0xFF, 0xFF, 0xFF, 0xFF}), badCharacter);
    EXPECT_EQ(decodeError<Character>({0, 0, 0, 0xC8}), badCharacter);
    EXPECT_EQ(decodeError<Character>({0, 0, 0}),
              "Malformed data: Not enough bytes while reading Int32 data chunk.");
    EXPECT_EQ(decodeError<std::int32_t>({0, 0, 0}),
              "Malformed data: Not enough bytes while reading Int32 data chunk.");
    EXPECT_EQ(decodeError<float>({0}),
              "Malformed data: Not enough bytes while reading Float32 data chunk.");
    EXPECT_EQ(decodeError<double>(Data(7)),
              "Malformed data: Not enough bytes while reading Double data chunk.");
    EXPECT_EQ(decodeError<std::int64_t>(Data(4)),
              "Malformed data: Not enough bytes while reading Int64 data chunk.");
}

TEST(OSCCoreValueTypesTest, IdentitiesTokensAndDescriptions) {
    struct Case {
        AnyOSCValue value;
        std::string name;
        OSCValueToken token;
        std::string description;
        std::string debug;
    };
    const Case cases[] = {
        {std::int32_t{-7}, "Int32", OSCValueToken::int32, "-7", "-7"},
        {1.0f, "Float", OSCValueToken::float32, "1.0", "1.0"},
        {0.1f, "Float", OSCValueToken::float32, "0.1", "0.1"},
        {1.0, "Double", OSCValueToken::double_, "1.0", "1.0"},
        {0.1, "Double", OSCValueToken::double_, "0.1", "0.1"},
        {1e16, "Double", OSCValueToken::double_, "1e+16", "1e+16"},
        {1e15, "Double", OSCValueToken::double_, "1000000000000000.0", "1000000000000000.0"},
        {0.0001, "Double", OSCValueToken::double_, "0.0001", "0.0001"},
        {0.00001, "Double", OSCValueToken::double_, "1e-05", "1e-05"},
        {-1.5e-7, "Double", OSCValueToken::double_, "-1.5e-07", "-1.5e-07"},
        {-0.0, "Double", OSCValueToken::double_, "-0.0", "-0.0"},
        {std::numeric_limits<double>::infinity(), "Double", OSCValueToken::double_, "inf", "inf"},
        {std::string("a\"b"), "String", OSCValueToken::string, "a\"b", "\"a\\\"b\""},
        {Data{1, 2, 3}, "Data", OSCValueToken::blob, "3 bytes", "3 bytes"},
        {true, "Bool", OSCValueToken::bool_, "true", "true"},
        {Character('x'), "Character", OSCValueToken::character, "x", "\"x\""},
        {std::int64_t{5}, "Int64", OSCValueToken::int64, "5", "5"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.typeName(), c.name);
        EXPECT_EQ(c.value.descriptor().token, c.token);
        EXPECT_EQ(c.value.description(), c.description);
        EXPECT_EQ(c.value.debugDescription(), c.debug);
    }
    EXPECT_EQ(oscValueDescriptor<bool>().tagIdentity, OSCValueTagIdentity::variable({'T', 'F'}));
    EXPECT_EQ(oscValueDescriptor<bool>().encoderKind, OSCCoderBlockKind::variableTag);
    EXPECT_EQ(oscValueDescriptor<Data>().tagIdentity, OSCValueTagIdentity::tag('b'));
}

TEST(OSCCoreValueTypesTest, ValueEqualityIsTypeAndValue) {
    struct Case {
        AnyOSCValue a, b;
        bool equal;
    };
    const Case cases[] = {
        {std::int32_t{1}, std::int64_t{1}, false},
        {std::int32_t{1}, 1.0, false},
        {Int(1), std::int64_t{1}, false},
        {CGFloat(1.0), 1.0, false},
        {std::int32_t{1}, std::int32_t{1}, true},
        {0.0, -0.0, true},
        {0.0f, -0.0f, true},
        {std::string("a"), "a", true},
        {Data{1}, Data{1}, true},
        {Data{1}, Data{2}, false},
        {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(), false},
        {Character('e'), *Character::fromText("e"), true},
        {*Character::fromText("\xC3\xA9"), *Character::fromText("e\xCC\x81"), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a == c.b, c.equal) << c.a.debugDescription() << " " << c.b.debugDescription();
        if (c.equal) {
            EXPECT_EQ(c.a.hash(), c.b.hash()) << c.a.debugDescription();
        }
    }
    AnyOSCValue v = std::int32_t{3};
    EXPECT_TRUE(v.is<std::int32_t>());
    EXPECT_FALSE(v.is<std::int64_t>());
    EXPECT_FALSE(v.is<Int>());
    EXPECT_EQ(*v.get_if<std::int32_t>(), 3);
    EXPECT_EQ(v.get_if<std::string>(), nullptr);
    EXPECT_THROW(v.get<double>(), std::bad_cast);
}

// Inline and boxed values share one storage: every copy and assignment between them, and onto
// itself, must keep the value (asan watches the box).
TEST(OSCCoreValueTypesTest, CopiesAndAssignmentsKeepValues) {
    const AnyOSCValue samples[] = {std::int32_t{7}, std::string(40, 'x'), Data{1, 2},
                                   static_cast<long double>(2.5)};
    for (const AnyOSCValue& from : samples) {
        for (const AnyOSCValue& to : samples) {
            AnyOSCValue copy = to;
            copy = from;
            EXPECT_EQ(copy, from) << from.debugDescription() << " over " << to.debugDescription();
            AnyOSCValue moved = to;
            moved = AnyOSCValue(from);
            EXPECT_EQ(moved, from);
        }
        AnyOSCValue self = from;
        const AnyOSCValue& alias = self;
        self = alias;
        EXPECT_EQ(self, from);
        EXPECT_EQ(AnyOSCValue(AnyOSCValue(from)).hash(), from.hash());
    }
}

TEST(OSCCoreValueTypesTest, LengthFieldLimit) {
    EXPECT_EQ(checkedOSCLength(0x7FFFFFFFu, "Blob"), 0x7FFFFFFF);
    try {
        checkedOSCLength(std::size_t{1} << 31, "Blob");
        ADD_FAILURE();
    } catch (const OSCEncodeError& e) {
        EXPECT_EQ(e.kind(), OSCEncodeError::Kind::valueEncodingError);
        EXPECT_STREQ(
            e.what(),
            "OSC value encoding error: Blob of 2147483648 bytes is too long for OSC (at most "
            "2147483647).");
    }
    EXPECT_THROW(checkedOSCLength(~std::size_t{0}, "String"), OSCEncodeError);
}

}  // namespace
