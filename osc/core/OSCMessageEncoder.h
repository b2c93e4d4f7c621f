#pragma once

// An address and a list of values to message bytes.

#include <span>
#include <vector>

#include "osc/core/ASCIICharacter.h"
#include "osc/core/AnyOSCValue.h"
#include "osc/core/Data.h"
#include "osc/core/OSCEncodeError.h"

namespace rozuri {

struct OSCMessageEncoder {
    // From the address pattern's ASCII bytes (its rawData).
    explicit OSCMessageEncoder(DataView addressRawData);
    // Throws OSCEncodeError, and nothing else.
    OSCMessageEncoder(DataView addressRawData, std::span<const AnyOSCValue> values);

    Data builderAddress;                      // the address field, padded
    std::vector<ASCIICharacter> builderTags;  // ',' first
    Data builderValuesChunk;                  // the payloads in order
};

// Appends the value's tag or tags and its payload. Throws OSCEncodeError.
void encodeValue(const AnyOSCValue& value, std::vector<ASCIICharacter>& tags, Data& chunk);
template <OSCValue T>
void encodeValue(const T& value, std::vector<ASCIICharacter>& tags, Data& chunk) {
    encodeValue(AnyOSCValue(value), tags, chunk);
}

// Address field, tag field (padded), payloads.
Data assembleMessageData(const OSCMessageEncoder& encoder);

// Convenience: the whole message in one call. Throws OSCEncodeError.
Data encodeMessageData(DataView addressRawData, std::span<const AnyOSCValue> values);

}  // namespace rozuri
