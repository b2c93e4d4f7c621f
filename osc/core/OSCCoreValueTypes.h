#pragma once

// The eight core value types: Int32 'i', Float 'f', String 's', Data 'b', Bool 'T'/'F',
// Character 'c', Double 'd', Int64 'h'. Payloads big-endian, padded to 4 bytes.

#include <cstdint>
#include <string>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/Character.h"
#include "osc/core/Data.h"

namespace rozuri {

template <>
struct OSCValueTraits<std::int32_t> {
    static constexpr std::string_view name = "Int32";
    static OSCValueToken oscValueToken() { return OSCValueToken::int32; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<std::int32_t> oscEncoding();
    static OSCValueStaticTagDecoder<std::int32_t> oscDecoding();
    static std::string description(std::int32_t v) { return std::to_string(v); }
};

template <>
struct OSCValueTraits<float> {
    static constexpr std::string_view name = "Float";
    static OSCValueToken oscValueToken() { return OSCValueToken::float32; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<float> oscEncoding();
    static OSCValueStaticTagDecoder<float> oscDecoding();
    static std::size_t hash(float v);
    static std::string description(float v);
};

template <>
struct OSCValueTraits<std::string> {
    static constexpr std::string_view name = "String";
    static OSCValueToken oscValueToken() { return OSCValueToken::string; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<std::string> oscEncoding();
    static OSCValueStaticTagDecoder<std::string> oscDecoding();
    static std::string description(const std::string& v) { return v; }
    static std::string debugDescription(const std::string& v);  // quoted and escaped
};

template <>
struct OSCValueTraits<Data> {
    static constexpr std::string_view name = "Data";
    static OSCValueToken oscValueToken() { return OSCValueToken::blob; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<Data> oscEncoding();
    static OSCValueStaticTagDecoder<Data> oscDecoding();
    static std::size_t hash(const Data& v);
    static std::string description(const Data& v);  // "3 bytes"
};

template <>
struct OSCValueTraits<bool> {
    static constexpr std::string_view name = "Bool";
    static OSCValueToken oscValueToken() { return OSCValueToken::bool_; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueVariableTagEncoder<bool> oscEncoding();
    static OSCValueVariableTagDecoder<bool> oscDecoding();
    static std::string description(bool v) { return v ? "true" : "false"; }
};

template <>
struct OSCValueTraits<Character> {
    static constexpr std::string_view name = "Character";
    static OSCValueToken oscValueToken() { return OSCValueToken::character; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<Character> oscEncoding();
    static OSCValueStaticTagDecoder<Character> oscDecoding();
    static std::string description(const Character& v) { return v.text(); }
    static std::string debugDescription(const Character& v);  // quoted and escaped
};

template <>
struct OSCValueTraits<double> {
    static constexpr std::string_view name = "Double";
    static OSCValueToken oscValueToken() { return OSCValueToken::double_; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<double> oscEncoding();
    static OSCValueStaticTagDecoder<double> oscDecoding();
    static std::size_t hash(double v);
    static std::string description(double v);
};

template <>
struct OSCValueTraits<std::int64_t> {
    static constexpr std::string_view name = "Int64";
    static OSCValueToken oscValueToken() { return OSCValueToken::int64; }
    static const OSCValueTagIdentity& oscTagIdentity();
    static OSCValueStaticTagEncoder<std::int64_t> oscEncoding();
    static OSCValueStaticTagDecoder<std::int64_t> oscDecoding();
    static std::string description(std::int64_t v) { return std::to_string(v); }
};

}  // namespace rozuri
