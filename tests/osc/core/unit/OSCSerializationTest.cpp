#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCSerialization.h"

using namespace rozuri;

// A user type on tag 'q': a 32-bit count.
struct QuantityValue {
    std::int32_t count;
    friend bool operator==(QuantityValue, QuantityValue) = default;
};
template <>
struct rozuri::OSCValueTraits<QuantityValue> {
    static constexpr std::string_view name = "QuantityValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::int32; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('q');
        return identity;
    }
    static constexpr OSCValueStaticTagEncoder<QuantityValue> oscEncoding() {
        return {[](const QuantityValue& v) {
            return OSCEncodedTag{'q', dataRepresentation(v.count, NumberEndianness::bigEndian)};
        }};
    }
    static constexpr OSCValueStaticTagDecoder<QuantityValue> oscDecoding() {
        return {[](OSCValueDecoder& d) { return QuantityValue{d.readInt32()}; }};
    }
    static std::size_t hash(const QuantityValue& v) { return std::hash<std::int32_t>{}(v.count); }
    static std::string description(const QuantityValue& v) { return "Q" + std::to_string(v.count); }
};

// A type whose blocks are not of the library's kinds, on tag 'k'.
struct ForeignValue {
    friend bool operator==(ForeignValue, ForeignValue) = default;
};
struct ForeignDecoder {
    using OSCDecoded = ForeignValue;
};
struct ForeignEncoder {
    using OSCEncoded = ForeignValue;
};
template <>
struct rozuri::OSCValueTraits<ForeignValue> {
    static constexpr std::string_view name = "ForeignValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::null; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('k');
        return identity;
    }
    static ForeignEncoder oscEncoding() { return {}; }
    static ForeignDecoder oscDecoding() { return {}; }
    static std::size_t hash(const ForeignValue&) { return 0; }
};

// Blocks for another type than their own.
struct MismatchedValue {
    friend bool operator==(MismatchedValue, MismatchedValue) = default;
};
template <>
struct rozuri::OSCValueTraits<MismatchedValue> {
    static constexpr std::string_view name = "MismatchedValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::int32; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<std::int32_t> oscEncoding();
    static OSCValueStaticTagDecoder<std::int32_t> oscDecoding();
    static std::size_t hash(const MismatchedValue&) { return 0; }
};

// Variable identity T/Z, and a variadic one, for registration order.
struct TeeZedValue {
    bool t;
    friend bool operator==(TeeZedValue, TeeZedValue) = default;
};
template <>
struct rozuri::OSCValueTraits<TeeZedValue> {
    static constexpr std::string_view name = "TeeZedValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::bool_; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::variable({'T', 'Z'});
        return identity;
    }
    static constexpr OSCValueVariableTagEncoder<TeeZedValue> oscEncoding() {
        return {[](const TeeZedValue& v) { return OSCEncodedTag{v.t ? 'T' : 'Z', std::nullopt}; }};
    }
    static constexpr OSCValueVariableTagDecoder<TeeZedValue> oscDecoding() {
        return {[](const Character& tag, OSCValueDecoder&) { return TeeZedValue{tag == 'T'}; }};
    }
    static std::size_t hash(const TeeZedValue& v) { return v.t; }
};

struct PairMarker {
    friend bool operator==(PairMarker, PairMarker) = default;
};
template <>
struct rozuri::OSCValueTraits<PairMarker> {
    static constexpr std::string_view name = "PairMarker";
    static OSCValueToken oscValueToken() { return OSCValueToken::impulse; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::variadic(2, 2);
        return identity;
    }
    static constexpr OSCValueVariadicTagEncoder<PairMarker> oscEncoding() {
        return {[](const PairMarker&) { return OSCEncodedTags{{'@', '@'}, std::nullopt}; }};
    }
    static constexpr OSCValueVariadicTagDecoder<PairMarker> oscDecoding() {
        return {[](std::span<const Character> tags,
                   OSCValueDecoder&) -> std::optional<OSCDecodedRun<PairMarker>> {
            if (tags.size() < 2 || !(tags[0] == '@') || !(tags[1] == '@')) return std::nullopt;
            return OSCDecodedRun<PairMarker>{2, PairMarker{}};
        }};
    }
    static std::size_t hash(const PairMarker&) { return 0; }
};

