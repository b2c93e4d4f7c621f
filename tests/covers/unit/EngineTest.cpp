#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <thread>

#include "EngineFixture.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Content = fakes::FakeWindow::Content;

namespace {

const std::string kLeft = "Creating: Left (0.0, 0.0, 1920.0, 1080.0)";
const std::string kRight = "Creating: Right (1920.0, 0.0, 1280.0, 1024.0)";

}  // namespace

TEST_F(EngineFixture, StartsIdle) {
    EXPECT_TRUE(engine->overlayWindows().empty());
    EXPECT_FALSE(engine->isActive());
    EXPECT_EQ(engine->eventTap(), nullptr);
    EXPECT_TRUE(engine->screenPlayers().empty());
    EXPECT_TRUE(engine->allowUserInteraction());
}

TEST_F(EngineFixture, IdsOutsideTheListPrintTheIndexAndShowNothing) {
    struct Case {
        const char* what;
        std::int64_t id;
        std::optional<std::string> stored;  // nullopt: key absent
        std::string line;
    };
    std::string five = OverlayData::encodeList({sharedCover("/a.png"), sharedCover("/b.png"),
                                                sharedCover("/c.png"), sharedCover("/d.png"),
                                                sharedCover("/e.png")});
    const Case cases[] = {
        {"past the end", 6, five, "Trying to Show Index: 5 - overlay doesn't exist."},
        {"zero", 0, five, "Trying to Show Index: -1 - overlay doesn't exist."},
        {"negative", -3, five, "Trying to Show Index: -4 - overlay doesn't exist."},
        {"smallest", INT64_MIN, five,
         "Trying to Show Index: -9223372036854775809 - overlay doesn't exist."},
        {"largest", INT64_MAX, five,
         "Trying to Show Index: 9223372036854775806 - overlay doesn't exist."},
        {"absent list", 1, std::nullopt, "Trying to Show Index: 0 - overlay doesn't exist."},
        {"undecodable", 1, "[{\"id\":1}]", "Trying to Show Index: 0 - overlay doesn't exist."},
        {"not JSON", 1, "{{", "Trying to Show Index: 0 - overlay doesn't exist."},
        {"empty list", 1, "[]", "Trying to Show Index: 0 - overlay doesn't exist."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.stored)
            ASSERT_TRUE(defaults->set("overlays", *c.stored));
        else
            ASSERT_TRUE(defaults->remove("overlays"));
        // The line comes at once, before any main-queue turn.
        auto lines = linesOf([&] { engine->showOverlay(c.id); });
        EXPECT_THAT(lines, ElementsAre(c.line));
        drainMain();
        EXPECT_TRUE(engine->overlayWindows().empty());
    }
    // A stored non-text value reads as absent (the defaults store may say so first).
    ASSERT_TRUE(defaults->set("overlays", 5));
    auto lines = show(1);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "Trying to Show Index: 0 - overlay doesn't exist.");
}

TEST_F(EngineFixture, ShowsTheEntryAtIdMinusOneOnALaterTurn) {
    store({sharedCover("/first.png"), sharedCover("/second.mp4")});
    auto lines = linesOf([&] { engine->showOverlay(2); });
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_TRUE(engine->overlayWindows().empty());
    lines = linesOf(drainMain);
    EXPECT_THAT(lines, ElementsAre(kLeft, kRight));
    ASSERT_EQ(system->windows.size(), 2u);
    for (auto* window : system->windows) {
        EXPECT_EQ(window->content, Content::video);
        EXPECT_TRUE(window->visible);
        EXPECT_EQ(window->frame(), window->screen.frame);
        EXPECT_NE(window->handler, nullptr);
    }
    EXPECT_TRUE(engine->isActive());
    EXPECT_EQ(engine->screenPlayers().size(), 2u);
}

