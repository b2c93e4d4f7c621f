#pragma once

// The six block kinds through which a value type is read from and written to the wire. A block
// wraps one capture-free closure. The message coders accept exactly these six; any other block
// type a value type hands out is refused.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "osc/core/Character.h"
#include "osc/core/Data.h"

namespace rozuri {

class OSCValueDecoder;

// What an encoder block returns; no data means the tag carries no bytes.
struct OSCEncodedTag {
    Character tag;
    std::optional<Data> data;
};
struct OSCEncodedTags {
    std::vector<Character> tags;
    std::optional<Data> data;
};
// What a variadic decoder block returns for a run of tags that is its own.
template <class T>
struct OSCDecodedRun {
    std::size_t tagCount;
    T value;
};

// One fixed tag: reads its payload at the cursor.
template <class T>
struct OSCValueStaticTagDecoder {
    using OSCDecoded = T;
    T (*block)(OSCValueDecoder& decoder);
};
// One tag of a set: is handed the tag that was read.
template <class T>
struct OSCValueVariableTagDecoder {
    using OSCDecoded = T;
    T (*block)(const Character& tag, OSCValueDecoder& decoder);
};
// A run of tags: sees the tags from the current one to the end; none when the run is not its own.
template <class T>
struct OSCValueVariadicTagDecoder {
    using OSCDecoded = T;
    std::optional<OSCDecodedRun<T>> (*block)(std::span<const Character> tags,
                                             OSCValueDecoder& decoder);
};

template <class T>
struct OSCValueStaticTagEncoder {
    using OSCEncoded = T;
    OSCEncodedTag (*block)(const T& value);
};
template <class T>
struct OSCValueVariableTagEncoder {
    using OSCEncoded = T;
    OSCEncodedTag (*block)(const T& value);
};
template <class T>
struct OSCValueVariadicTagEncoder {
    using OSCEncoded = T;
    OSCEncodedTags (*block)(const T& value);
};

enum class OSCCoderBlockKind : std::uint8_t { staticTag, variableTag, variadicTag, foreign };

// The kind of a block type for value type T; foreign for anything but the six structures of T.
template <class T, class Block>
inline constexpr OSCCoderBlockKind decoderBlockKind = OSCCoderBlockKind::foreign;
template <class T>
inline constexpr OSCCoderBlockKind decoderBlockKind<T, OSCValueStaticTagDecoder<T>> =
    OSCCoderBlockKind::staticTag;
template <class T>
inline constexpr OSCCoderBlockKind decoderBlockKind<T, OSCValueVariableTagDecoder<T>> =
    OSCCoderBlockKind::variableTag;
template <class T>
inline constexpr OSCCoderBlockKind decoderBlockKind<T, OSCValueVariadicTagDecoder<T>> =
    OSCCoderBlockKind::variadicTag;

template <class T, class Block>
inline constexpr OSCCoderBlockKind encoderBlockKind = OSCCoderBlockKind::foreign;
template <class T>
inline constexpr OSCCoderBlockKind encoderBlockKind<T, OSCValueStaticTagEncoder<T>> =
    OSCCoderBlockKind::staticTag;
template <class T>
inline constexpr OSCCoderBlockKind encoderBlockKind<T, OSCValueVariableTagEncoder<T>> =
    OSCCoderBlockKind::variableTag;
template <class T>
inline constexpr OSCCoderBlockKind encoderBlockKind<T, OSCValueVariadicTagEncoder<T>> =
    OSCCoderBlockKind::variadicTag;

}  // namespace rozuri
