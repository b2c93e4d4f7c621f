#pragma once

#include "platform/desktop/WindowSystem.h"

namespace desktop {

// WindowSystem on Qt: CoverWindow, QtLoopingPlayer, QImageReader and, on X11, X11KeyboardTap.
class QtWindowSystem final : public WindowSystem {
  public:
    std::vector<Screen> screens() const override;
    std::unique_ptr<Window> createWindow(const Screen& screen) override;
    std::shared_ptr<LoopingPlayer> createLoopingPlayer(const foundation::URL& url) override;
    QImage loadImage(const foundation::URL& url) override;
    void activateIgnoringOtherApps() override;
    std::unique_ptr<KeyboardTap> createKeyboardTap(KeyboardTap::Callback callback,
                                                   KeyboardTapFailure* failure) override;
    bool isProcessTrusted() override;
};

}  // namespace desktop
