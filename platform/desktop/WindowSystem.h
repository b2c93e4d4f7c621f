#pragma once

#include <cstdint>
#include <memory>

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
    // A new, hidden cover window on `screen`.
    virtual std::unique_ptr<Window> createWindow(const Screen& screen) = 0;
    // A new muted looping player for the file at `url`, not playing yet.
    virtual std::shared_ptr<LoopingPlayer> createLoopingPlayer(const foundation::URL& url) = 0;
    // The image in the file at `url`; a null image when it cannot be read.
    virtual QImage loadImage(const foundation::URL& url) = 0;
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
