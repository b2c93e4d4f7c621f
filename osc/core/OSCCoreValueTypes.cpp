#include "osc/core/OSCCoreValueTypes.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "osc/core/ASCIICharacter.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCValueDecoder.h"
#include "osc/core/TextUtilities.h"
#include "osc/core/ValueDescriptions.h"
#include "platform/foundation/TextTransforms.h"

namespace rozuri {

namespace {

constexpr auto big = NumberEndianness::bigEndian;

template <class T>
Data bigEndianBytes(T v) {
    Data out;
    out.reserve(sizeof(T));
    appendDataRepresentation(out, v, big);
    return out;
}

const OSCValueTagIdentity& tagIdentity(char c) {
    // One identity per tag character, made once.
    static const std::vector<OSCValueTagIdentity> table = [] {
        std::vector<OSCValueTagIdentity> t;
        t.reserve(128);
        for (int i = 0; i < 128; ++i)
            t.push_back(OSCValueTagIdentity::tag(Character(static_cast<char>(i))));
        return t;
    }();
    return table[static_cast<unsigned char>(c) & 0x7F];
}

template <class F>
std::size_t hashFloating(F v) {
    if (v == 0) return std::hash<F>{}(F(0));  // -0.0 == 0.0
    return std::hash<F>{}(v);
}

// The bytes of a text argument. OSC strings carry every ASCII byte but NUL, so ASCII (control
// characters, CR LF and DEL included) goes as it is; only text that is not ASCII is transliterated
// and whatever is still not ASCII becomes "?". A NUL would end the string early: it becomes "?".
Data stringBytes(std::string_view text) {
    auto plain = [](unsigned char b) { return b != 0 && b < 0x80; };
    if (std::all_of(text.begin(), text.end(), plain)) return Data(text.begin(), text.end());
    std::string source(text);
    if (!isASCIIText(text)) {
        // The transform leaves ASCII as it is.
        if (auto transformed = foundation::applyingTransform(text, "Latin-ASCII"))
            source = std::move(*transformed);
    }
    Data out;
    out.reserve(source.size());
    for (std::size_t i = 0; i < source.size();) {
        char32_t c = foundation::nextUnicodeScalar(source, i);
        out.push_back(c != 0 && c < 0x80 ? static_cast<std::uint8_t>(c) : std::uint8_t{'?'});
    }
    return out;
}

// Payload of a text argument: its bytes, then 1 to 4 NULs.
Data stringPayload(const std::string& text) {
    Data out = stringBytes(text);
    checkedOSCLength(out.size(), "String");
    out.reserve(out.size() + 4);
    padToFourBytes(out);
    return out;
}

}  // namespace

// Int32 'i'
const OSCValueTagIdentity& OSCValueTraits<std::int32_t>::oscTagIdentity() {
    return tagIdentity('i');
}
OSCValueStaticTagEncoder<std::int32_t> OSCValueTraits<std::int32_t>::oscEncoding() {
    return {[](const std::int32_t& v) { return OSCEncodedTag{'i', bigEndianBytes(v)}; }};
}
OSCValueStaticTagDecoder<std::int32_t> OSCValueTraits<std::int32_t>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return d.readInt32(); }};
}

// Float 'f'
const OSCValueTagIdentity& OSCValueTraits<float>::oscTagIdentity() {
    return tagIdentity('f');
}
OSCValueStaticTagEncoder<float> OSCValueTraits<float>::oscEncoding() {
    return {[](const float& v) { return OSCEncodedTag{'f', bigEndianBytes(v)}; }};
}
OSCValueStaticTagDecoder<float> OSCValueTraits<float>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return d.readFloat32(); }};
}
std::size_t OSCValueTraits<float>::hash(float v) {
    return hashFloating(v);
}
std::string OSCValueTraits<float>::description(float v) {
    return describeFloat(v);
}

// String 's'
const OSCValueTagIdentity& OSCValueTraits<std::string>::oscTagIdentity() {
    return tagIdentity('s');
}
OSCValueStaticTagEncoder<std::string> OSCValueTraits<std::string>::oscEncoding() {
    return {[](const std::string& v) { return OSCEncodedTag{'s', stringPayload(v)}; }};
}
OSCValueStaticTagDecoder<std::string> OSCValueTraits<std::string>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return d.readASCIIString(); }};
}
std::string OSCValueTraits<std::string>::debugDescription(const std::string& v) {
    return debugQuoted(v);
}

