#include <gtest/gtest.h>

#include <gst/gst.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/PipelineRun.h"
#include "platform/desktop/QtWindowSystem.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"
#include "platform/foundation/URL.h"
#include "tests/platform/desktop/gui/GeneratedClips.h"
#include "tests/platform/desktop/gui/VideoCovers.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testclips::Covers;
using testclips::dataFile;
using testclips::Playing;

// Every pipeline let go so far has been freed.
bool allPipelinesFreed() {
    return spinUntil(
        [] {
            desktop::VideoPipeline::waitForTearDowns(10ms);
            return desktop::VideoPipeline::liveGStreamerPipelines() == 0;
        },
        20s);
}

// Tear-downs wait while one is alive.
struct HeldTearDowns {
    HeldTearDowns() { desktop::PipelineRun::holdTearDowns(true); }
    ~HeldTearDowns() { desktop::PipelineRun::holdTearDowns(false); }
};

struct Clip {
    const char* name;
    int frames;
    const char* rate;
    const char* encoder;
    int width = 320;
    int height = 180;
};

// Written once for the whole run.
const std::string& clipFile(const Clip& clip) {
    static testsupport::TempDir dir("ms-video-clips");
    static std::map<std::string, std::string> made;
    auto& path = made[clip.name];
    if (path.empty()) {
        path = (dir / clip.name).string();
        if (!testclips::write(path, clip.frames, clip.rate, clip.encoder, clip.width, clip.height))
            path = "(not made)";
    }
    return path;
}

const Clip kOneFrameMp4{"one-frame.mp4", 1, "25/1", testclips::kH264Mp4};
const Clip kOneFrameAvi{"one-frame.avi", 1, "25/1", testclips::kMjpegAvi};
const Clip kSlideshowAvi{"slideshow.avi", 3, "1/3", testclips::kMjpegAvi};
const Clip kSlideshowMp4{"slideshow.mp4", 3, "1/3", testclips::kH264Mp4};
const Clip kShortAvi{"short.avi", 10, "25/1", testclips::kMjpegAvi};
const Clip kHdMp4{"hd.mp4", 25, "25/1", testclips::kH264Mp4, 1280, 720};
const Clip kHdAvi{"hd.avi", 25, "25/1", testclips::kMjpegAvi, 1280, 720};

// A clip of one frame is a still picture: shown and held, never taken for a stall. Restarting it
// once hung the main thread for good.
TEST(DesktopVideoClips, AOneFrameClipShowsItsFrameAndStays) {
    ensureApplication();
    for (const Clip& clip : {kOneFrameMp4, kOneFrameAvi}) {
        SCOPED_TRACE(clip.name);
        Playing video(clipFile(clip));
        auto& pipeline = *video.pipeline;
        ASSERT_TRUE(spinUntil([&] { return pipeline.isStill(); }, 20s));
        ASSERT_TRUE(spinUntil([&] { return video.covers.views[0]->framesShown() > 0; }, 20s));
        EXPECT_EQ(video.covers.views[0]->currentFrame().size(), QSize(320, 180));
        video.now += 1h;
        pipeline.checkWatchdog();
        EXPECT_EQ(pipeline.restarts(), 0u);
        EXPECT_EQ(pipeline.loopsCompleted(), 0u) << "held, not looped";
        video.player.pause();
        video.player.play();
        video.player.detachOutput();
        EXPECT_FALSE(pipeline.isRunning());
    }
    EXPECT_TRUE(allPipelinesFreed());
}