namespace {

std::vector<std::string> names(const std::vector<const OSCValueDescriptor*>& types) {
    std::vector<std::string> out;
    for (auto* t : types) out.emplace_back(t->name);
    return out;
}

TEST(OSCSerializationTest, BuiltInTypesInOrder) {
    const std::vector<std::string> expected = {"Int32",        "Float",        "String",
                                               "Data",         "Bool",         "Character",
                                               "Double",       "Int64",        "OSCImpulseValue",
                                               "OSCMIDIValue", "OSCNullValue", "OSCStringAltValue",
                                               "OSCTimeTag",   "OSCArrayValue"};
    EXPECT_EQ(names(OSCSerialization::builtInTypes()), expected);
    auto registry = OSCSerialization::create();
    std::vector<const OSCValueDescriptor*> listed;
    for (const auto& e : registry->tagIdentities()) {
        listed.push_back(e.concreteType);
        EXPECT_EQ(e.identity, e.concreteType->tagIdentity);
    }
    EXPECT_EQ(names(listed), expected);
}

TEST(OSCSerializationTest, Lookups) {
    auto registry = OSCSerialization::create();
    struct Case {
        char tag;
        std::vector<std::string> types;
        bool registered;
    };
    const Case cases[] = {
        {'i', {"Int32", "OSCArrayValue"}, true}, {'T', {"Bool", "OSCArrayValue"}, true},
        {'F', {"Bool", "OSCArrayValue"}, true},  {'t', {"OSCTimeTag", "OSCArrayValue"}, true},
        {'x', {"OSCArrayValue"}, false},         {'[', {"OSCArrayValue"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(names(registry->concreteTypes(c.tag)), c.types) << c.tag;
        EXPECT_EQ(registry->isTagRegistered(c.tag), c.registered) << c.tag;
    }
    EXPECT_TRUE(OSCSerialization::createEmpty()->concreteTypes('i').empty());
    std::array<const OSCValueDescriptor*, 1> small{};
    EXPECT_EQ(registry->concreteTypes('i', small), 2u);
    EXPECT_EQ(small[0]->name, "Int32");
}

TEST(OSCSerializationTest, RegistrationRules) {
    auto registry = OSCSerialization::create();
    registry->registerType<QuantityValue>();
    EXPECT_EQ(names(registry->concreteTypes('q')),
              (std::vector<std::string>{"QuantityValue", "OSCArrayValue"}));
    try {
        registry->registerType<QuantityValue>();
        ADD_FAILURE();
    } catch (const OSCSerializationError& e) {
        EXPECT_STREQ(e.what(), "Tag already registered");
        EXPECT_EQ(e, OSCSerializationError::tagAlreadyRegistered());
    }
    EXPECT_THROW(registry->registerType<std::int32_t>(), OSCSerializationError);

    registry->registerType<TeeZedValue>();  // 'Z' is free
    EXPECT_EQ(names(registry->concreteTypes('T')),
              (std::vector<std::string>{"Bool", "TeeZedValue", "OSCArrayValue"}));
    EXPECT_THROW(registry->registerType<TeeZedValue>(), OSCSerializationError);

    registry->registerType<PairMarker>();
    registry->registerType<PairMarker>();  // variadic: always accepted
    EXPECT_EQ(names(registry->concreteTypes('i')),
              (std::vector<std::string>{"Int32", "OSCArrayValue", "PairMarker", "PairMarker"}));
    EXPECT_EQ(registry->tagIdentities().size(), 14u + 4u);
}

TEST(OSCSerializationTest, UserTypeDecodesThroughTheSharedRegistry) {
    OSCSerialization::shared()->registerType<QuantityValue>();
    std::vector<AnyOSCValue> values = {QuantityValue{7}, std::int32_t{1}};
    Data bytes = encodeMessageData(Data{'/', 'q'}, values);
    EXPECT_EQ(bytes, (Data{'/', 'q', 0, 0, ',', 'q', 'i', 0, 0, 0, 0, 7, 0, 0, 0, 1}));
    auto decoded = decodeMessageData(bytes);
    EXPECT_TRUE(valueArraysEqual(decoded.values, values));
    EXPECT_EQ(decoded.values[0].description(), "Q7");
}

TEST(OSCSerializationTest, ForeignBlockKindsAreRefused) {
    EXPECT_EQ(oscValueDescriptor<ForeignValue>().encoderKind, OSCCoderBlockKind::foreign);
    std::vector<AnyOSCValue> values = {ForeignValue{}};
    try {
        encodeMessageData(Data{'/', 'k'}, values);
        ADD_FAILURE();
    } catch (const OSCEncodeError& e) {
        EXPECT_EQ(e.kind(), OSCEncodeError::Kind::internalInconsistency);
        EXPECT_STREQ(
            e.what(),
            "Internal inconsistency: Unexpected encoder: ForeignValue.Type. Only encoder types "
            "supplied by ROZUri can be used.");
    }
    OSCSerialization::shared()->registerType<ForeignValue>();
    try {
        decodeMessageData(Data{'/', 'k', 0, 0, ',', 'k', 0, 0});
        ADD_FAILURE();
    } catch (const OSCDecodeError& e) {
        EXPECT_STREQ(e.what(), "Malformed data: No decoder is implemented for OSC type tag: k");
    }
    // A tag nobody decodes: every candidate passes, which is the other refusal.
    try {
        decodeMessageData(Data{'/', 'k', 0, 0, ',', 'x', 0, 0});
        ADD_FAILURE();
    } catch (const OSCDecodeError& e) {
        EXPECT_EQ(e.kind(), OSCDecodeError::Kind::internalInconsistency);
        EXPECT_STREQ(
            e.what(),
            "Internal inconsistency: No decoder found to decode OSC type tag: x. Only decoder "
            "types supplied by ROZUri can be used.");
    }
}

TEST(OSCSerializationTest, BlocksAreCheckedWhereTheTypeIsDeclared) {
    EXPECT_TRUE(OSCValueDecoderBlock<OSCValueVariadicTagDecoder<bool>>);
    EXPECT_TRUE(OSCValueEncoderBlock<OSCValueVariableTagEncoder<bool>>);
    EXPECT_FALSE(OSCValueDecoderBlock<OSCValueStaticTagEncoder<bool>>);
    EXPECT_FALSE(OSCValueEncoderBlock<int>);
    EXPECT_FALSE(OSCValueEncodable<MismatchedValue>);
    EXPECT_FALSE(OSCValueDecodable<MismatchedValue>);
    EXPECT_FALSE(OSCValue<MismatchedValue>);
    // A block of its own type but of no library kind is refused when run (above).
    EXPECT_TRUE(OSCValue<ForeignValue>);
}

TEST(OSCSerializationTest, RegisteringWhileLookingUpIsSafe) {
    auto registry = OSCSerialization::create();
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            std::vector<const OSCValueDescriptor*> out;
            while (!stop.load()) {
                registry->concreteTypes('i', out);
                if (out.empty() || out[0]->name != "Int32") wrong.fetch_add(1);
                if (!registry->isTagRegistered('f')) wrong.fetch_add(1);
            }
        });
    for (int i = 0; i < 2000; ++i) registry->registerType<PairMarker>();
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(registry->concreteTypes('i').size(), 2u + 2000u);
}

}  // namespace
