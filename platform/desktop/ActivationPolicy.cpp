#include "platform/desktop/ActivationPolicy.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace desktop {

namespace {

ActivationPolicy gPolicy = ActivationPolicy::accessory;
std::vector<QPointer<QWidget>> gWindows;

xcb_connection_t* x11Connection() {
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        return x11->connection();
    }
    return nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    const xcb_atom_t a = reply->atom;
    std::free(reply);
    return a;
}

bool skipsTaskbar(ActivationPolicy policy) {
    return policy != ActivationPolicy::regular;
}

std::vector<xcb_atom_t> readNetWmState(xcb_connection_t* c, xcb_window_t w, xcb_atom_t state) {
    std::vector<xcb_atom_t> atoms;
    auto cookie = xcb_get_property(c, 0, w, state, XCB_ATOM_ATOM, 0, 64);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr);
    if (!reply) return atoms;
    if (reply->type == XCB_ATOM_ATOM && reply->format == 32) {
        auto* data = static_cast<xcb_atom_t*>(xcb_get_property_value(reply));
        atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return atoms;
}

// Mapped windows ask the window manager (EWMH client message); unmapped ones carry the state in
// their property, which the window manager reads when they are mapped.
void apply(QWidget* widget) {
    xcb_connection_t* c = x11Connection();
    if (!c || !widget) return;
    QWindow* handle = widget->windowHandle();
    if (!handle) return;  // not created yet: applied again when shown
    const auto window = static_cast<xcb_window_t>(handle->winId());
    const xcb_atom_t state = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t skipPager = atom(c, "_NET_WM_STATE_SKIP_PAGER");
    if (state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE) return;
    const bool skip = skipsTaskbar(gPolicy);

    std::vector<xcb_atom_t> atoms = readNetWmState(c, window, state);
    std::erase_if(atoms, [&](xcb_atom_t a) { return a == skipTaskbar || a == skipPager; });
    if (skip) {
        atoms.push_back(skipTaskbar);
        atoms.push_back(skipPager);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());

    if (widget->isVisible()) {
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = state;
        event.data.data32[0] = skip ? 1 : 0;  // _NET_WM_STATE_ADD / _REMOVE
        event.data.data32[1] = skipTaskbar;
        event.data.data32[2] = skipPager;
        event.data.data32[3] = 1;  // source: an application
        if (screen) {
            xcb_send_event(
                c, 0, screen->root,
                XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                reinterpret_cast<const char*>(&event));
        }
    }
    xcb_flush(c);
}

// Re-applies when a registered window is (re)created or shown: Qt rewrites _NET_WM_STATE then.
class ShowWatcher : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show || event->type() == QEvent::WinIdChange) {
            apply(qobject_cast<QWidget*>(object));
        }
        return false;
    }
};

}  // namespace

ActivationPolicy activationPolicy() {
    return gPolicy;
}

void setActivationPolicy(ActivationPolicy policy) {
    gPolicy = policy;
    std::erase_if(gWindows, [](const QPointer<QWidget>& w) { return w.isNull(); });
    for (const auto& w : gWindows) apply(w);
}

void registerApplicationWindow(QWidget* window) {
    if (!window) return;
    std::erase_if(gWindows, [](const QPointer<QWidget>& w) { return w.isNull(); });
    if (std::any_of(gWindows.begin(), gWindows.end(),
                    [&](const QPointer<QWidget>& w) { return w == window; })) {
        return;
    }
    gWindows.emplace_back(window);
    window->installEventFilter(new ShowWatcher(window));
    apply(window);
}

void activateIgnoringOtherApps(QWidget* window) {
    if (!window || gPolicy == ActivationPolicy::prohibited) return;
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
}

bool isSkippingTaskbar(QWidget* window) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window || !window->windowHandle()) return false;
    const xcb_atom_t skip = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const auto atoms =
        readNetWmState(c, static_cast<xcb_window_t>(window->winId()), atom(c, "_NET_WM_STATE"));
    return std::find(atoms.begin(), atoms.end(), skip) != atoms.end();
}

}  // namespace desktop