// Restarts and tear-downs return at once, whatever the pipelines are doing: a tear-down held
// back entirely does not hold up the next start of the same file.
TEST(DesktopVideoClips, RestartsAndTearDownsNeverWaitOnAPipeline) {
    ensureApplication();
    for (const Clip& clip : {kShortAvi, kOneFrameAvi}) {
        SCOPED_TRACE(clip.name);
        HeldTearDowns held;
        Playing video(clipFile(clip));
        auto& pipeline = *video.pipeline;
        ASSERT_TRUE(spinUntil([&] { return pipeline.framesDelivered() > 0; }, 20s));
        for (int i = 0; i < 20; ++i) {
            video.now += 1h;
            video.pipeline->checkWatchdog();
            if (pipeline.isStill()) break;
            spinTurns(2);
        }
        // The same file shown again at once, in a second pipeline, while none has been freed.
        Playing again(clipFile(clip));
        const auto delivered = pipeline.framesDelivered();
        EXPECT_TRUE(spinUntil(
            [&] {
                return again.pipeline->framesDelivered() > 0 &&
                       (pipeline.isStill() || pipeline.framesDelivered() > delivered);
            },
            20s));
        video.player.detachOutput();
        again.player.detachOutput();
        EXPECT_GE(desktop::VideoPipeline::liveGStreamerPipelines(), 2u);
    }
    EXPECT_TRUE(allPipelinesFreed());
}

// A clip whose frames last longer than the default stall limit plays on to its next frame.
TEST(DesktopVideoClips, ASlideshowAdvancesPastFramesLongerThanTheDefaultStallLimit) {
    ensureApplication();
    for (const Clip& clip : {kSlideshowAvi, kSlideshowMp4}) {
        SCOPED_TRACE(clip.name);
        Playing video(clipFile(clip), true);
        auto& pipeline = *video.pipeline;
        const auto& view = *video.covers.views[0];
        ASSERT_TRUE(spinUntil([&] { return view.framesShown() > 0; }, 20s));
        const QImage first = view.currentFrame();
        EXPECT_TRUE(spinUntil([&] { return view.currentFrame() != first; }, 20s))
            << "the second frame, three seconds in";
        EXPECT_EQ(pipeline.restarts(), 0u);
        EXPECT_GE(pipeline.stallLimit(), 9s);
        EXPECT_FALSE(pipeline.isStill());
    }
    EXPECT_TRUE(allPipelinesFreed());
}

// Every video cue gave back what its pipeline took: descriptors (GStreamer's wake-up socket
// pairs) come back to where they were, for one file, for two in turn, and for a file that
// cannot play and is retried by the watchdog while shown.
TEST(DesktopVideoClips, ShowAndHideCyclesGiveBackTheirDescriptors) {
    ensureApplication();
    const std::vector<std::string> one{dataFile("loop-160x90.mp4")};
    const std::vector<std::string> two{dataFile("loop-160x90.mp4"), clipFile(kShortAvi)};
    const std::vector<std::string> broken{dataFile("not-an-image.png")};
    struct Case {
        const char* name;
        const std::vector<std::string>* files;
        bool plays;
    };
    for (const Case& c : {Case{"one file", &one, true}, Case{"two files", &two, true},
                          Case{"cannot play", &broken, false}}) {
        SCOPED_TRACE(c.name);
        auto cycle = [&](int i) {
            desktop::QtWindowSystem system;
            const auto& file = (*c.files)[static_cast<std::size_t>(i) % c.files->size()];
            auto player = system.createLoopingPlayer(foundation::URL::fileURL(file));
            auto& pipeline = dynamic_cast<desktop::GstLoopingPlayer&>(*player).pipeline();
            Covers covers;
            covers.add(*player, 0);
            covers.add(*player, 1);
            player->play();
            if (c.plays) {
                ASSERT_TRUE(spinUntil([&] { return pipeline.framesDelivered() > 0; }, 20s));
            } else {
                pipeline.checkWatchdog();
                spinTurns(2);
            }
            player->pause();
            player->detachOutput();
        };
        for (int i = 0; i < 2; ++i) cycle(i);
        ASSERT_TRUE(allPipelinesFreed());
        const int before = mstest::openDescriptorCount();
        for (int i = 0; i < 50; ++i) cycle(i);
        EXPECT_TRUE(allPipelinesFreed());
        EXPECT_LE(mstest::openDescriptorCount(), before + 2);
    }
}

