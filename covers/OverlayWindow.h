#pragma once

#include <memory>

#include "platform/desktop/Window.h"
#include "platform/desktop/WindowSystem.h"

namespace mantleshade {

class FullscreenImageOverlay;

// One cover window: the platform window plus the input rules of a cover. A press or click asks
// the engine to hide every cover when its user interaction is allowed; a modifier change also
// does while Lock Out has no keyboard tap in force (no Accessibility trust, or the grab refused
// for now). The
// hide always goes through the main queue. A window whose engine is gone ignores every event.
class OverlayWindow final : public desktop::WindowEventHandler {
  public:
    // `system`, when given, takes the platform window back when this one goes (it may keep it
    // for the next show); otherwise the platform window is deleted.
    explicit OverlayWindow(std::unique_ptr<desktop::Window> window,
                           std::weak_ptr<desktop::WindowSystem> system = {});
    ~OverlayWindow() override;
    OverlayWindow(const OverlayWindow&) = delete;
    OverlayWindow& operator=(const OverlayWindow&) = delete;

    // The engine that owns the window; empty until the engine sets it.
    std::weak_ptr<FullscreenImageOverlay> overlay;

    desktop::Window& window() { return *window_; }
    const desktop::Window& window() const { return *window_; }

    bool canBecomeKeyWindow() const { return true; }
    bool canBecomeMainWindow() const { return true; }
    bool acceptsFirstResponder() const { return true; }

    void mouseDown() override;
    void keyDown() override;
    // Always false, so the event goes on to keyDown.
    bool performKeyEquivalent() override;
    void flagsChanged() override;

  private:
    void requestHide(bool evenWithoutInteraction);

    std::unique_ptr<desktop::Window> window_;
    std::weak_ptr<desktop::WindowSystem> system_;
};

}  // namespace mantleshade