// Data 'b'
const OSCValueTagIdentity& OSCValueTraits<Data>::oscTagIdentity() {
    return tagIdentity('b');
}
OSCValueStaticTagEncoder<Data> OSCValueTraits<Data>::oscEncoding() {
    return {[](const Data& v) {
        std::int32_t length = checkedOSCLength(v.size(), "Blob");
        Data out;
        out.reserve(4 + v.size() + 3);
        appendDataRepresentation(out, length, big);
        out.insert(out.end(), v.begin(), v.end());
        out.insert(out.end(), blobPadCount(v.size()), std::uint8_t{0});
        return OSCEncodedTag{'b', std::move(out)};
    }};
}
OSCValueStaticTagDecoder<Data> OSCValueTraits<Data>::oscDecoding() {
    return {[](OSCValueDecoder& d) {
        DataView blob = d.readBlob();
        return Data(blob.begin(), blob.end());
    }};
}
std::size_t OSCValueTraits<Data>::hash(const Data& v) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(v.data()), v.size()));
}
std::string OSCValueTraits<Data>::description(const Data& v) {
    return std::to_string(v.size()) + " bytes";
}

// Bool 'T' / 'F'
const OSCValueTagIdentity& OSCValueTraits<bool>::oscTagIdentity() {
    static const auto identity = OSCValueTagIdentity::variable({Character('T'), Character('F')});
    return identity;
}
OSCValueVariableTagEncoder<bool> OSCValueTraits<bool>::oscEncoding() {
    return {[](const bool& v) { return OSCEncodedTag{v ? 'T' : 'F', std::nullopt}; }};
}
OSCValueVariableTagDecoder<bool> OSCValueTraits<bool>::oscDecoding() {
    return {[](const Character& tag, OSCValueDecoder&) {
        if (tag.isASCIIByte('T')) return true;
        if (tag.isASCIIByte('F')) return false;
        throw OSCDecodeError::unexpectedType(tag);
    }};
}

// Character 'c'
const OSCValueTagIdentity& OSCValueTraits<Character>::oscTagIdentity() {
    return tagIdentity('c');
}
OSCValueStaticTagEncoder<Character> OSCValueTraits<Character>::oscEncoding() {
    return {[](const Character& v) {
        auto code = ASCIICharacter::lossyASCIICharacter(v).asciiValue();
        return OSCEncodedTag{'c', bigEndianBytes(static_cast<std::int32_t>(code))};
    }};
}
OSCValueStaticTagDecoder<Character> OSCValueTraits<Character>::oscDecoding() {
    return {[](OSCValueDecoder& d) {
        std::int32_t v = d.readInt32();
        static constexpr const char* text =
            "Character value couldn't be read. Could not form a Unicode scalar from the value.";
        if (v < 0 || v > 255) throw OSCDecodeError::malformed(text);
        auto c = ASCIICharacter::asciiCharacterFromCode(v);
        if (!c) throw OSCDecodeError::malformed(text);
        return c->characterValue();
    }};
}
std::string OSCValueTraits<Character>::debugDescription(const Character& v) {
    return debugQuoted(v.text());
}

// Double 'd'
const OSCValueTagIdentity& OSCValueTraits<double>::oscTagIdentity() {
    return tagIdentity('d');
}
OSCValueStaticTagEncoder<double> OSCValueTraits<double>::oscEncoding() {
    return {[](const double& v) { return OSCEncodedTag{'d', bigEndianBytes(v)}; }};
}
OSCValueStaticTagDecoder<double> OSCValueTraits<double>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return d.readDouble(); }};
}
std::size_t OSCValueTraits<double>::hash(double v) {
    return hashFloating(v);
}
std::string OSCValueTraits<double>::description(double v) {
    return describeDouble(v);
}

// Int64 'h'
const OSCValueTagIdentity& OSCValueTraits<std::int64_t>::oscTagIdentity() {
    return tagIdentity('h');
}
OSCValueStaticTagEncoder<std::int64_t> OSCValueTraits<std::int64_t>::oscEncoding() {
    return {[](const std::int64_t& v) { return OSCEncodedTag{'h', bigEndianBytes(v)}; }};
}
OSCValueStaticTagDecoder<std::int64_t> OSCValueTraits<std::int64_t>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return d.readInt64(); }};
}

}  // namespace rozuri