// Started and stopped at once, over and over, while the decoder is still finding its streams:
// nothing is linked into a pipeline on its way down.
TEST(DesktopVideoClips, PipelinesStoppedWhileStartingLeaveTheirGraphSound) {
    ensureApplication();
    static std::atomic<int> loopWarnings{0};
    gst_init(nullptr, nullptr);
    // GStreamer tells of a corrupt ordering with a GLib warning of its own domain.
    const guint handler = g_log_set_handler(
        "GStreamer", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
        [](const gchar*, GLogLevelFlags, const gchar* text, gpointer) {
            if (text && std::strstr(text, "loop detected")) ++loopWarnings;
            std::fprintf(stderr, "GStreamer: %s\n", text ? text : "");
        },
        nullptr);
    for (int i = 0; i < 123; ++i) {
        auto pipeline = std::make_shared<desktop::VideoPipeline>(
            QString::fromStdString(i % 2 ? dataFile("loop-160x90.mp4") : clipFile(kShortAvi)));
        desktop::GstLoopingPlayer player(pipeline);
        Covers covers;
        covers.add(player, 0);
        player.play();
        // Stopped at every moment of the decoder's start, from at once to 40 ms in.
        spinUntil([] { return false; }, std::chrono::milliseconds(i % 41));
        player.detachOutput();
    }
    EXPECT_TRUE(allPipelinesFreed());
    g_log_remove_handler("GStreamer", handler);
    EXPECT_EQ(loopWarnings.load(), 0);
}

// Cues that go straight from one video cover to the next, in bursts faster than the clips can
// start, as a show controller sends them: each run is gone once it is torn down, and memory
// stops growing after the first switches. Every switch used to leave the allocator holding more
// of the frames' memory, out of reach of a trim.
TEST(DesktopVideoClips, DirectSwitchesBetweenVideosLeaveNothingBehind) {
    // First, as the application's main does.
    desktop::PipelineRun::shareOneMallocArena();
    ensureApplication();
    const std::vector<std::string> files{clipFile(kHdMp4), clipFile(kHdAvi),
                                         dataFile("loop-160x90.mp4")};
    desktop::QtWindowSystem system;
    std::shared_ptr<desktop::LoopingPlayer> shown;
    std::unique_ptr<Covers> covers;
    int switches = 0;
    // As the cover engine does it: the old cover lets go of its player, then the new one shows.
    auto switchTo = [&](bool waitForFrames) {
        if (shown) {
            shown->pause();
            shown->detachOutput();
        }
        covers.reset();
        const auto& file = files[static_cast<std::size_t>(switches++) % files.size()];
        shown = system.createLoopingPlayer(foundation::URL::fileURL(file));
        covers = std::make_unique<Covers>();
        covers->add(*shown, 0);
        covers->add(*shown, 1);
        shown->play();
        auto& pipeline = dynamic_cast<desktop::GstLoopingPlayer&>(*shown).pipeline();
        if (waitForFrames)
            ASSERT_TRUE(spinUntil([&] { return pipeline.framesDelivered() > 3; }, 20s));
        else
            spinTurns(1);
    };
    // Ten unpaced switches, then one that plays a while.
    auto burst = [&] {
        for (int i = 0; i < 10; ++i) switchTo(false);
        switchTo(true);
    };
    auto settledKiB = [&] {
        shown->pause();
        shown->detachOutput();
        covers.reset();
        shown.reset();
        EXPECT_TRUE(allPipelinesFreed());
        EXPECT_TRUE(spinUntil([] { return desktop::PipelineRun::liveRuns() == 0; }, 20s))
            << desktop::PipelineRun::liveRuns() << " runs alive";
        malloc_trim(0);
        return mstest::residentKiB();
    };
    for (int i = 0; i < 2; ++i) burst();
    const long before = settledKiB();
    for (int i = 0; i < 20; ++i) burst();
    const long after = settledKiB();
    EXPECT_LE(after - before, 12 * 1024) << "KiB, over " << switches << " switches";
}

}  // namespace
