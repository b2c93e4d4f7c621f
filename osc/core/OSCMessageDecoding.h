#pragma once

// Message bytes to an address and a list of values.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/Character.h"
#include "osc/core/Data.h"
#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

struct OSCDecodedMessage {
    std::string addressPattern;
    std::vector<AnyOSCValue> values;
};

// Throws OSCDecodeError, and nothing else.
OSCDecodedMessage decodeMessageData(DataView data);

// The characters of a type-tag string (CR LF is one character).
std::vector<Character> tagCharacters(std::string_view tagString);

// Decodes the value at tags[index] (tag is that character) and appends it; returns the tag count
// consumed. The array decoder calls this for its elements with the same decoder.
std::size_t decodeValue(const Character& tag, std::size_t index, std::span<const Character> tags,
                        std::vector<AnyOSCValue>& values, OSCValueDecoder& decoder);

// Runs one type's decoder block; `tags` runs from the current tag to the end.
std::optional<OSCDecodedRun<AnyOSCValue>> decodeWithBlock(const OSCValueDescriptor& type,
                                                          const Character& tag,
                                                          std::span<const Character> tags,
                                                          OSCValueDecoder& decoder);
template <OSCValue T>
std::optional<OSCDecodedRun<AnyOSCValue>> decodeWithBlock(const Character& tag,
                                                          std::span<const Character> tags,
                                                          OSCValueDecoder& decoder) {
    return decodeWithBlock(oscValueDescriptor<T>(), tag, tags, decoder);
}

}  // namespace rozuri
