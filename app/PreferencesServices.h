#pragma once

#include <QObject>
#include <QRect>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"

namespace mantleshade {

// One connected screen as the monitor list shows it.
struct ConnectedScreen {
    std::optional<std::uint32_t> displayID;  // absent when the screen has none
    std::string localizedName;
    QRect frame;  // in global desktop coordinates

    friend bool operator==(const ConnectedScreen&, const ConnectedScreen&) = default;
};

// What the Preferences window asks of the rest of the application and of the desktop. The
// application passes the real one; tests pass fakes. Main thread only.
class PreferencesServices : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // OSC remote control.
    virtual bool serverIsListening() const = 0;
    virtual std::optional<std::int64_t> currentListeningPort() const = 0;
    // Restarts listening; the manager reads the stored port again.
    virtual void startListening() = 0;

    // The desktop.
    virtual bool isAccessibilityTrusted() = 0;
    // Asks the desktop to prompt for the permission; does not wait for the answer.
    virtual void requestAccessibilityPermission() = 0;
    // True: a taskbar entry (regular activation policy); false: none (accessory).
    virtual void setShowsDockIcon(bool shows) = 0;
    // The screens in the system's order, the primary first.
    virtual std::vector<ConnectedScreen> screens() = 0;
    // The screen that holds the focused window, if any.
    virtual std::optional<ConnectedScreen> mainScreen() = 0;

    // The open panel for one image or movie; nullopt when cancelled.
    virtual std::optional<foundation::URL> chooseMedia() = 0;
    // Shows the file in the file manager, selected.
    virtual void revealInFileManager(const foundation::URL& url) = 0;

  signals:
    // serverIsListening or currentListeningPort changed.
    void oscStateChanged();
};

}  // namespace mantleshade
