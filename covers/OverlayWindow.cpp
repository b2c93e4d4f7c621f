#include "covers/OverlayWindow.h"

#include "covers/FullscreenImageOverlay.h"
#include "platform/dispatch/Queue.h"

namespace mantleshade {

OverlayWindow::OverlayWindow(std::unique_ptr<desktop::Window> window,
                             std::weak_ptr<desktop::WindowSystem> system)
    : window_(std::move(window)), system_(std::move(system)) {
    window_->setEventHandler(this);
}

OverlayWindow::~OverlayWindow() {
    window_->setEventHandler(nullptr);
    if (auto system = system_.lock()) system->recycleWindow(std::move(window_));
}

void OverlayWindow::mouseDown() {
    requestHide(false);
}

void OverlayWindow::keyDown() {
    requestHide(false);
}

bool OverlayWindow::performKeyEquivalent() {
    requestHide(false);
    return false;
}

void OverlayWindow::flagsChanged() {
    requestHide(true);
}

void OverlayWindow::requestHide(bool modifierRule) {
    auto engine = overlay.lock();
    if (!engine) return;
    // Lock Out without the keyboard in hand (no trust, or the grab refused for now) leaves the
    // modifier keys as the way out.
    bool allowed = engine->allowUserInteraction() ||
                   (modifierRule && (!engine->windowSystem().isProcessTrusted() ||
                                     !engine->isKeyboardTapInForce()));
    if (!allowed) return;
    // Through the main queue, so the windows close outside their own event handling.
    std::weak_ptr<FullscreenImageOverlay> weak = engine;
    dispatch::Queue::main()->async([weak] {
        if (auto strong = weak.lock()) strong->hideOverlays();
    });
}

}  // namespace mantleshade
