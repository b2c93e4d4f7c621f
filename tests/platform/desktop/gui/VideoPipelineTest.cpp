#include <gtest/gtest.h>

#include <gst/gst.h>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/QtWindowSystem.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"
#include "tests/platform/desktop/gui/GeneratedClips.h"
#include "tests/platform/desktop/gui/VideoCovers.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using testclips::Covers;
using testclips::dataFile;
using testclips::Playing;

// A one-second 160x90 clip with a sound track, written to `path`.
bool writeClipWithSound(const std::string& path) {
    return testclips::run(
        "videotestsrc num-buffers=25 pattern=ball ! video/x-raw,width=160,height=90,framerate=25/1"
        " ! jpegenc ! avimux name=mux ! filesink location=\"" +
        path +
        "\" audiotestsrc "
        "num-buffers=44 samplesperbuffer=1000 ! audio/x-raw,format=S16LE,rate=44100,channels=1"
        " ! mux.");
}

// The clip with a sound track loops muted like the others: its sound is never decoded.
TEST(DesktopVideoPipeline, OneDecodeLoopsWithoutEndOnEveryScreenShowingTheFile) {
    ensureApplication();
    testsupport::TempDir dir("ms-desktop-video");
    const std::string withSound = (dir / "with-sound.avi").string();
    ASSERT_TRUE(writeClipWithSound(withSound));
    for (const std::string& file :
         {dataFile("loop-160x90.mp4"), dataFile("loop-160x120.mov"), withSound}) {
        SCOPED_TRACE(file);
        desktop::QtWindowSystem system;
        const auto url = foundation::URL::fileURL(file);
        auto first = system.createLoopingPlayer(url);
        auto second = system.createLoopingPlayer(url);
        auto& pipeline = dynamic_cast<desktop::GstLoopingPlayer&>(*first).pipeline();
        EXPECT_EQ(&pipeline, &dynamic_cast<desktop::GstLoopingPlayer&>(*second).pipeline())
            << "the file is decoded once per screen";
        Covers covers;
        covers.add(*first, 0);
        covers.add(*second, 1);
        ASSERT_TRUE(covers.views[0] && covers.views[1]);
        first->play();
        second->play();
        // The clips last one second: three completed loops and more frames than one loop has
        // (a busy main thread may skip frames, so no exact count).
        EXPECT_TRUE(spinUntil(
            [&] { return pipeline.loopsCompleted() >= 3 && pipeline.framesDelivered() > 60; },
            30s))
            << pipeline.loopsCompleted() << " loops, " << pipeline.framesDelivered() << " frames";
        EXPECT_EQ(pipeline.restarts(), 0u);
        // Every frame went to both views, which were attached before the first one came.
        EXPECT_EQ(covers.views[0]->framesShown(), pipeline.framesDelivered());
        EXPECT_EQ(covers.views[1]->framesShown(), pipeline.framesDelivered());

        // Paused by one screen, it still plays for the other.
        first->pause();
        const auto shown = covers.views[1]->framesShown();
        EXPECT_TRUE(spinUntil([&] { return covers.views[1]->framesShown() > shown + 5; }, 10s));
        // Paused by both right after a loop, while its seek may be under way, then detached:
        // nothing hangs. The last view's window goes before its player, leaving nothing dangling.
        const auto loops = pipeline.loopsCompleted();
        EXPECT_TRUE(spinUntil([&] { return pipeline.loopsCompleted() > loops; }, 10s));
        second->pause();
        first->detachOutput();
        EXPECT_TRUE(pipeline.isRunning());
        covers = {};
        spinUntil([] { return false; }, 100ms);
        second->detachOutput();
        EXPECT_FALSE(pipeline.isRunning());
    }
}

TEST(DesktopVideoPipeline, WatchdogRestartsAPipelineWhoseFramesStopped) {
    ensureApplication();
    Playing video(dataFile("loop-160x90.mp4"));
    auto& pipeline = *video.pipeline;
    ASSERT_TRUE(spinUntil([&] { return pipeline.framesDelivered() > 5; }, 20s));
    // Two seconds pass on the clock with no frame taken in between: it counts as a stall.
    video.now += 2s;
    pipeline.checkWatchdog();
    EXPECT_EQ(pipeline.restarts(), 1u);
    const auto delivered = pipeline.framesDelivered();
    EXPECT_TRUE(spinUntil([&] { return pipeline.framesDelivered() > delivered + 30; }, 20s))
        << "the restarted pipeline shows frames again";
    // Paused, it is never restarted.
    video.player.pause();
    video.now += 1h;
    pipeline.checkWatchdog();
    EXPECT_EQ(pipeline.restarts(), 1u);
}

TEST(DesktopVideoPipeline, WhatCannotPlayStaysBlackWithoutBlocking) {
    ensureApplication();
    testsupport::TempDir dir("ms-desktop-video");
    const std::string fifo = (dir / "clip.mp4").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path().string(),
                                    dataFile("not-an-image.png"), dataFile("missing.mp4")}) {
        SCOPED_TRACE(path);
        Playing video(path);
        spinUntil([] { return false; }, 300ms);
        video.now += 3s;
        video.pipeline->checkWatchdog();
        spinUntil([] { return false; }, 100ms);
        EXPECT_EQ(video.covers.views[0]->framesShown(), 0u);
        EXPECT_TRUE(video.covers.views[0]->currentFrame().isNull());
        video.player.detachOutput();
        EXPECT_FALSE(video.pipeline->isRunning());
    }
}

}  // namespace
