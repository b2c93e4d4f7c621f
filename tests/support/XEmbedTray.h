#pragma once

// A stand-in system tray for tests: owns the XEmbed tray selection of screen 0 and announces it,
// as a tray does, so applications see a tray. It embeds nothing; dock requests are only counted.
// Header-only; needs xcb.

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace testsupport {

class XEmbedTray {
  public:
    // Takes the selection on `display` (":N"); ok() is false when it could not.
    explicit XEmbedTray(const std::string& display)
        : connection_(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(connection_)) return;
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, -1, -1, 1, 1,
                          0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t selection = atom("_NET_SYSTEM_TRAY_S0");
        xcb_set_selection_owner(connection_, window_, selection, XCB_CURRENT_TIME);
        // The MANAGER announcement tells running clients that a tray has appeared.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = screen->root;
        event.type = atom("MANAGER");
        event.data.data32[0] = XCB_CURRENT_TIME;
        event.data.data32[1] = selection;
        event.data.data32[2] = window_;
        xcb_send_event(connection_, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
        auto* owner = xcb_get_selection_owner_reply(
            connection_, xcb_get_selection_owner(connection_, selection), nullptr);
        ok_ = owner && owner->owner == window_;
        free(owner);
        opcode_ = atom("_NET_SYSTEM_TRAY_OPCODE");
    }
    ~XEmbedTray() { xcb_disconnect(connection_); }
    XEmbedTray(const XEmbedTray&) = delete;
    XEmbedTray& operator=(const XEmbedTray&) = delete;

    bool ok() const { return ok_; }

    // Reads what has arrived; answers the number of dock requests seen so far.
    int dockRequests() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            // SYSTEM_TRAY_REQUEST_DOCK is opcode 0.
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == opcode_ &&
                message->data.data32[1] == 0)
                ++docks_;
            free(event);
        }
        return docks_;
    }

  private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        free(reply);
        return value;
    }

    xcb_connection_t* connection_;
    xcb_window_t window_ = 0;
    xcb_atom_t opcode_ = XCB_ATOM_NONE;
    bool ok_ = false;
    int docks_ = 0;
};

}  // namespace testsupport
