#include "app/PreferencesSettings.h"

#include <QCoreApplication>
#include <QVariant>
#include <cstdio>

#include "platform/foundation/UserDefaults.h"

namespace mantleshade {

PreferencesSettings::PreferencesSettings(foundation::UserDefaults& defaults)
    : defaults_(defaults), defaultOverlays_(makeDefaultOverlays()) {}

std::int64_t PreferencesSettings::port() const {
    return defaults_.integerOr(kPortKey, kDefaultPort);
}
void PreferencesSettings::setPort(std::int64_t port) {
    defaults_.set(kPortKey, port);
}

bool PreferencesSettings::showInDock() const {
    return defaults_.boolOr(kShowInDockKey, false);
}
void PreferencesSettings::setShowInDock(bool value) {
    defaults_.set(kShowInDockKey, value);
}

bool PreferencesSettings::lockOut() const {
    return defaults_.boolOr(kLockOutKey, false);
}
void PreferencesSettings::setLockOut(bool value) {
    defaults_.set(kLockOutKey, value);
}

bool PreferencesSettings::identifyMonitors() const {
    return defaults_.boolOr(kIdentifyMonitorsKey, true);
}
void PreferencesSettings::setIdentifyMonitors(bool value) {
    defaults_.set(kIdentifyMonitorsKey, value);
}

std::vector<OverlayData> PreferencesSettings::overlays() const {
    std::optional<std::vector<OverlayData>> stored;
    if (auto text = defaults_.string(kOverlaysKey)) stored = overlaysFromRawValue(*text);
    if (!stored) return defaultOverlays_;
    // Nothing stored is dropped: a short list is only completed.
    for (std::size_t i = stored->size(); i < defaultOverlays_.size(); ++i)
        stored->push_back(defaultOverlays_[i]);
    return *stored;
}

bool PreferencesSettings::setOverlays(const std::vector<OverlayData>& overlays) {
    const std::string text = rawValue(overlays);
    if (text.empty()) {
        // Storing "" would turn every stored cover into a default one at the next read.
        std::printf("Could not store the cover list: it cannot be encoded as JSON.\n");
        std::fflush(stdout);
        return false;
    }
    return defaults_.set(kOverlaysKey, text);
}

bool PreferencesSettings::editOverlay(std::size_t index,
                                      const std::function<void(OverlayData&)>& change) {
    std::vector<OverlayData> list = overlays();
    if (index >= list.size()) return false;
    change(list[index]);
    return setOverlays(list);
}

bool PreferencesSettings::isSettingsKey(const std::string& key) {
    return key == kPortKey || key == kShowInDockKey || key == kLockOutKey || key == kOverlaysKey ||
           key == kIdentifyMonitorsKey;
}

std::vector<OverlayData> PreferencesSettings::makeDefaultOverlays() {
    std::vector<OverlayData> list;
    for (std::size_t i = 0; i < kCoverCount; ++i) {
        OverlayData cover;
        cover.id = foundation::UUID();
        cover.sharedMedia.reset();
        cover.screenMedia.clear();
        cover.useSameMediaForAllScreens = true;
        cover.name = "";
        list.push_back(std::move(cover));
    }
    return list;
}

std::string PreferencesSettings::rawValue(const std::vector<OverlayData>& overlays) {
    try {
        // Invalid UTF-8 in a name throws here rather than producing text that cannot be read back.
        return OverlayData::encodeList(overlays);
    } catch (const std::exception&) {
        return "";
    }
}

std::optional<std::vector<OverlayData>> PreferencesSettings::overlaysFromRawValue(
    const std::string& text) {
    try {
        return OverlayData::decodeList(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string PreferencesSettings::versionString(const std::optional<std::string>& shortVersion,
                                               const std::optional<std::string>& build) {
    if (shortVersion && build) return *shortVersion + " (" + *build + ")";
    if (shortVersion) return *shortVersion;
    return "1.0";
}

std::string PreferencesSettings::applicationVersionString() {
    std::optional<std::string> shortVersion, build;
    const QString version = QCoreApplication::applicationVersion();
    if (!version.isEmpty()) shortVersion = version.toStdString();
    if (QCoreApplication::instance()) {
        const QVariant value = QCoreApplication::instance()->property("CFBundleVersion");
        if (value.typeId() == QMetaType::QString) build = value.toString().toStdString();
    }
    return versionString(shortVersion, build);
}

}  // namespace mantleshade
