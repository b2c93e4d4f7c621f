#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "covers/OverlayData.h"

namespace foundation {
class UserDefaults;
}

namespace mantleshade {

// The settings the Preferences window edits, bound to their defaults keys: each read goes to the
// store, each write goes to it at once, and an absent key reads as its default without writing it.
class PreferencesSettings {
  public:
    static constexpr const char* kPortKey = "oscPort";
    static constexpr const char* kShowInDockKey = "showInDock";
    static constexpr const char* kLockOutKey = "LockOut";
    static constexpr const char* kOverlaysKey = "overlays";
    static constexpr const char* kIdentifyMonitorsKey = "identify-monitors";
    static constexpr std::int64_t kDefaultPort = 5000;
    static constexpr std::size_t kCoverCount = 5;

    // Makes this window's default cover list (fresh ids).
    explicit PreferencesSettings(foundation::UserDefaults& defaults);

    foundation::UserDefaults& defaults() const { return defaults_; }

    std::int64_t port() const;
    void setPort(std::int64_t port);
    bool showInDock() const;
    void setShowInDock(bool value);
    bool lockOut() const;
    void setLockOut(bool value);
    bool identifyMonitors() const;
    void setIdentifyMonitors(bool value);

    // The stored cover list; the default list when none decodes. A stored list shorter than five
    // is completed with this window's default covers, so that every editable ID has a cover.
    std::vector<OverlayData> overlays() const;
    // Stores the whole list; false (and the stored text kept) when it cannot be encoded or saved.
    bool setOverlays(const std::vector<OverlayData>& overlays);
    // One whole-list edit: read the list, change cover `index` (0-based), store the whole list.
    // Does nothing for an index outside the list.
    bool editOverlay(std::size_t index, const std::function<void(OverlayData&)>& change);
    const std::vector<OverlayData>& defaultOverlays() const { return defaultOverlays_; }

    // True for the keys above: a change of one of them redraws the window.
    static bool isSettingsKey(const std::string& key);

    // Five covers: fresh id, no media, one media for all screens, empty name.
    static std::vector<OverlayData> makeDefaultOverlays();
    // The stored text of a list: its JSON array as UTF-8, or "" when it cannot be encoded.
    static std::string rawValue(const std::vector<OverlayData>& overlays);
    // The list a stored text holds, or nullopt for anything but a JSON array of covers.
    static std::optional<std::vector<OverlayData>> overlaysFromRawValue(const std::string& text);

    // The header's version text: "1.2 (34)" with a build, "1.2" without, "1.0" without either.
    static std::string versionString(const std::optional<std::string>& shortVersion,
                                     const std::optional<std::string>& build);
    // The running application's version text: the short version is the application version,
    // the build the application's "CFBundleVersion" property.
    static std::string applicationVersionString();

  private:
    foundation::UserDefaults& defaults_;
    std::vector<OverlayData> defaultOverlays_;
};

}  // namespace mantleshade
