#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/PreferencesServices.h"

namespace mantleshade {

class MonitorOutlineWindow;
class PreferencesSettings;

// The monitor list's logic: the screens read at creation and on refresh, the selected screen,
// and the red outline on the selected screen while "identify-monitors" is on. At most one
// outline window exists at a time.
class ConnectedMonitors : public QObject {
    Q_OBJECT

  public:
    ConnectedMonitors(PreferencesSettings& settings, PreferencesServices& services,
                      QObject* parent = nullptr);
    ~ConnectedMonitors() override;

    const std::vector<ConnectedScreen>& screens() const { return screens_; }
    std::optional<std::uint32_t> selectedScreenID() const { return selectedScreenID_; }
    // The list's selection; a change moves the outline.
    void setSelectedScreenID(std::optional<std::uint32_t> id);

    bool identifyMonitors() const;
    // The identify toggle: stores the setting, then shows or removes the outline.
    void setIdentifyMonitors(bool value);

    void refreshScreens();
    void identifyMonitorsChanged(bool value);
    void selectedScreenChanged(std::optional<std::uint32_t> id);
    // The list came on screen.
    void highlightSelectedScreen();
    void showHighlightWindows(const std::optional<ConnectedScreen>& screen);
    // The list left the screen, or before every show.
    void removeHighlightWindows();

    // The first screen whose display ID equals `id` (an absent id matches a screen without one).
    std::optional<ConnectedScreen> screenFor(std::optional<std::uint32_t> id) const;
    const std::vector<std::unique_ptr<MonitorOutlineWindow>>& highlightWindows() const {
        return highlightWindows_;
    }
    // "laptopcomputer" for the screen that holds the focused window, else "display".
    std::string screenIcon(const ConnectedScreen& screen) const;

    // The media key of a screen: its display ID in decimal, "0" without one.
    static std::string displayIDKey(std::optional<std::uint32_t> id);

  signals:
    void screensChanged();
    void selectedScreenIDChanged();

  private:
    PreferencesSettings& settings_;
    PreferencesServices& services_;
    std::vector<ConnectedScreen> screens_;
    std::optional<std::uint32_t> selectedScreenID_;
    std::vector<std::unique_ptr<MonitorOutlineWindow>> highlightWindows_;
};

}  // namespace mantleshade
