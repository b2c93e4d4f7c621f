#pragma once

#include <QMetaObject>

#include <memory>
#include <vector>

#include "platform/desktop/Screens.h"

class QScreen;

namespace desktop {

class CoverWindow;

// Cover windows kept hidden between shows, one per screen, with their native window and backing
// store, so that a show maps and paints a window instead of building one. A kept window holds no
// content and no input handler; it goes when its screen goes. Main thread.
class CoverWindowPool {
  public:
    CoverWindowPool();
    ~CoverWindowPool();
    CoverWindowPool(const CoverWindowPool&) = delete;
    CoverWindowPool& operator=(const CoverWindowPool&) = delete;

    // The kept window for `screen`, or null when there is none.
    std::unique_ptr<CoverWindow> take(const Screen& screen);
    // Keeps `window` hidden and empty for the next show on its screen; deletes it when its screen
    // is gone or another window is kept for it already.
    void put(std::unique_ptr<CoverWindow> window);
    // Builds a window for every screen in `screens` that has none, native window and backing
    // store included; from then on a screen that comes gets one too.
    void prepare(const std::vector<Screen>& screens);

    std::size_t size() const { return kept_.size(); }

  private:
    // Deletes the windows of screens no longer connected (and of `leaving`, which still is).
    void prune(QScreen* leaving = nullptr);
    bool has(QScreen* screen) const;

    std::vector<std::unique_ptr<CoverWindow>> kept_;
    bool prepared_ = false;
    QMetaObject::Connection added_, removed_;
};

}  // namespace desktop
