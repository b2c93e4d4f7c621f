#pragma once

// The read cursor through which every payload, the address and the type-tag string are taken off
// the wire, and the 4-byte padding of text fields.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "osc/core/Data.h"

namespace rozuri {

class OSCSerialization;

// Deepest array nesting a decoder or encoder accepts.
inline constexpr std::size_t kMaxValueNestingDepth = 256;

class OSCValueDecoder {
  public:
    // The bytes must outlive the cursor; reads hand out views into them.
    explicit OSCValueDecoder(DataView data, std::weak_ptr<OSCSerialization> context = {})
        : context(std::move(context)), data(data) {}

    std::weak_ptr<OSCSerialization> context;
    DataView data;
    std::size_t pos = 0;
    // Current array nesting, kept by the message decoder.
    std::size_t nestingDepth = 0;

    std::size_t remainingByteCount() const { return data.size() - pos; }

    std::int32_t readInt32();
    float readFloat32();
    std::int64_t readInt64();
    std::uint64_t readUInt64();
    double readDouble();
    // The next `count` bytes, as a view into the message bytes.
    DataView readBytes(std::int64_t count);
    void advancePosition(std::int64_t count);
    // The chunk's bytes before its first NUL, the padding consumed.
    DataView readNullTerminatedChunk();
    // The chunk read byte for byte: 0x00 to 0x7F as they are, a byte of 0x80 or more fails.
    std::string readASCIIString();
    DataView readBlob();
};

// Appends 4 - (n mod 4) NUL bytes: 1 to 4, the OSC-string rule.
void padToFourBytes(Data& data);
// The padded copy.
Data paddedToFourBytes(DataView data);
// Zero bytes that bring a blob payload to a multiple of 4: 0 to 3.
inline std::size_t blobPadCount(std::size_t n) {
    return (4 - n % 4) % 4;
}

}  // namespace rozuri
