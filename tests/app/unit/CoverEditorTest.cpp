#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "FakePreferencesServices.h"
#include "app/CoverEditor.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"

using mantleshade::CoverEditor;
using mantleshade::OverlayData;
using mantleshade::PreferencesSettings;

namespace {

class CoverEditorTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir{"ms-editor"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
    PreferencesSettings settings{*defaults};
    testsupport::FakePreferencesServices services;
    CoverEditor editor{settings, services};
    int writes = 0;

    void SetUp() override {
        defaults->addObserver([this](const std::string& key) {
            if (key == "overlays") ++writes;
        });
    }

    foundation::URL file(const std::string& name) {
        std::ofstream(dir / name) << "x";
        return foundation::URL::fileURL((dir / name).string());
    }
    static OverlayData::MediaItem item(const std::string& path) {
        OverlayData::MediaItem media;
        media.path = foundation::URL::fileURL(path);
        return media;
    }
    OverlayData stored(std::size_t index) {
        auto list = PreferencesSettings::overlaysFromRawValue(*defaults->string("overlays"));
        return list.value().at(index);
    }
};

}  // namespace

TEST_F(CoverEditorTest, PickerLabels) {
    std::vector<OverlayData> list = PreferencesSettings::makeDefaultOverlays();
    list[0].name = "Stage";  // no media
    list[1].name = "Lobby";
    list[1].sharedMedia = item("/m/lobby.png");
    // shared mode with only per-screen files
    list[3].screenMedia["7"] = item("/m/left.png");
    // per-screen mode with only a shared file
    list[4].useSameMediaForAllScreens = false;
    list[4].sharedMedia = item("/m/all.png");
    settings.setOverlays(list);

    const std::pair<int, std::string> cases[] = {
        {1, "Cover (ID 1): Stage (No Media)"}, {2, "Cover (ID 2): Lobby"},
        {3, "Cover (ID 3) (No Media)"},        {4, "Cover (ID 4) (No Media)"},
        {5, "Cover (ID 5) (No Media)"},
    };
    for (const auto& [id, label] : cases) EXPECT_EQ(editor.coverPickerLabel(id), label);

    // A missing file still counts: only the stored path matters.
    list[4].screenMedia["7"] = item("/does/not/exist.mov");
    settings.setOverlays(list);
    EXPECT_EQ(editor.coverPickerLabel(5), "Cover (ID 5)");
    // Emptied per-screen entries no longer count.
    editor.setSelectionID(5);
    editor.removeScreenMedia("7");
    EXPECT_EQ(editor.coverPickerLabel(5), "Cover (ID 5) (No Media)");
}

TEST_F(CoverEditorTest, SelectionStaysWithinTheFiveCovers) {
    const std::pair<int, int> cases[] = {{3, 3}, {0, 3}, {6, 3}, {-1, 3}, {5, 5}, {1, 1}};
    for (const auto& [asked, expected] : cases) {
        editor.setSelectionID(asked);
        EXPECT_EQ(editor.selectionID(), expected) << asked;
        EXPECT_EQ(editor.oscIDText(), "OSC ID: " + std::to_string(expected));
    }
}

TEST_F(CoverEditorTest, EachNameChangeWritesTheWholeList) {
    editor.setSelectionID(2);
    for (const char* text : {"L", "Lo", "Lob"}) editor.setName(text);
    EXPECT_EQ(writes, 3);
    EXPECT_EQ(stored(1).name, "Lob");
    EXPECT_EQ(nlohmann::json::parse(*defaults->string("overlays")).size(), 5u);
    EXPECT_EQ(stored(0).name, "");
}

TEST_F(CoverEditorTest, ModeToggleKeepsBothMediaSides) {
    services.choices = {file("all.png"), file("left.png")};
    editor.assignSharedMedia();
    editor.assignScreenMedia("11");
    for (bool same : {false, true, false}) {
        editor.setUseSameMediaForAllScreens(same);
        OverlayData cover = stored(0);
        EXPECT_EQ(cover.useSameMediaForAllScreens, same);
        ASSERT_TRUE(cover.sharedMedia && cover.sharedMedia->path);
        EXPECT_EQ(cover.sharedMedia->path->lastPathComponent(), "all.png");
        ASSERT_TRUE(cover.screenMedia.count("11"));
        EXPECT_EQ(cover.screenMedia.at("11").path->lastPathComponent(), "left.png");
    }
}

