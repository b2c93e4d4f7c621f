// Bursts of cues: each cue sets the whole state of the covers, so one that a newer cue overtakes
// before its turn is skipped; what the newest cue shows and prints stays exactly as if every cue
// had been worked through.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineFixture.h"

using ::testing::ElementsAreArray;
using Content = fakes::FakeWindow::Content;

namespace {

const std::string kLeft = "Creating: Left (0.0, 0.0, 1920.0, 1080.0)";
const std::string kRight = "Creating: Right (1920.0, 0.0, 1280.0, 1024.0)";
const std::string kHiding = "🔴 Hiding 2 windows";

}  // namespace

TEST_F(EngineFixture, CuesOvertakenBeforeTheirTurnAreSkipped) {
    // 1 and 3 are videos, 2 an image, 4 has no media.
    store({sharedCover("/a.mp4"), sharedCover("/b.png"), sharedCover("/c.mov"), OverlayData{}});
    struct Case {
        const char* what;
        bool coversUp;  // cover 2 shown (and the queue run) before the burst
        std::vector<std::string> cues;
        std::vector<std::string> lines;  // printed while the main queue runs
        Content content;                 // Content::none: no window
        int playersMade;
    };
    const Case cases[] = {
        {"only the newest show",
         false,
         {"show 1", "show 2", "show 3"},
         {kLeft, kRight},
         Content::video,
         2},
        {"a show then a clear", false, {"show 1", "clear"}, {}, Content::none, 0},
        {"a clear then a show",
         true,
         {"clear", "show 1"},
         {kHiding, kLeft, kRight},
         Content::video,
         2},
        {"a show then a blackout",
         true,
         {"show 3", "blackout"},
         {kHiding, kLeft, kRight},
         Content::blackout,
         0},
        {"a blackout then a show",
         false,
         {"blackout", "show 2"},
         {kLeft, kRight},
         Content::image,
         0},
        // Covers that show nothing leave the state alone, so they overtake nothing.
        {"a show then a cover without media",
         false,
         {"show 1", "show 4"},
         {kLeft, kRight, "No shared media for index 3"},
         Content::video,
         2},
        {"a show then a missing cover",
         true,
         {"show 3", "show 9"},
         {kHiding, kLeft, kRight},
         Content::video,
         2},
        {"a show after a cover without media",
         false,
         {"show 4", "show 2"},
         {"No shared media for index 3", kLeft, kRight},
         Content::image,
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine->tearDownOverlays();
        if (c.coversUp) show(2);
        system->playerCount = 0;
        std::vector<std::string> lines = linesOf([&] {
            for (const std::string& cue : c.cues) {
                if (cue == "clear")
                    engine->clear();
                else if (cue == "blackout")
                    engine->blackout();
                else
                    engine->showOverlay(std::stoll(cue.substr(5)));
            }
        });
        // Only a missing cover prints at once.
        for (const std::string& line : lines)
            EXPECT_EQ(line.rfind("Trying to Show Index:", 0), 0u) << line;
        EXPECT_THAT(linesOf(drainMain), ElementsAreArray(c.lines));
        EXPECT_EQ(system->playerCount, c.playersMade);
        if (c.content == Content::none) {
            EXPECT_TRUE(system->windows.empty());
            EXPECT_FALSE(engine->isActive());
            continue;
        }
        ASSERT_EQ(system->windows.size(), 2u);
        for (auto* window : system->windows) EXPECT_EQ(window->content, c.content);
        EXPECT_TRUE(engine->isActive());
    }
}

TEST_F(EngineFixture, AfterABurstOfVideoCuesOnlyTheLastCueIsShown) {
    store({sharedCover("/a.mp4"), sharedCover("/b.mov"), sharedCover("/c.avi"),
           sharedCover("/d.png")});
    show(1);
    system->playerCount = 0;
    system->imagesLoaded = 0;
    for (int i = 0; i < 2000; ++i) engine->showOverlay(1 + i % 3);
    engine->showOverlay(4);
    EXPECT_THAT(linesOf(drainMain), ElementsAreArray({kHiding, kLeft, kRight}));
    EXPECT_EQ(system->playerCount, 0);
    EXPECT_EQ(system->imagesLoaded, 1);
    ASSERT_EQ(system->windows.size(), 2u);
    for (auto* window : system->windows) EXPECT_EQ(window->content, Content::image);

    // Cues that come one at a time are each shown.
    for (std::int64_t id : {1, 2, 3}) {
        EXPECT_THAT(show(id), ElementsAreArray({kHiding, kLeft, kRight}));
    }
}

TEST_F(EngineFixture, CuesFromAnotherThreadAreSkippedTheSameWay) {
    store({sharedCover("/a.mp4"), sharedCover("/b.png")});
    system->playerCount = 0;
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i) {
            engine->showOverlay(1);
            engine->clear();
        }
        engine->showOverlay(2);
    });
    sender.join();
    EXPECT_THAT(linesOf(drainMain), ElementsAreArray({kLeft, kRight}));
    EXPECT_EQ(system->playerCount, 0);
}
