#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace rozuri {

// How OSC packets are delimited on a TCP stream; fixed when a client or server is made.
enum class OSCTCPFramingMode : std::uint8_t {
    // Each packet preceded by its byte count, 4 bytes, most significant first.
    osc1_0 = 0,
    // SLIP (RFC 1055) with an END byte before and after each packet.
    osc1_1 = 1,
    // Bare packets; each read is taken as one packet. Not offered in allCases.
    none = 2,
};

// The modes users may choose; `none` is reserved.
inline constexpr std::array<OSCTCPFramingMode, 2> allOSCTCPFramingModes{OSCTCPFramingMode::osc1_0,
                                                                        OSCTCPFramingMode::osc1_1};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCTCPFramingMode> {
    std::size_t operator()(rozuri::OSCTCPFramingMode mode) const noexcept {
        return std::hash<int>{}(static_cast<int>(mode));
    }
};
