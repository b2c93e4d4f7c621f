#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "app/PreferencesSettings.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"

using mantleshade::OverlayData;
using mantleshade::PreferencesSettings;

namespace {

struct Store {
    testsupport::TempDir dir{"ms-prefs"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
};

OverlayData namedCover(const std::string& name) {
    OverlayData cover;
    cover.name = name;
    return cover;
}

}  // namespace

TEST(PreferencesSettingsTest, VersionStringFromShortVersionAndBuild) {
    struct Case {
        std::optional<std::string> shortVersion, build;
        std::string expected;
    };
    const Case cases[] = {
        {"1.2", "34", "1.2 (34)"},
        {"1.2", std::nullopt, "1.2"},
        {std::nullopt, "34", "1.0"},
        {std::nullopt, std::nullopt, "1.0"},
        {"", "", " ()"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreferencesSettings::versionString(c.shortVersion, c.build), c.expected);
}

TEST(PreferencesSettingsTest, AbsentKeysReadDefaultsAndWriteNothing) {
    Store store;
    PreferencesSettings settings(*store.defaults);
    EXPECT_EQ(settings.port(), 5000);
    EXPECT_FALSE(settings.showInDock());
    EXPECT_FALSE(settings.lockOut());
    EXPECT_TRUE(settings.identifyMonitors());
    const auto list = settings.overlays();
    ASSERT_EQ(list.size(), 5u);
    for (const OverlayData& cover : list) {
        EXPECT_EQ(cover.name, "");
        EXPECT_TRUE(cover.useSameMediaForAllScreens);
        EXPECT_FALSE(cover.sharedMedia);
        EXPECT_TRUE(cover.screenMedia.empty());
    }
    // The same default ids for the life of this window, new ones for the next.
    EXPECT_EQ(settings.overlays()[0].id, list[0].id);
    EXPECT_NE(PreferencesSettings(*store.defaults).overlays()[0].id, list[0].id);
    EXPECT_NE(list[0].id, list[1].id);
    EXPECT_FALSE(std::filesystem::exists(store.defaults->path()));
}

TEST(PreferencesSettingsTest, SettingsWriteTheirKeysAtOnce) {
    Store store;
    PreferencesSettings settings(*store.defaults);
    settings.setPort(6001);
    settings.setShowInDock(true);
    settings.setLockOut(true);
    settings.setIdentifyMonitors(false);
    auto reopened = foundation::UserDefaults::openAt(store.defaults->path());
    EXPECT_EQ(reopened->integer("oscPort"), 6001);
    EXPECT_EQ(reopened->boolean("showInDock"), true);
    EXPECT_EQ(reopened->boolean("LockOut"), true);
    EXPECT_EQ(reopened->boolean("identify-monitors"), false);
}

TEST(PreferencesSettingsTest, UndecodableListShowsDefaultsUntilTheFirstEdit) {
    const std::string texts[] = {"", "not json", "{}", "[1, 2]", "[{\"name\": \"x\"}]", "\"[]\""};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Store store;
        store.defaults->set("overlays", text);
        PreferencesSettings settings(*store.defaults);
        const auto list = settings.overlays();
        ASSERT_EQ(list.size(), 5u);
        EXPECT_EQ(store.defaults->string("overlays"), text);  // untouched by reading

        ASSERT_TRUE(settings.editOverlay(2, [](OverlayData& c) { c.name = "Stage"; }));
        auto stored =
            PreferencesSettings::overlaysFromRawValue(*store.defaults->string("overlays"));
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->size(), 5u);
        EXPECT_EQ((*stored)[2].name, "Stage");
        EXPECT_EQ((*stored)[0].id, list[0].id);
        auto json = nlohmann::json::parse(*store.defaults->string("overlays"));
        EXPECT_TRUE(json.is_array());
        EXPECT_EQ(json.size(), 5u);
    }
}