TEST_F(EngineFixture, SharedMediaChoosesContentByExtension) {
    struct Case {
        const char* path;
        Content content;
        std::size_t players;
    };
    const Case cases[] = {
        {"/m/clip.MOV", Content::video, 2},    {"/m/clip.m4v", Content::video, 2},
        {"/m/clip.avi", Content::video, 2},    {"/m/photo.png", Content::image, 0},
        {"/m/photo.jpeg", Content::image, 0},  {"/m/clip.mkv", Content::image, 0},
        {"/m/noextension", Content::image, 0}, {"/m/broken.png", Content::image, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        store({sharedCover(c.path)});
        show(1);
        ASSERT_EQ(system->windows.size(), 2u);
        for (auto* window : system->windows) EXPECT_EQ(window->content, c.content);
        EXPECT_EQ(engine->screenPlayers().size(), c.players);
        for (auto& [id, entry] : engine->screenPlayers()) EXPECT_TRUE(entry.player->isPlaying());
    }
    // An image that does not load is an empty image: the window stays black.
    EXPECT_TRUE(system->windows[0]->imageSize.isEmpty());
}

TEST_F(EngineFixture, AnImageThatCannotBeReadIsNamedOnceWithWhy) {
    store({sharedCover("/m/broken.png"),
           perScreenCover({{"Left", "/m/a-broken.png"}, {"Right", "/m/fine.png"}})});
    // Once per file, before the windows it leaves black.
    EXPECT_THAT(show(1),
                ElementsAre("Image /m/broken.png cannot be shown: not an image", kLeft, kRight));
    EXPECT_THAT(show(2),
                ElementsAre("🔴 Hiding 2 windows",
                            "Image /m/a-broken.png cannot be shown: not an image", kLeft, kRight));
}

TEST_F(EngineFixture, MissingMediaIsReported) {
    OverlayData noShared;
    OverlayData sharedWithoutPath;
    sharedWithoutPath.sharedMedia = OverlayData::MediaItem{};
    OverlayData unconnected = perScreenCover({{"Elsewhere", "/x.png"}});
    OverlayData perScreenWithoutPath;
    perScreenWithoutPath.useSameMediaForAllScreens = false;
    perScreenWithoutPath
        .screenMedia[mantleshade::displayIDKey(*desktop::displayIDForScreenName("Left"))] =
        OverlayData::MediaItem{};
    store({noShared, sharedWithoutPath, unconnected, perScreenWithoutPath});

    EXPECT_THAT(show(1), ElementsAre("No shared media for index 0"));
    EXPECT_THAT(show(2), ElementsAre("No shared media for index 1"));
    EXPECT_THAT(show(3), ElementsAre("No per-screen media assigned for index 2"));
    EXPECT_THAT(show(4), ElementsAre("No per-screen media assigned for index 3"));
    EXPECT_TRUE(system->windows.empty());
    EXPECT_FALSE(engine->isActive());
}

TEST_F(EngineFixture, PerScreenMediaForOneOfTwoScreens) {
    store({perScreenCover({{"Right", "/r.mp4"}})});
    EXPECT_THAT(show(1), ElementsAre("No media for screen Left, skipping", kRight));
    ASSERT_EQ(system->windows.size(), 1u);
    EXPECT_EQ(system->windows[0]->screen.localizedName, "Right");
    ASSERT_EQ(engine->screenPlayers().size(), 1u);
    EXPECT_EQ(engine->screenPlayers().begin()->first, *desktop::displayIDForScreenName("Right"));
}

TEST_F(EngineFixture, PerScreenMediaForEachScreen) {
    store({perScreenCover({{"Left", "/l.png"}, {"Right", "/r.mp4"}})});
    EXPECT_THAT(show(1), ElementsAre(kLeft, kRight));
    ASSERT_EQ(system->windows.size(), 2u);
    EXPECT_EQ(system->windows[0]->content, Content::image);
    EXPECT_EQ(system->windows[1]->content, Content::video);
}

TEST_F(EngineFixture, EachImageFileIsDecodedOncePerShow) {
    struct Case {
        const char* what;
        OverlayData cover;
        int decodes;
    };
    const Case cases[] = {
        {"shared image on two screens", sharedCover("/one.png"), 1},
        {"the same file per screen", perScreenCover({{"Left", "/s.png"}, {"Right", "/s.png"}}), 1},
        {"two files", perScreenCover({{"Left", "/l.png"}, {"Right", "/r.png"}}), 2},
        {"an unreadable file", sharedCover("/broken.png"), 1},
        {"a video", sharedCover("/v.mp4"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store({c.cover});
        system->imagesLoaded = 0;
        show(1);
        EXPECT_EQ(system->imagesLoaded, c.decodes);
        ASSERT_EQ(system->windows.size(), 2u);
        for (auto* window : system->windows) {
            bool image = c.decodes > 0;
            EXPECT_EQ(window->content, image ? Content::image : Content::video);
        }
    }
    // Every show decodes afresh: the file may have changed in between.
    store({sharedCover("/one.png")});
    system->imagesLoaded = 0;
    show(1);
    show(1);
    EXPECT_EQ(system->imagesLoaded, 2);
}

TEST_F(EngineFixture, ScreenWithoutDisplayId) {
    auto nameless = fakes::FakeWindowSystem::screen("", {0, 1080, 800, 600});
    system->screenList.insert(system->screenList.begin() + 1, nameless);

    // Media shows skip it without a line.
    store({sharedCover("/v.mp4")});
    EXPECT_THAT(show(1), ElementsAre(kLeft, kRight));
    EXPECT_EQ(system->windows.size(), 2u);

    // Black-out covers it too.
    auto lines = linesOf([&] {
        engine->blackout();
        drainMain();
    });
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows", kLeft,
                                   "Creating:  (0.0, 1080.0, 800.0, 600.0)", kRight));

    // A video window made for it directly stays black and gets no player.
    engine->tearDownOverlays();
    auto window = engine->makeOverlayWindow(
        nameless, mantleshade::OverlayContent::video(foundation::URL::fileURL("/v.mp4")));
    EXPECT_TRUE(engine->screenPlayers().empty());
    EXPECT_EQ(system->windows.back()->content, Content::none);
}

TEST_F(EngineFixture, ShowReplacingAShowLeavesOnlyTheNewWindows) {
    store({sharedCover("/old.mp4"), sharedCover("/new.png")});
    show(1);
    auto oldPlayers = system->players;
    auto lines = show(2);
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows", kLeft, kRight));
    ASSERT_EQ(system->windows.size(), 2u);
    for (auto* window : system->windows) EXPECT_EQ(window->content, Content::image);
    EXPECT_EQ(engine->overlayWindows().size(), 2u);
    EXPECT_TRUE(engine->screenPlayers().empty());
    for (auto& weak : oldPlayers) EXPECT_TRUE(weak.expired());
}

TEST_F(EngineFixture, TearDownPausesAndDetachesPlayersBeforeClosingWindows) {
    store({sharedCover("/v.mp4")});
    show(1);
    system->log->entries.clear();
    auto lines = linesOf([&] { engine->hideOverlays(); });
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows"));
    const auto& log = *system->log;
    int lastPlayerStep = std::max({log.indexOf("pause v.mp4#1"), log.indexOf("pause v.mp4#2"),
                                   log.indexOf("detach v.mp4#1"), log.indexOf("detach v.mp4#2")});
    int firstWindowStep = log.indexOf("order-out Left");
    ASSERT_GE(log.indexOf("pause v.mp4#1"), 0);
    ASSERT_GE(log.indexOf("detach v.mp4#2"), 0);
    EXPECT_LT(lastPlayerStep, firstWindowStep);
    // Windows are ordered out, then closed, in list order, then released.
    EXPECT_LT(log.indexOf("order-out Right"), log.indexOf("close Left"));
    EXPECT_LT(log.indexOf("close Right"), log.indexOf("window-deleted Left"));
    EXPECT_TRUE(system->windows.empty());
    EXPECT_FALSE(engine->isActive());
}

TEST_F(EngineFixture, BlackoutAndClearActOnALaterTurn) {
    EXPECT_THAT(linesOf([&] { engine->blackout(); }), IsEmpty());
    EXPECT_TRUE(system->windows.empty());
    EXPECT_THAT(linesOf(drainMain), ElementsAre(kLeft, kRight));
    for (auto* window : system->windows) EXPECT_EQ(window->content, Content::blackout);
    EXPECT_TRUE(engine->isActive());

    EXPECT_THAT(linesOf([&] { engine->clear(); }), IsEmpty());
    EXPECT_EQ(system->windows.size(), 2u);
    EXPECT_THAT(linesOf(drainMain), ElementsAre("🔴 Hiding 2 windows"));
    EXPECT_TRUE(system->windows.empty());
    EXPECT_FALSE(engine->isActive());
}

TEST_F(EngineFixture, HideWithNothingShownPrintsNothing) {
    EXPECT_THAT(linesOf([&] {
                    engine->hideOverlays();
                    engine->tearDownOverlays();
                    engine->clear();
                    drainMain();
                }),
                IsEmpty());
}

TEST_F(EngineFixture, NoScreenAtAll) {
    system->screenList.clear();
    EXPECT_THAT(linesOf([&] {
                    engine->blackout();
                    drainMain();
                }),
                IsEmpty());
    EXPECT_TRUE(engine->isActive());  // set even though no window opened
    store({sharedCover("/a.png"), perScreenCover({{"Left", "/l.png"}})});
    EXPECT_THAT(show(1), IsEmpty());
    EXPECT_THAT(show(2), ElementsAre("No per-screen media assigned for index 1"));
    EXPECT_TRUE(system->windows.empty());
}

TEST_F(EngineFixture, OperationsFromAnotherThreadHopToTheMainQueue) {
    store({sharedCover("/a.png")});
    std::thread([&] {
        engine->showOverlay(1);
        engine->showMedia(
            {{*desktop::displayIDForScreenName("Left"), foundation::URL::fileURL("/b.png")}});
        engine->showBlackout();
        engine->hideOverlays();
    }).join();
    EXPECT_TRUE(system->windows.empty());
    auto lines = linesOf(drainMain);
    // In order: the cover, the media show, the black-out, the hide.
    EXPECT_THAT(lines, ElementsAre(kLeft, kRight, "🔴 Hiding 2 windows", kLeft,
                                   "No media for screen Right, skipping", "🔴 Hiding 1 windows",
                                   kLeft, kRight, "🔴 Hiding 2 windows"));
    EXPECT_TRUE(system->windows.empty());
}

TEST_F(EngineFixture, ScheduledStepsOfAGoneEngineDoNothing) {
    store({sharedCover("/a.png")});
    engine->showOverlay(1);
    engine->blackout();
    engine->clear();
    auto lines = linesOf([&] {
        engine.reset();
        drainMain();
    });
    EXPECT_THAT(lines, ElementsAre("⚠️ FullscreenImageOverlay deallocated"));
    EXPECT_TRUE(system->windows.empty());
}

TEST_F(EngineFixture, ReleaseTakesTheCoversDown) {
    engine->blackout();
    drainMain();
    auto lines = linesOf([&] { engine.reset(); });
    EXPECT_THAT(lines,
                ElementsAre("⚠️ FullscreenImageOverlay deallocated", "🔴 Hiding 2 windows"));
    EXPECT_TRUE(system->windows.empty());
}

TEST_F(EngineFixture, ReleaseOffTheMainThreadTearsDownOnTheMainThread) {
    store({sharedCover("/v.mp4")});
    show(1);
    auto players = system->players;
    std::thread([moved = std::move(engine)]() mutable { moved.reset(); }).join();
    EXPECT_EQ(system->windows.size(), 2u);  // nothing destroyed on the other thread
    auto lines = linesOf(drainMain);
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows"));
    EXPECT_TRUE(system->windows.empty());
    for (auto& weak : players) EXPECT_TRUE(weak.expired());
    EXPECT_LT(system->log->indexOf("detach v.mp4#1"), system->log->indexOf("close Left"));
}

TEST_F(EngineFixture, ScreensSharingADisplayIdKeepEveryPlayerUntilTearDown) {
    system->screenList = {fakes::FakeWindowSystem::screen("Same", {0, 0, 100, 100}),
                          fakes::FakeWindowSystem::screen("Same", {100, 0, 100, 100})};
    store({sharedCover("/v.mp4")});
    show(1);
    ASSERT_EQ(system->windows.size(), 2u);
    EXPECT_EQ(engine->screenPlayers().size(), 1u);
    auto players = system->players;
    ASSERT_EQ(players.size(), 2u);
    for (auto& weak : players) {
        ASSERT_FALSE(weak.expired());           // the first window's player is still alive...
        EXPECT_TRUE(weak.lock()->isPlaying());  // ...and plays
    }
    engine->hideOverlays();
    for (auto& weak : players) EXPECT_TRUE(weak.expired());
    EXPECT_GE(system->log->indexOf("detach v.mp4#1"), 0);
}

TEST_F(EngineFixture, AFileRenamedInItsFolderIsShownThroughItsBookmark) {
    const auto chosen = dir / "chosen.mp4";
    std::ofstream(chosen) << "x";
    OverlayData cover;
    cover.sharedMedia = OverlayData::MediaItem{};
    cover.sharedMedia->setURL(foundation::URL::fileURL(chosen.string()));
    store({cover});
    std::filesystem::rename(chosen, dir / "renamed.mp4");

    EXPECT_THAT(show(1), ElementsAre(kLeft, kRight));
    ASSERT_EQ(system->players.size(), 2u);
    for (const auto& weak : system->players) {
        auto player = weak.lock();
        ASSERT_TRUE(player);
        EXPECT_EQ(player->name().rfind("renamed.mp4#", 0), 0u) << player->name();
    }
    // The list as stored is not rewritten by a show.
    auto stored = OverlayData::loadList(*defaults);
    ASSERT_TRUE(stored && stored->size() == 1);
    EXPECT_EQ((*stored)[0].sharedMedia->path, foundation::URL::fileURL(chosen.string()));
}
