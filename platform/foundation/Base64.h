#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Standard alphabet (RFC 4648 section 4), padded with '='.
std::string base64Encode(std::span<const std::uint8_t> data);

// Strict inverse of base64Encode: padded, standard alphabet, no whitespace, zero pad bits.
// Anything else is nullopt.
std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text);

}  // namespace foundation
