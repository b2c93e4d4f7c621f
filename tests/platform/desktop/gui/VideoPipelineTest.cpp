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

TEST(DesktopVideoPipeline, OneDecodeLoopsWithoutEndOnEveryScreenShowingTheFile) {
    ensureApplication();
    for (const char* file : {"loop-160x90.mp4", "loop-160x120.mov"}) {
        SCOPED_TRACE(file);
        desktop::QtWindowSystem system;
        const auto url = foundation::URL::fileURL(dataFile(file));
        auto first = system.createLoopingPlayer(url);
        auto second = system.createLoopingPlayer(url);
        auto* a = dynamic_cast<desktop::GstLoopingPlayer*>(first.get());
        auto* b = dynamic_cast<desktop::GstLoopingPlayer*>(second.get());
        ASSERT_TRUE(a && b);
        EXPECT_EQ(&a->pipeline(), &b->pipeline()) << "the file is decoded once per screen";
        Covers covers;
        covers.add(*first, 0);
        covers.add(*second, 1);
        ASSERT_TRUE(covers.views[0] && covers.views[1]);
        first->play();
        second->play();
        desktop::VideoPipeline& pipeline = a->pipeline();
        // The clips last one second: three completed loops, each screen painted every frame.
        EXPECT_TRUE(spinUntil([&] { return pipeline.loopsCompleted() >= 3; }, 30s))
            << pipeline.loopsCompleted();
        EXPECT_EQ(pipeline.restarts(), 0u);
        EXPECT_GT(covers.views[0]->framesShown(), 60u);
        EXPECT_EQ(covers.views[0]->framesShown(), covers.views[1]->framesShown());
        EXPECT_FALSE(covers.views[1]->currentFrame().isNull());

        // Paused by one screen, it still plays for the other.
        first->pause();
        const auto shown = covers.views[1]->framesShown();
        EXPECT_TRUE(spinUntil([&] { return covers.views[1]->framesShown() > shown + 5; }, 10s));
        // Detached from every view, the pipeline is down before any window goes.
        second->pause();
        first->detachOutput();
        EXPECT_TRUE(pipeline.isRunning());
        second->detachOutput();
        EXPECT_FALSE(pipeline.isRunning());
    }
}

TEST(DesktopVideoPipeline, WatchdogRestartsAPipelineWhoseFramesStopped) {
    ensureApplication();
    auto now = std::chrono::steady_clock::now();
    auto pipeline = std::make_shared<desktop::VideoPipeline>(
        QString::fromStdString(dataFile("loop-160x90.mp4")), [&] { return now; });
    desktop::GstLoopingPlayer player(pipeline);
    Covers covers;
    covers.add(player, 0);
    player.play();
    ASSERT_TRUE(spinUntil([&] { return pipeline->framesDelivered() > 5; }, 20s));
    // Frames keep arriving: no restart however often it looks.
    pipeline->checkWatchdog();
    EXPECT_EQ(pipeline->restarts(), 0u);
    // Two seconds pass on the clock with no frame taken in between: it counts as a stall.
    now += 2s;
    pipeline->checkWatchdog();
    EXPECT_EQ(pipeline->restarts(), 1u);
    const auto delivered = pipeline->framesDelivered();
    EXPECT_TRUE(spinUntil([&] { return pipeline->framesDelivered() > delivered + 30; }, 20s))
        << "the restarted pipeline shows frames again";
    EXPECT_TRUE(spinUntil([&] { return pipeline->loopsCompleted() >= 1; }, 20s));
    // Paused, it is never restarted.
    player.pause();
    now += 1h;
    pipeline->checkWatchdog();
    EXPECT_EQ(pipeline->restarts(), 1u);
    player.detachOutput();
}

TEST(DesktopVideoPipeline, WhatCannotPlayStaysBlackWithoutBlocking) {
    ensureApplication();
    testsupport::TempDir dir("ms-desktop-video");
    const std::string fifo = (dir / "clip.mp4").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path().string(),
                                    dataFile("not-an-image.png"), dataFile("missing.mp4")}) {
        SCOPED_TRACE(path);
        auto now = std::chrono::steady_clock::now();
        auto pipeline = std::make_shared<desktop::VideoPipeline>(QString::fromStdString(path),
                                                                 [&] { return now; });
        desktop::GstLoopingPlayer player(pipeline);
        Covers covers;
        covers.add(player, 0);
        player.play();
        spinUntil([] { return false; }, 300ms);
        now += 3s;
        pipeline->checkWatchdog();
        spinUntil([] { return false; }, 100ms);
        EXPECT_EQ(covers.views[0]->framesShown(), 0u);
        EXPECT_TRUE(covers.views[0]->currentFrame().isNull());
        player.pause();
        player.detachOutput();
        EXPECT_FALSE(pipeline->isRunning());
    }
}

TEST(DesktopVideoPipeline, AWindowDeletedFirstLeavesNothingDangling) {
    ensureApplication();
    auto pipeline = std::make_shared<desktop::VideoPipeline>(
        QString::fromStdString(dataFile("loop-160x90.mp4")));
    auto player = std::make_unique<desktop::GstLoopingPlayer>(pipeline);
    {
        Covers covers;
        covers.add(*player, 0);
        player->play();
        ASSERT_TRUE(spinUntil([&] { return pipeline->framesDelivered() > 3; }, 20s));
    }
    spinUntil([] { return false; }, 100ms);
    player.reset();  // the player after its window
    EXPECT_FALSE(pipeline->isRunning());
}

// A clip with a sound track: the sound is never decoded or played, and the video still loops.
TEST(DesktopVideoPipeline, AClipWithSoundLoopsMuted) {
    ensureApplication();
    testsupport::TempDir dir("ms-desktop-video");
    const std::string clip = (dir / "with-sound.avi").string();
    gst_init(nullptr, nullptr);
    const std::string description =
        "videotestsrc num-buffers=25 pattern=ball ! video/x-raw,width=160,height=90,framerate=25/1"
        " ! jpegenc ! avimux name=mux ! filesink location=\"" + clip + "\" "
        "audiotestsrc num-buffers=44 samplesperbuffer=1000 ! audio/x-raw,format=S16LE,rate=44100,"
        "channels=1 ! mux.";
    GstElement* make = gst_parse_launch(description.c_str(), nullptr);
    ASSERT_NE(make, nullptr);
    gst_element_set_state(make, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(make);
    GstMessage* done = gst_bus_timed_pop_filtered(
        bus, 30 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_NE(done, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(done), GST_MESSAGE_EOS);
    gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(make, GST_STATE_NULL);
    gst_object_unref(make);

    auto pipeline = std::make_shared<desktop::VideoPipeline>(QString::fromStdString(clip));
    desktop::GstLoopingPlayer player(pipeline);
    Covers covers;
    covers.add(player, 0);
    player.play();
    EXPECT_TRUE(spinUntil([&] { return pipeline->loopsCompleted() >= 2; }, 30s))
        << pipeline->loopsCompleted();
    EXPECT_EQ(pipeline->restarts(), 0u);
    EXPECT_GT(covers.views[0]->framesShown(), 40u);
    player.pause();
    player.detachOutput();
}

}  // namespace
