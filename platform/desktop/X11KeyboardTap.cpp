#include "platform/desktop/X11KeyboardTap.h"

#include <string>

#include <QCoreApplication>
#include <QGuiApplication>

// Xlib after Qt: its macros (Bool, Status) break Qt's headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

namespace desktop {

namespace {

struct X11 {
    Display* display = nullptr;
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
};

X11 x11() {
    X11 result;
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return result;
    auto* native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!native) return result;
    result.display = native->display();
    result.connection = native->connection();
    if (result.display) result.root = static_cast<xcb_window_t>(DefaultRootWindow(result.display));
    if (!result.connection || !result.root) return {};
    return result;
}

constexpr std::uint32_t kModifierMask =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

}  // namespace

std::unique_ptr<X11KeyboardTap> X11KeyboardTap::create(Callback callback,
                                                       KeyboardTapFailure* failure) {
    if (!x11().connection) {
        if (failure) *failure = {"no X11 display: the keyboard cannot be held here", false};
        return nullptr;
    }
    std::unique_ptr<X11KeyboardTap> tap(new X11KeyboardTap(std::move(callback)));
    KeyboardTapFailure why;
    if (!tap->grab(&why)) {
        if (failure) *failure = std::move(why);
        return nullptr;
    }
    tap->enabled_ = true;
    QCoreApplication::instance()->installNativeEventFilter(tap.get());
    return tap;
}

X11KeyboardTap::X11KeyboardTap(Callback callback) : callback_(std::move(callback)) {}

X11KeyboardTap::~X11KeyboardTap() {
    if (enabled_) ungrab();
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
}

void X11KeyboardTap::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    if (enabled) {
        enabled_ = grab(nullptr);
    } else {
        ungrab();
        enabled_ = false;
    }
}

bool X11KeyboardTap::grab(KeyboardTapFailure* failure) {
    X11 x = x11();
    if (!x.connection) return false;
    // One attempt: the caller retries on its own schedule, so the main thread never waits here.
    auto cookie = xcb_grab_keyboard(x.connection, 0, x.root, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC,
                                    XCB_GRAB_MODE_ASYNC);
    xcb_grab_keyboard_reply_t* reply = xcb_grab_keyboard_reply(x.connection, cookie, nullptr);
    const int status = reply ? reply->status : -1;
    free(reply);
    if (status == XCB_GRAB_STATUS_SUCCESS) return true;
    if (failure) {
        switch (status) {
            case XCB_GRAB_STATUS_ALREADY_GRABBED:
                *failure = {"keyboard held by another program; retrying", true};
                break;
            case XCB_GRAB_STATUS_FROZEN:
                *failure = {"keyboard frozen by another program's grab; retrying", true};
                break;
            case -1:
                *failure = {"the X server did not answer the keyboard grab", false};
                break;
            default:
                *failure = {"the X server refused the keyboard grab (status " +
                                std::to_string(status) + "); retrying",
                            true};
                break;
        }
    }
    return false;
}

void X11KeyboardTap::ungrab() {
    X11 x = x11();
    if (!x.connection) return;
    xcb_ungrab_keyboard(x.connection, XCB_CURRENT_TIME);
    xcb_flush(x.connection);
}

bool X11KeyboardTap::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!enabled_ || eventType != "xcb_generic_event_t") return false;
    auto* generic = static_cast<xcb_generic_event_t*>(message);
    std::uint8_t type = generic->response_type & 0x7f;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    auto* key = reinterpret_cast<xcb_key_press_event_t*>(generic);
    X11 x = x11();
    KeyEvent event;
    event.keysym =
        x.display ? static_cast<std::uint32_t>(XkbKeycodeToKeysym(x.display, key->detail, 0, 0))
                  : 0;
    event.modifiers = key->state & kModifierMask;
    if (IsModifierKey(event.keysym) || event.keysym == XK_Caps_Lock)
        event.type = KeyEvent::Type::flagsChanged;
    else
        event.type = type == XCB_KEY_PRESS ? KeyEvent::Type::keyDown : KeyEvent::Type::keyUp;
    // Keep a copy: the callback may end the tap (and this object) through the hide it posts.
    Callback callback = callback_;
    if (callback) callback(event);
    return true;
}

}  // namespace desktop
