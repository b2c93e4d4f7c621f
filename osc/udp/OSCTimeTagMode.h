#pragma once

#include <cstdint>

namespace rozuri {

// Whether a receiver honours the time tags of bundles.
enum class OSCTimeTagMode : std::uint8_t {
    // A message in a bundle tagged in the future is delivered at that time.
    osc1_0 = 0,
    // Every message is delivered at once; time tags are passed on but never wait.
    ignore = 1,
};

}  // namespace rozuri
