#pragma once

#include <memory>

#include <QAbstractNativeEventFilter>

#include "platform/desktop/KeyboardTap.h"

namespace desktop {

// The keyboard tap on X11: an active grab of the keyboard on the root window, so every key event
// of the session comes to this process and no other window sees it. The grab also takes key
// releases and modifier keys, which X11 cannot hand on; the server's key state stays right, so
// nothing is left held when the grab ends.
class X11KeyboardTap final : public KeyboardTap, public QAbstractNativeEventFilter {
  public:
    // Null when not on X11 or when the keyboard cannot be taken now (another client holds it),
    // with the reason in `failure` when given. Makes one attempt and never waits.
    static std::unique_ptr<X11KeyboardTap> create(Callback callback,
                                                  KeyboardTapFailure* failure = nullptr);
    ~X11KeyboardTap() override;

    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return enabled_; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    explicit X11KeyboardTap(Callback callback);
    bool grab(KeyboardTapFailure* failure);
    void ungrab();

    Callback callback_;
    bool enabled_ = false;
};

}  // namespace desktop
