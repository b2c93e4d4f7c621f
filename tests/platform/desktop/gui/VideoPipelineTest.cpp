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
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

std::string dataFile(const char* name) {
    return std::string(MS_TEST_DATA_DIR) + "/" + name;
}

// A one-second 160x90 clip with a sound track, written to `path`.
bool writeClipWithSound(const std::string& path) {
    gst_init(nullptr, nullptr);
    GstElement* make = gst_parse_launch(
        ("videotestsrc num-buffers=25 pattern=ball ! video/x-raw,width=160,height=90,framerate=25/1"
         " ! jpegenc ! avimux name=mux ! filesink location=\"" + path + "\" audiotestsrc "
         "num-buffers=44 samplesperbuffer=1000 ! audio/x-raw,format=S16LE,rate=44100,channels=1"
         " ! mux.").c_str(), nullptr);
    if (!make) return false;
    gst_element_set_state(make, GST_STATE_PLAYING);
    GstMessage* done = gst_bus_timed_pop_filtered(GST_ELEMENT_BUS(make), 30 * GST_SECOND,
                                                  GST_MESSAGE_EOS);
    gst_element_set_state(make, GST_STATE_NULL);
    gst_object_unref(make);
    if (done) gst_message_unref(done);
    return done != nullptr;
}

// A cover window per screen, each showing `player`'s share of the video.
struct Covers {
    std::vector<std::unique_ptr<desktop::CoverWindow>> windows;
    std::vector<desktop::VideoView*> views;

    void add(desktop::LoopingPlayer& player, std::size_t screen) {
        auto window = std::make_unique<desktop::CoverWindow>(
            desktop::Screens::system()->screens().at(screen));
        window->setVideoContent(player);
        views.push_back(qobject_cast<desktop::VideoView*>(window->contentView()));
        windows.push_back(std::move(window));
    }
};

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
        // The clips last one second: three completed loops, each screen painted every frame.
        EXPECT_TRUE(spinUntil([&] { return pipeline.loopsCompleted() >= 3; }, 30s))
            << pipeline.loopsCompleted();
        EXPECT_EQ(pipeline.restarts(), 0u);
        EXPECT_GT(covers.views[0]->framesShown(), 60u);
        EXPECT_EQ(covers.views[0]->framesShown(), covers.views[1]->framesShown());

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

// A file playing on screen 0 through a pipeline of its own, on a clock the test moves.
struct Playing {
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    std::shared_ptr<desktop::VideoPipeline> pipeline;
    desktop::GstLoopingPlayer player{pipeline};
    Covers covers;

    explicit Playing(const std::string& path)
        : pipeline(std::make_shared<desktop::VideoPipeline>(QString::fromStdString(path),
                                                            [this] { return now; })) {
        covers.add(player, 0);
        player.play();
    }
};

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