TEST_F(CoverEditorTest, AssignRemoveAndRevealThroughTheChooser) {
    const foundation::URL png = file("a.png");
    const foundation::URL mov = file("b.mov");
    struct Step {
        const char* what;
        std::function<void()> action;
        std::function<void(const OverlayData&)> check;
    };
    const Step steps[] = {
        {"cancel keeps nothing", [&] { editor.assignSharedMedia(); },
         [](const OverlayData& c) { EXPECT_FALSE(c.sharedMedia); }},
        {"assign shared",
         [&] {
             services.choices = {png};
             editor.assignSharedMedia();
         },
         [&](const OverlayData& c) {
             ASSERT_TRUE(c.sharedMedia);
             EXPECT_EQ(c.sharedMedia->path, png);
             EXPECT_TRUE(c.sharedMedia->bookmark && !c.sharedMedia->bookmark->empty());
         }},
        {"cancel keeps the earlier file", [&] { editor.assignSharedMedia(); },
         [&](const OverlayData& c) { EXPECT_EQ(c.sharedMedia->path, png); }},
        {"screen assign leaves the rest",
         [&] {
             services.choices = {mov};
             editor.assignScreenMedia("5");
         },
         [&](const OverlayData& c) {
             EXPECT_EQ(c.sharedMedia->path, png);
             EXPECT_EQ(c.screenMedia.at("5").path, mov);
             EXPECT_EQ(c.screenMedia.size(), 1u);
         }},
        {"remove shared empties the item", [&] { editor.removeSharedMedia(); },
         [&](const OverlayData& c) {
             ASSERT_TRUE(c.sharedMedia);
             EXPECT_FALSE(c.sharedMedia->path);
             EXPECT_FALSE(c.sharedMedia->bookmark);
             EXPECT_EQ(c.screenMedia.at("5").path, mov);
         }},
        {"remove absent screen entry stays absent", [&] { editor.removeScreenMedia("9"); },
         [](const OverlayData& c) { EXPECT_FALSE(c.screenMedia.count("9")); }},
        {"browse after remove replaces",
         [&] {
             services.choices = {mov};
             editor.assignSharedMedia();
         },
         [&](const OverlayData& c) { EXPECT_EQ(c.sharedMedia->path, mov); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.action();
        step.check(defaults->contains("overlays") ? stored(0) : settings.overlays()[0]);
    }
    EXPECT_EQ(services.chooseCount, 5);

    // The emptied entry is stored as an empty object.
    editor.removeScreenMedia("5");
    auto json = nlohmann::json::parse(*defaults->string("overlays"));
    EXPECT_EQ(json[0]["screenMedia"]["5"], nlohmann::json::object());

    // Reveal uses the stored path; nothing without one.
    editor.revealInFinder();
    editor.revealInFinder("5");
    editor.revealInFinder("absent");
    ASSERT_EQ(services.revealed.size(), 1u);
    EXPECT_EQ(services.revealed[0], mov);
}

TEST_F(CoverEditorTest, RevealOfAMissingFileStillAsks) {
    const foundation::URL gone = file("gone.png");
    services.choices = {gone};
    editor.assignScreenMedia("3");
    std::filesystem::remove(gone.path());
    editor.revealInFinder("3");
    ASSERT_EQ(services.revealed.size(), 1u);
    EXPECT_EQ(services.revealed[0], gone);
}

TEST_F(CoverEditorTest, EditsGoToTheSelectedCoverOnly) {
    services.choices = {file("x.png")};
    editor.setSelectionID(4);
    editor.assignSharedMedia();
    editor.setName("Four");
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(stored(i).name, i == 3 ? "Four" : "");
        EXPECT_EQ(stored(i).sharedMedia.has_value(), i == 3);
    }
}

TEST_F(CoverEditorTest, SharedRowIcon) {
    struct Case {
        std::optional<std::string> path;
        std::string icon;
    };
    const Case cases[] = {{std::nullopt, "photo"}, {"/a.png", "photo"}, {"/a.MOV", "video"},
                          {"/a.mp4", "video"},     {"/a.mkv", "photo"}, {"/a.avi", "video"}};
    for (const Case& c : cases) {
        OverlayData cover;
        if (c.path) cover.sharedMedia = item(*c.path);
        EXPECT_EQ(CoverEditor::sharedMediaIcon(cover), c.icon) << c.path.value_or("none");
    }
    OverlayData emptied;
    emptied.sharedMedia = OverlayData::MediaItem{};
    EXPECT_EQ(CoverEditor::sharedMediaIcon(emptied), "photo");
}
