#pragma once

#include <cstdint>

namespace mantleshade {

// The cover engine's remote-control interface. Holders keep it weakly (std::weak_ptr).
class OSCDelegate {
  public:
    virtual ~OSCDelegate() = default;

    // Shows the cover with this 1-based ID (its position in the stored list).
    virtual void showOverlay(std::int64_t id) = 0;
    // Hides every cover.
    virtual void clear() = 0;
    // A black cover on every screen.
    virtual void blackout() = 0;
};

}  // namespace mantleshade
