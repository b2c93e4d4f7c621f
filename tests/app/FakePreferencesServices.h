#pragma once

#include <QApplication>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/PreferencesServices.h"

namespace testsupport {

// The application and desktop as the Preferences tests drive them: every call is recorded and
// every answer is set by the test.
class FakePreferencesServices : public mantleshade::PreferencesServices {
  public:
    bool listening = false;
    std::optional<std::int64_t> listeningPort;
    // What startListening() leads to: the port it "binds", or nullopt for a failed start.
    std::function<std::optional<std::int64_t>()> onStart;
    int startCount = 0;

    bool trusted = true;
    int trustChecks = 0;
    int permissionRequests = 0;
    std::vector<bool> dockChanges;

    std::vector<mantleshade::ConnectedScreen> screenList;
    std::optional<mantleshade::ConnectedScreen> main;

    std::vector<std::optional<foundation::URL>> choices;  // answered in order; empty: cancel
    int chooseCount = 0;
    std::vector<foundation::URL> revealed;

    bool serverIsListening() const override { return listening; }
    std::optional<std::int64_t> currentListeningPort() const override { return listeningPort; }
    void startListening() override {
        ++startCount;
        std::optional<std::int64_t> port = onStart ? onStart() : std::nullopt;
        listening = port.has_value();
        listeningPort = port;
        emit oscStateChanged();
    }
    void setState(bool isListening, std::optional<std::int64_t> port) {
        listening = isListening;
        listeningPort = port;
        emit oscStateChanged();
    }

    bool isAccessibilityTrusted() override {
        ++trustChecks;
        return trusted;
    }
    void requestAccessibilityPermission() override { ++permissionRequests; }
    void setShowsDockIcon(bool shows) override { dockChanges.push_back(shows); }
    std::vector<mantleshade::ConnectedScreen> screens() override { return screenList; }
    std::optional<mantleshade::ConnectedScreen> mainScreen() override { return main; }

    std::optional<foundation::URL> chooseMedia() override {
        ++chooseCount;
        if (choices.empty()) return std::nullopt;
        std::optional<foundation::URL> next = choices.front();
        choices.erase(choices.begin());
        return next;
    }
    void revealInFileManager(const foundation::URL& url) override { revealed.push_back(url); }
};

inline mantleshade::ConnectedScreen makeScreen(std::optional<std::uint32_t> id, std::string name,
                                               QRect frame) {
    return mantleshade::ConnectedScreen{id, std::move(name), frame};
}

// The two screens of the offscreen test platform.
inline std::vector<mantleshade::ConnectedScreen> twoScreens() {
    return {makeScreen(101, "OffscreenLeft", QRect(0, 0, 1920, 1080)),
            makeScreen(202, "OffscreenRight", QRect(1920, 0, 1280, 1024))};
}

}  // namespace testsupport
