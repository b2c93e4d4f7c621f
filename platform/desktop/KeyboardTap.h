#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace desktop {

// A key event as the keyboard tap reports it.
struct KeyEvent {
    enum class Type { keyDown = 10, keyUp = 11, flagsChanged = 12 };
    // Modifier bits (X11's masks).
    enum Modifier : std::uint32_t {
        shift = 1u << 0,
        capsLock = 1u << 1,
        control = 1u << 2,
        alt = 1u << 3,
        super = 1u << 6,
    };

    Type type = Type::keyDown;
    // The key's keysym without modifiers applied (level 0), e.g. 0x68 for the H key.
    std::uint32_t keysym = 0;
    std::uint32_t modifiers = 0;

    // "Command" on this platform: Ctrl or Super.
    bool commandHeld() const { return (modifiers & (control | super)) != 0; }
    bool shiftHeld() const { return (modifiers & shift) != 0; }
};

inline constexpr std::uint32_t kKeysymH = 0x68;  // XK_h

// Why a keyboard tap could not be made: one line for the log, and whether trying again later
// may succeed (another program holds the keyboard for now).
struct KeyboardTapFailure {
    std::string cause;
    bool retryable = false;
};

// A session-wide keyboard hold. While enabled, every key event of the session goes to the
// callback and to no other window; the callback's answer says whether the event would be passed
// on (X11 cannot pass a grabbed event on, so the answer is informational there).
class KeyboardTap {
  public:
    using Callback = std::function<bool(const KeyEvent&)>;

    virtual ~KeyboardTap() = default;

    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

}  // namespace desktop
