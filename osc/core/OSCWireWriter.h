#pragma once

// Writing a message whose values are already in wire form (numbers, ASCII text, bytes), straight
// into a buffer. Shared by the encoding of a built message and by OSCPacketWriter, so that both
// give the general encoder's bytes.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "osc/core/Data.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCTimeTag.h"

namespace rozuri {

// One argument in wire form: its tag and its payload.
struct OSCWireArgument {
    enum class Kind : std::uint8_t { bare, word, doubleWord, text, blob };

    // No default member values: a writer's array of these is left unfilled until used.
    char tag;
    Kind kind;
    std::uint64_t bits;   // word, doubleWord: written big-endian
    const void* bytes;    // text (ASCII, no NUL), blob
    std::size_t size;

    static OSCWireArgument bare(char tag) { return {tag, Kind::bare, 0, nullptr, 0}; }
    static OSCWireArgument word(char tag, std::uint32_t bits) {
        return {tag, Kind::word, bits, nullptr, 0};
    }
    static OSCWireArgument doubleWord(char tag, std::uint64_t bits) {
        return {tag, Kind::doubleWord, bits, nullptr, 0};
    }
    static OSCWireArgument text(char tag, std::string_view text) {
        return {tag, Kind::text, 0, text.data(), text.size()};
    }
    static OSCWireArgument blob(DataView bytes) {
        return {'b', Kind::blob, 0, bytes.data(), bytes.size()};
    }
};

// The fixed-size built-in kinds in wire form.
inline OSCWireArgument wireArgumentOf(std::int32_t v) {
    return OSCWireArgument::word('i', static_cast<std::uint32_t>(v));
}
inline OSCWireArgument wireArgumentOf(float v) {
    return OSCWireArgument::word('f', std::bit_cast<std::uint32_t>(v));
}
inline OSCWireArgument wireArgumentOf(double v) {
    return OSCWireArgument::doubleWord('d', std::bit_cast<std::uint64_t>(v));
}
inline OSCWireArgument wireArgumentOf(std::int64_t v) {
    return OSCWireArgument::doubleWord('h', static_cast<std::uint64_t>(v));
}
inline OSCWireArgument wireArgumentOf(bool v) {
    return OSCWireArgument::bare(v ? 'T' : 'F');
}
// The era is not sent.
inline OSCWireArgument wireArgumentOf(const OSCTimeTag& v) {
    return OSCWireArgument::doubleWord('t', v.rawValue());
}
inline OSCWireArgument wireArgumentOf(const OSCMIDIValue& v) {
    return OSCWireArgument::word('m', (std::uint32_t{v.portID} << 24) |
                                          (std::uint32_t{v.status} << 16) |
                                          (std::uint32_t{v.data1} << 8) | v.data2);
}

// Strings and blobs up to this size are written directly; larger ones go through the general
// encoder, which owns the length limits.
constexpr std::size_t kWirePayloadLimit = 65536;

// Text that goes on the wire as it is: ASCII without NUL, within the direct limit.
bool isWireReadyText(std::string_view text);

// Arguments per message the direct writer takes; longer lists use the general encoder.
constexpr std::size_t kWireArgumentLimit = 31;

// Appends the message: address field, tag field, payloads, each padded. The address and texts
// must be wire-ready and there must be at most kWireArgumentLimit arguments.
void appendWireMessage(Data& out, std::string_view address,
                       std::span<const OSCWireArgument> arguments);

}  // namespace rozuri
