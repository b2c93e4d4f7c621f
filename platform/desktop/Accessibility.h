#pragma once

namespace desktop {

// The stand-in for the platform's Accessibility trust. X11 has no such permission: any client
// may take the keyboard, so the check is true there (a grab refused because another program
// holds the keyboard is not a missing permission). Wayland and offscreen have no global keyboard
// grab, so the check is false there.
class Accessibility {
  public:
    static bool isProcessTrusted();
    // The check with the prompt option: there is nothing to ask for, so it only checks.
    static bool isProcessTrustedWithPrompt(bool prompt);
};

}  // namespace desktop
