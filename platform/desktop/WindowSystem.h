#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/KeyboardTap.h"
#include "platform/desktop/LoopingPlayer.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/Window.h"
#include "platform/foundation/URL.h"

class QImage;

namespace desktop {

// The platform services that cover windows need, behind one interface so that the cover engine
// can run against fakes. All of it belongs to the main thread.
class WindowSystem : public Screens {
  public:
    // A hidden cover window on `screen`, without content.
    virtual std::unique_ptr<Window> createWindow(const Screen& screen) = 0;
    // Takes back a window its owner is done with (ordered out and closed). The default deletes
    // it; a system may keep it for the next createWindow on the same screen.
    virtual void recycleWindow(std::unique_ptr<Window> window) { window.reset(); }
    // Readies a cover window for every screen ahead of the first show. Default: nothing.
    virtual void prepareWindows() {}
    // Image files that shows will load: decoded and scaled ahead, off the main thread, and again
    // when one changes. Default: nothing.
    virtual void prefetchImages(const std::vector<foundation::URL>& urls) { (void)urls; }
    // A new muted looping player for the file at `url`, not playing yet.
    virtual std::shared_ptr<LoopingPlayer> createLoopingPlayer(const foundation::URL& url) = 0;
    // The image in the file at `url`, at no more than the size the screens need; a null image
    // when it cannot be read, with the reason in `why` when given.
    virtual QImage loadImage(const foundation::URL& url, std::string* why = nullptr) = 0;
    // Brings the application to the front.
    virtual void activateIgnoringOtherApps() = 0;
    // Takes the session's keyboard and enables the tap; null when it cannot be taken, with the
    // reason in `failure` when given.
    virtual std::unique_ptr<KeyboardTap> createKeyboardTap(KeyboardTap::Callback callback,
                                                           KeyboardTapFailure* failure) = 0;
    // The Accessibility trust check without prompting.
    virtual bool isProcessTrusted() = 0;

    // The Qt/X11 implementation (needs a QApplication).
    static std::shared_ptr<WindowSystem> qt();
};

}  // namespace desktop
