#pragma once

// The two TCP framings of OSC packets as pure functions on byte buffers: a 4-byte length header
// per packet, or SLIP. They keep no state between calls; a stream cut into arbitrary reads is
// de-framed by OSCTCPStreamDeframer instead.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/OSCTCPFramingMode.h"

namespace rozuri {

// The length-header decoder's refusal.
class OSCTCPPacketLengthHeaderDecodingError : public std::exception {
  public:
    enum class Kind { notEnoughBytes = 0 };

    static OSCTCPPacketLengthHeaderDecodingError notEnoughBytes() { return {}; }

    Kind kind() const { return Kind::notEnoughBytes; }
    // "Note enough bytes.", kept as it stands: callers may compare it.
    std::string localizedDescription() const { return what(); }
    const char* what() const noexcept override { return "Note enough bytes."; }

    friend bool operator==(const OSCTCPPacketLengthHeaderDecodingError&,
                           const OSCTCPPacketLengthHeaderDecodingError&) {
        return true;
    }
};

// The SLIP decoder's refusals.
class OSCTCPSLIPDecodingError : public std::exception {
  public:
    enum class Kind { doubleEscapeBytes = 0, missingEscapedCharacter = 1 };

    explicit OSCTCPSLIPDecodingError(Kind kind) : kind_(kind) {}
    static OSCTCPSLIPDecodingError doubleEscapeBytes() {
        return OSCTCPSLIPDecodingError(Kind::doubleEscapeBytes);
    }
    static OSCTCPSLIPDecodingError missingEscapedCharacter() {
        return OSCTCPSLIPDecodingError(Kind::missingEscapedCharacter);
    }

    Kind kind() const { return kind_; }
    std::string localizedDescription() const { return what(); }
    const char* what() const noexcept override;

    friend bool operator==(const OSCTCPSLIPDecodingError& a, const OSCTCPSLIPDecodingError& b) {
        return a.kind_ == b.kind_;
    }

  private:
    Kind kind_;
};

// SLIP byte values.
namespace slip {
inline constexpr std::uint8_t end = 0xC0;
inline constexpr std::uint8_t esc = 0xDB;
inline constexpr std::uint8_t escEnd = 0xDC;
inline constexpr std::uint8_t escEsc = 0xDD;
}  // namespace slip

// The largest payload a length header can describe.
inline constexpr std::uint64_t maxLengthHeaderPayload = 0xFFFFFFFFu;

// The payload's byte count as 4 bytes in the given order, then the payload. A payload of 2^32
// bytes or more throws OSCEncodeError: its count does not fit the header.
Data packetLengthHeaderEncoded(DataView payload, NumberEndianness endianness);

// Every length-prefixed payload of the chunk, in order. A chunk that ends inside a header or a
// payload throws OSCTCPPacketLengthHeaderDecodingError, and none of its payloads is returned.
std::vector<Data> packetLengthHeaderDecoded(DataView chunk, NumberEndianness endianness);

// END, the payload with 0xC0 and 0xDB escaped, END.
Data slipEncoded(DataView payload);

// Every non-empty SLIP frame of the chunk, in order; bytes after the last END form a last
// frame. A malformed escape throws OSCTCPSLIPDecodingError, and none of the frames is returned.
std::vector<Data> slipDecoded(DataView chunk);

// A packet's bytes framed for writing in the given mode, as the TCP client and server send them:
// osc1_0 with a big-endian length header, osc1_1 as SLIP, none unchanged. Throws OSCEncodeError
// for a packet too long for a length header.
Data framedPacket(DataView packet, OSCTCPFramingMode mode);

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCTCPPacketLengthHeaderDecodingError> {
    std::size_t operator()(const rozuri::OSCTCPPacketLengthHeaderDecodingError&) const noexcept {
        return std::hash<int>{}(0);
    }
};

template <>
struct std::hash<rozuri::OSCTCPSLIPDecodingError> {
    std::size_t operator()(const rozuri::OSCTCPSLIPDecodingError& e) const noexcept {
        return std::hash<int>{}(static_cast<int>(e.kind()));
    }
};
