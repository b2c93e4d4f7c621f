#pragma once

#include <map>
#include <memory>

#include <QString>

#include "platform/desktop/WindowSystem.h"

namespace desktop {

class CoverWindowPool;
class VideoPipeline;

// WindowSystem on Qt: CoverWindow (kept between shows in a CoverWindowPool), GstLoopingPlayer
// (one VideoPipeline per file, shared by the screens that show it),
// images through ImageCache and, on X11, X11KeyboardTap.
class QtWindowSystem final : public WindowSystem {
  public:
    QtWindowSystem();
    ~QtWindowSystem() override;

    std::vector<Screen> screens() const override;
    std::unique_ptr<Window> createWindow(const Screen& screen) override;
    void recycleWindow(std::unique_ptr<Window> window) override;
    void prepareWindows() override;
    void prefetchImages(const std::vector<foundation::URL>& urls) override;
    std::shared_ptr<LoopingPlayer> createLoopingPlayer(const foundation::URL& url) override;
    QImage loadImage(const foundation::URL& url, std::string* why = nullptr) override;
    void activateIgnoringOtherApps() override;
    std::unique_ptr<KeyboardTap> createKeyboardTap(KeyboardTap::Callback callback,
                                                   KeyboardTapFailure* failure) override;
    bool isProcessTrusted() override;

    // Windows kept for the next shows (tests).
    std::size_t keptWindowCount() const;

  private:
    std::unique_ptr<CoverWindowPool> pool_;
    std::map<QString, std::weak_ptr<VideoPipeline>> pipelines_;
};

}  // namespace desktop
