#include "osc/core/OSCValueDecoder.h"

#include <algorithm>

#include "osc/core/OSCDecodeError.h"

namespace rozuri {

namespace {
template <class T, class Convert>
T readFixed(OSCValueDecoder& d, const char* tooFew, const char* failed, Convert convert) {
    if (d.remainingByteCount() < sizeof(T)) throw OSCDecodeError::malformed(tooFew);
    auto value = convert(d.data.subspan(d.pos, sizeof(T)), NumberEndianness::bigEndian);
    if (!value) throw OSCDecodeError::malformed(failed);
    d.advancePosition(sizeof(T));
    return *value;
}
}  // namespace

std::int32_t OSCValueDecoder::readInt32() {
    return readFixed<std::int32_t>(*this, "Not enough bytes while reading Int32 data chunk.",
                                   "Failed to construct Int32 from chunk data.",
                                   integerValue<std::int32_t>);
}

float OSCValueDecoder::readFloat32() {
    return readFixed<float>(*this, "Not enough bytes while reading Float32 data chunk.",
                            "Failed to construct Float32 from chunk data.", float32Value);
}

std::int64_t OSCValueDecoder::readInt64() {
    return readFixed<std::int64_t>(*this, "Not enough bytes while reading Int64 data chunk.",
                                   "Failed to construct Int64 from chunk data.",
                                   integerValue<std::int64_t>);
}

std::uint64_t OSCValueDecoder::readUInt64() {
    return readFixed<std::uint64_t>(*this, "Not enough bytes while reading UInt64 data chunk.",
                                    "Failed to construct UInt64 from chunk data.",
                                    integerValue<std::uint64_t>);
}

double OSCValueDecoder::readDouble() {
    return readFixed<double>(*this, "Not enough bytes while reading Double data chunk.",
                             "Failed to construct Double from chunk data.", doubleValue);
}

DataView OSCValueDecoder::readBytes(std::int64_t count) {
    if (count < 0)
        throw OSCDecodeError::internalInconsistency(
            "Negative byte count requested while parsing data: " + std::to_string(count));
    if (static_cast<std::uint64_t>(count) > remainingByteCount())
        throw OSCDecodeError::malformed(
            "Not enough bytes remain in data stream while parsing data. Attempted to read " +
            std::to_string(count) + " bytes but only " + std::to_string(remainingByteCount()) +
            " bytes remain.");
    DataView out = data.subspan(pos, static_cast<std::size_t>(count));
    advancePosition(count);
    return out;
}

void OSCValueDecoder::advancePosition(std::int64_t count) {
    // A negative count would move the cursor back; treat it like running past the end.
    if (count < 0 || static_cast<std::uint64_t>(count) > remainingByteCount())
        throw OSCDecodeError::malformed(
            "Attempted to advance byte read position past end of available bytes. " +
            std::to_string(remainingByteCount()) + " bytes remain but " + std::to_string(count) +
            " were advanced.");
    pos += static_cast<std::size_t>(count);
}

DataView OSCValueDecoder::readNullTerminatedChunk() {
    static constexpr const char* tooShort =
        "Not enough bytes in 4-byte aligned null-terminated data chunk.";
    static constexpr const char* notTerminated =
        "4-byte aligned null-terminated data chunk does not terminate in null bytes as expected.";
    if (remainingByteCount() < 4) throw OSCDecodeError::malformed(tooShort);
    DataView rest = data.subspan(pos);
    auto nul = std::find(rest.begin(), rest.end(), std::uint8_t{0});
    if (nul == rest.end()) throw OSCDecodeError::malformed(notTerminated);
    auto k = static_cast<std::size_t>(nul - rest.begin());
    std::size_t length = k + (4 - k % 4);
    if (rest.size() < length) throw OSCDecodeError::malformed(tooShort);
    for (std::size_t i = k; i < length; ++i)
        if (rest[i] != 0) throw OSCDecodeError::malformed(notTerminated);
    advancePosition(static_cast<std::int64_t>(length));
    return rest.first(k);
}

std::string OSCValueDecoder::readASCIIString() {
    DataView chunk = readNullTerminatedChunk();
    // Byte for byte: a backslash is a backslash, never the start of an escape.
    for (std::uint8_t b : chunk)
        if (b >= 0x80)
            throw OSCDecodeError::malformed(
                "Failed to form valid ASCII string from 4-byte aligned null-terminated ASCII "
                "string chunk. Non-ASCII characters may be present or the data is malformed.");
    return std::string(chunk.begin(), chunk.end());
}

DataView OSCValueDecoder::readBlob() {
    static constexpr const char* badLength =
        "Failed to read Int32 length chunk at start of 4-byte aligned null-terminated blob data "
        "chunk.";
    std::int32_t length = 0;
    try {
        length = readInt32();
    } catch (const OSCDecodeError&) {
        throw OSCDecodeError::malformed(badLength);
    }
    if (length > 65506) throw OSCDecodeError::malformed(badLength);
    if (length < 0)
        throw OSCDecodeError::malformed("Blob length is negative: " + std::to_string(length) + ".");
    auto n = static_cast<std::size_t>(length);
    std::size_t pad = blobPadCount(n);
    if (remainingByteCount() < n)
        throw OSCDecodeError::malformed(
            "Encoded blob chunk length is greater than the available data length.");
    if (remainingByteCount() < n + pad)
        throw OSCDecodeError::malformed(
            "Not enough bytes in 4-byte aligned null-terminated blob data chunk.");
    for (std::size_t i = 0; i < pad; ++i)
        if (data[pos + n + i] != 0)
            throw OSCDecodeError::malformed(
                "Expected 4-byte null terminated data but expected null bytes were not found.");
    DataView out = data.subspan(pos, n);
    advancePosition(static_cast<std::int64_t>(n + pad));
    return out;
}

void padToFourBytes(Data& data) {
    data.insert(data.end(), 4 - data.size() % 4, std::uint8_t{0});
}

Data paddedToFourBytes(DataView data) {
    Data out;
    out.reserve(data.size() + 4);
    out.assign(data.begin(), data.end());
    padToFourBytes(out);
    return out;
}

}  // namespace rozuri