TEST(PreferencesSettingsTest, ShortListIsCompletedAndNothingStoredIsLost) {
    struct Case {
        std::size_t stored;
        std::size_t edited;
        std::size_t expectedSize;
    };
    const Case cases[] = {{0, 0, 5}, {2, 3, 5}, {4, 4, 5}, {5, 0, 5}, {7, 1, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        Store store;
        std::vector<OverlayData> original;
        for (std::size_t i = 0; i < c.stored; ++i)
            original.push_back(namedCover("C" + std::to_string(i)));
        store.defaults->set("overlays", OverlayData::encodeList(original));
        PreferencesSettings settings(*store.defaults);
        ASSERT_EQ(settings.overlays().size(), c.expectedSize);
        ASSERT_TRUE(
            settings.editOverlay(c.edited, [](OverlayData& cover) { cover.name = "edited"; }));
        auto stored =
            PreferencesSettings::overlaysFromRawValue(*store.defaults->string("overlays"));
        ASSERT_TRUE(stored);
        ASSERT_EQ(stored->size(), c.expectedSize);
        for (std::size_t i = 0; i < c.stored; ++i) {
            EXPECT_EQ((*stored)[i].id, original[i].id);
            EXPECT_EQ((*stored)[i].name, i == c.edited ? "edited" : original[i].name);
        }
    }
}

TEST(PreferencesSettingsTest, EditOutsideTheListWritesNothing) {
    Store store;
    PreferencesSettings settings(*store.defaults);
    EXPECT_FALSE(settings.editOverlay(5, [](OverlayData& c) { c.name = "x"; }));
    EXPECT_FALSE(store.defaults->contains("overlays"));
}

TEST(PreferencesSettingsTest, RawValueRoundTripsMedia) {
    std::vector<OverlayData> list = PreferencesSettings::makeDefaultOverlays();
    list[0].name = "Lobby ✓";
    list[0].sharedMedia = OverlayData::MediaItem{foundation::URL::fileURL("/media/a b.png"),
                                                 std::vector<std::uint8_t>{1, 2, 3}};
    list[1].useSameMediaForAllScreens = false;
    list[1].screenMedia["42"] = OverlayData::MediaItem{foundation::URL::fileURL("/m/v.MOV"), {}};
    list[1].screenMedia["0"] = OverlayData::MediaItem{};
    const std::string text = PreferencesSettings::rawValue(list);
    ASSERT_FALSE(text.empty());
    auto back = PreferencesSettings::overlaysFromRawValue(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 5u);
    EXPECT_EQ((*back)[0].name, "Lobby ✓");
    EXPECT_EQ((*back)[0].id, list[0].id);
    EXPECT_EQ((*back)[0].sharedMedia->path, list[0].sharedMedia->path);
    EXPECT_EQ((*back)[0].sharedMedia->bookmark, list[0].sharedMedia->bookmark);
    EXPECT_FALSE((*back)[1].useSameMediaForAllScreens);
    EXPECT_EQ((*back)[1].screenMedia.at("42").path, list[1].screenMedia["42"].path);
    EXPECT_FALSE((*back)[1].screenMedia.at("0").path);
}

TEST(PreferencesSettingsTest, NameThatIsNotUTF8NeverLosesTheList) {
    Store store;
    PreferencesSettings settings(*store.defaults);
    ASSERT_TRUE(settings.editOverlay(0, [](OverlayData& c) { c.name = "Keep"; }));
    settings.editOverlay(1, [](OverlayData& c) { c.name = std::string("\xff\xfe", 2); });
    auto stored = PreferencesSettings::overlaysFromRawValue(*store.defaults->string("overlays"));
    ASSERT_TRUE(stored);
    ASSERT_EQ(stored->size(), 5u);
    EXPECT_EQ((*stored)[0].name, "Keep");
}

TEST(PreferencesSettingsTest, SettingsKeys) {
    for (const char* key : {"oscPort", "showInDock", "LockOut", "overlays", "identify-monitors"})
        EXPECT_TRUE(PreferencesSettings::isSettingsKey(key)) << key;
    for (const char* key : {"launchAtLogin", "lockOut", "OSCPort", ""})
        EXPECT_FALSE(PreferencesSettings::isSettingsKey(key)) << key;
}

TEST(PreferencesSettingsTest, WrongTypesReadAsDefaults) {
    Store store;
    store.defaults->set("oscPort", "5001");
    store.defaults->set("showInDock", "yes");
    store.defaults->set("identify-monitors", nlohmann::json::array());
    store.defaults->set("overlays", nlohmann::json::array());  // not text
    PreferencesSettings settings(*store.defaults);
    EXPECT_EQ(settings.port(), 5000);
    EXPECT_FALSE(settings.showInDock());
    EXPECT_TRUE(settings.identifyMonitors());
    EXPECT_EQ(settings.overlays().size(), 5u);
}
