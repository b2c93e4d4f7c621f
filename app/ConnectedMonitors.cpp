#include "app/ConnectedMonitors.h"

#include "app/MonitorOutlineWindow.h"
#include "app/PreferencesSettings.h"
#include "covers/OverlayData.h"

namespace mantleshade {

ConnectedMonitors::ConnectedMonitors(PreferencesSettings& settings, PreferencesServices& services,
                                     QObject* parent)
    : QObject(parent), settings_(settings), services_(services), screens_(services.screens()) {}

ConnectedMonitors::~ConnectedMonitors() {
    removeHighlightWindows();
}

void ConnectedMonitors::setSelectedScreenID(std::optional<std::uint32_t> id) {
    if (id == selectedScreenID_) return;
    selectedScreenID_ = id;
    emit selectedScreenIDChanged();
    selectedScreenChanged(id);
}

bool ConnectedMonitors::identifyMonitors() const {
    return settings_.identifyMonitors();
}

void ConnectedMonitors::setIdentifyMonitors(bool value) {
    if (value == identifyMonitors()) return;
    settings_.setIdentifyMonitors(value);
    identifyMonitorsChanged(value);
}

void ConnectedMonitors::refreshScreens() {
    screens_ = services_.screens();
    emit screensChanged();
    if (screenFor(selectedScreenID_)) return;
    std::optional<std::uint32_t> first;
    if (!screens_.empty()) first = screens_.front().displayID;
    if (first == selectedScreenID_) {
        // The selection value stays, yet the screen it named is gone: drop its outline.
        showHighlightWindows(std::nullopt);
        return;
    }
    setSelectedScreenID(first);
}

void ConnectedMonitors::identifyMonitorsChanged(bool value) {
    if (!value) {
        removeHighlightWindows();
        return;
    }
    showHighlightWindows(screenFor(selectedScreenID_));
}

void ConnectedMonitors::selectedScreenChanged(std::optional<std::uint32_t> id) {
    showHighlightWindows(screenFor(id));
}

void ConnectedMonitors::highlightSelectedScreen() {
    showHighlightWindows(screenFor(selectedScreenID_));
}

void ConnectedMonitors::showHighlightWindows(const std::optional<ConnectedScreen>& screen) {
    removeHighlightWindows();
    if (!settings_.identifyMonitors() || !screen) return;
    auto window = std::make_unique<MonitorOutlineWindow>(screen->frame);
    window->show();
    window->raise();
    highlightWindows_.push_back(std::move(window));
}

void ConnectedMonitors::removeHighlightWindows() {
    for (auto& window : highlightWindows_) {
        window->hide();
        window->close();
    }
    highlightWindows_.clear();
}

std::optional<ConnectedScreen> ConnectedMonitors::screenFor(std::optional<std::uint32_t> id) const {
    for (const ConnectedScreen& screen : screens_)
        if (screen.displayID == id) return screen;
    return std::nullopt;
}

std::string ConnectedMonitors::screenIcon(const ConnectedScreen& screen) const {
    std::optional<ConnectedScreen> main = services_.mainScreen();
    return main && *main == screen ? "laptopcomputer" : "display";
}

std::string ConnectedMonitors::displayIDKey(std::optional<std::uint32_t> id) {
    return id ? mantleshade::displayIDKey(*id) : "0";
}

}  // namespace mantleshade
