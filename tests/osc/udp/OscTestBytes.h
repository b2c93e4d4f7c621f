#pragma once

// OSC wire bytes built by hand, so the transport tests do not lean on the encoder.

#include <cstdint>
#include <string>
#include <vector>

#include "osc/core/Data.h"

namespace udptest {

inline void appendPadded(rozuri::Data& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    do {
        out.push_back(0);
    } while (out.size() % 4 != 0);
}

inline void appendBE32(rozuri::Data& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline void appendBE64(rozuri::Data& out, std::uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A message with int32 arguments.
inline rozuri::Data oscMessage(const std::string& address,
                               const std::vector<std::int32_t>& ints = {}) {
    rozuri::Data out;
    appendPadded(out, address);
    appendPadded(out, "," + std::string(ints.size(), 'i'));
    for (auto v : ints) appendBE32(out, static_cast<std::uint32_t>(v));
    return out;
}

// A bundle of already encoded elements.
inline rozuri::Data oscBundle(std::uint64_t timeTag, const std::vector<rozuri::Data>& elements) {
    rozuri::Data out;
    appendPadded(out, "#bundle");
    appendBE64(out, timeTag);
    for (const auto& e : elements) {
        appendBE32(out, static_cast<std::uint32_t>(e.size()));
        out.insert(out.end(), e.begin(), e.end());
    }
    return out;
}

}  // namespace udptest
