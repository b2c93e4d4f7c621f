#pragma once

namespace desktop {

// The stand-in for the platform's Accessibility trust. On X11 a process may hold the keyboard,
// so it counts as trusted unless its last attempt to take the keyboard failed; on other
// platforms (Wayland, offscreen) it never is.
class Accessibility {
  public:
    static bool isProcessTrusted();
    // The check with the prompt option: there is nothing to ask for, so it only checks.
    static bool isProcessTrustedWithPrompt(bool prompt);

    // Recorded by the keyboard tap after each attempt to take the keyboard.
    static void noteKeyboardGrabResult(bool succeeded);
};

}  // namespace desktop
