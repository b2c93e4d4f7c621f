#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop/Rect.h"

class QScreen;

namespace desktop {

// FNV-1a, 32 bits.
constexpr std::uint32_t fnv1a32(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

// A screen's display ID: the hash of its name, which stays the same across runs (connector or
// monitor name). A screen without a name has none.
constexpr std::optional<std::uint32_t> displayIDForScreenName(std::string_view name) {
    if (name.empty()) return std::nullopt;
    return fnv1a32(name);
}

// One connected screen as the rest of the system sees it.
struct Screen {
    std::string localizedName;
    std::optional<std::uint32_t> displayID;
    Rect frame;
    // The screen that holds the active window (or, with none active, the primary screen).
    bool isMain = false;
    // The Qt screen behind it; null for screens that tests make up.
    QScreen* qscreen = nullptr;
};

// The connected screens, read afresh at every call.
class Screens {
  public:
    virtual ~Screens() = default;

    // Qt's screen list in its order (primary first).
    virtual std::vector<Screen> screens() const = 0;

    // The entry of screens() marked isMain, if any.
    std::optional<Screen> mainScreen() const;

    // The screens of the running QGuiApplication (none without one).
    static std::shared_ptr<Screens> system();

    // Builds the entry for one Qt screen (isMain left false).
    static Screen fromQScreen(QScreen* screen);
};

}  // namespace desktop
