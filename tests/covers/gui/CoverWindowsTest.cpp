#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QMediaPlayer>
#include <QScreen>
#include <QTest>

#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/ImageView.h"
#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::FullscreenImageOverlay;
using mantleshade::OverlayData;

namespace {

std::string dataFile(const char* name) {
    return std::string(MS_TEST_DATA_DIR) + "/" + name;
}

class CoverWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the offscreen configuration";
        defaults = foundation::UserDefaults::openAt(dir.path() / "defaults.json");
        engine =
            FullscreenImageOverlay::create(desktop::WindowSystem::qt(), defaults.get(), &center);
    }
    void TearDown() override {
        engine.reset();
        spinTurns();
    }

    void showShared(const std::string& path, bool lockOut = false) {
        OverlayData cover;
        cover.sharedMedia = OverlayData::MediaItem{};
        cover.sharedMedia->path = foundation::URL::fileURL(path);
        ASSERT_TRUE(OverlayData::saveList({cover}, *defaults));
        ASSERT_TRUE(defaults->set("LockOut", lockOut));
        engine->showOverlay(1);
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
    }
    void blackout(bool lockOut) {
        ASSERT_TRUE(defaults->set("LockOut", lockOut));
        engine->blackout();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
    }

    desktop::CoverWindow* coverWindow(std::size_t i) {
        return dynamic_cast<desktop::CoverWindow*>(&engine->overlayWindows().at(i)->window());
    }

    testsupport::TempDir dir{"ms-covers-gui"};
    std::unique_ptr<foundation::UserDefaults> defaults;
    foundation::NotificationCenter center;
    std::shared_ptr<FullscreenImageOverlay> engine;
};

}  // namespace

TEST_F(CoverWindows, OneBlackFramelessTopWindowAtEachScreensGeometry) {
    blackout(false);
    auto screens = QGuiApplication::screens();
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto* window = coverWindow(i);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->geometry(), screens[static_cast<int>(i)]->geometry());
        EXPECT_EQ(window->screen(), screens[static_cast<int>(i)]);
        auto flags = window->windowFlags();
        EXPECT_TRUE(flags & Qt::FramelessWindowHint);
        EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
        QImage pixels = window->grab().toImage();
        EXPECT_EQ(pixels.size(), window->size());
        for (QPoint p : {QPoint(0, 0), QPoint(pixels.width() / 2, pixels.height() / 2),
                         QPoint(pixels.width() - 1, pixels.height() - 1)})
            EXPECT_EQ(pixels.pixelColor(p), QColor(Qt::black)) << p.x() << "," << p.y();
    }
    EXPECT_TRUE(engine->isActive());
}

TEST_F(CoverWindows, ImagesAreAspectFitAndCentredOnBlack) {
    const QColor black(Qt::black), red(255, 0, 0), blue(0, 0, 255), green(0, 192, 0);
    struct Probe {
        int screen;
        QPoint point;
        QColor colour;
    };
    struct Case {
        const char* file;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        // 400x200: 1920x960 at y 60 on the left screen, 1280x640 at y 192 on the right.
        {"red-blue-400x200.png",
         {{0, {960, 30}, black},
          {0, {480, 540}, red},
          {0, {1440, 540}, blue},
          {0, {960, 1050}, black},
          {0, {10, 70}, red},
          {1, {640, 150}, black},
          {1, {320, 512}, red},
          {1, {960, 512}, blue},
          {1, {640, 900}, black}}},
        // 300x400: 810x1080 at x 555 on the left screen, 768x1024 at x 256 on the right.
        {"green-300x400.jpg",
         {{0, {300, 540}, black},
          {0, {960, 540}, green},
          {0, {1700, 540}, black},
          {1, {100, 500}, black},
          {1, {640, 10}, green},
          {1, {1200, 500}, black}}},
        {"not-an-image.png", {{0, {960, 540}, black}, {1, {640, 512}, black}}},
        {"does-not-exist.png", {{0, {960, 540}, black}, {1, {640, 512}, black}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        showShared(dataFile(c.file));
        QImage shots[2] = {coverWindow(0)->grab().toImage(), coverWindow(1)->grab().toImage()};
        for (const Probe& probe : c.probes) {
            QColor got = shots[probe.screen].pixelColor(probe.point);
            EXPECT_NEAR(got.red(), probe.colour.red(), 12)
                << probe.screen << " " << probe.point.x() << "," << probe.point.y();
            EXPECT_NEAR(got.green(), probe.colour.green(), 12)
                << probe.screen << " " << probe.point.x() << "," << probe.point.y();
            EXPECT_NEAR(got.blue(), probe.colour.blue(), 12)
                << probe.screen << " " << probe.point.x() << "," << probe.point.y();
        }
    }
}

TEST_F(CoverWindows, VideosPlayMutedAndLoopPastTheirEnd) {
    for (const char* file : {"loop-160x90.mp4", "loop-160x120.mov"}) {
        SCOPED_TRACE(file);
        showShared(dataFile(file));
        ASSERT_EQ(engine->screenPlayers().size(), 2u);
        std::vector<desktop::VideoView*> views;
        for (std::size_t i = 0; i < 2; ++i) {
            auto* view = qobject_cast<desktop::VideoView*>(coverWindow(i)->contentView());
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(view->geometry(), coverWindow(i)->rect());
            views.push_back(view);
        }
        // Both screens show one pipeline's frames: the file is decoded once.
        std::vector<desktop::VideoPipeline*> pipelines;
        for (auto& [id, entry] : engine->screenPlayers()) {
            auto* player = dynamic_cast<desktop::GstLoopingPlayer*>(entry.player.get());
            ASSERT_NE(player, nullptr);
            pipelines.push_back(&player->pipeline());
        }
        EXPECT_EQ(pipelines[0], pipelines[1]);
        // The files hold 25 frames (one second); more than that means the video started over.
        EXPECT_TRUE(
            spinUntil([&] { return views[0]->framesShown() > 40 && views[1]->framesShown() > 40; },
                      std::chrono::seconds(30)))
            << views[0]->framesShown() << " " << views[1]->framesShown();
        EXPECT_FALSE(views[0]->currentFrame().isNull());
        engine->clear();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
        EXPECT_TRUE(engine->screenPlayers().empty());
    }
}

TEST_F(CoverWindows, InputHidesEveryCoverUnlessLockedOut) {
    enum class Input { click, key, keyEquivalent, modifierPress, modifierRelease };
    struct Case {
        const char* what;
        bool lockOut;
        Input input;
        bool hides;
    };
    // Offscreen there is no keyboard grab: Lock Out's tap fails and the trust check answers
    // false, so only a modifier change gets out.
    const Case cases[] = {
        {"click", false, Input::click, true},
        {"key", false, Input::key, true},
        {"ctrl+key", false, Input::keyEquivalent, true},
        {"shift press", false, Input::modifierPress, true},
        {"locked click", true, Input::click, false},
        {"locked key", true, Input::key, false},
        // Pressing Ctrl is itself a modifier change.
        {"locked ctrl+key", true, Input::keyEquivalent, true},
        {"locked shift press", true, Input::modifierPress, true},
        {"locked shift release", true, Input::modifierRelease, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        blackout(c.lockOut);
        auto* window = coverWindow(1);
        switch (c.input) {
            case Input::click:
                QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
                break;
            case Input::key:
                QTest::keyClick(window, Qt::Key_A);
                break;
            case Input::keyEquivalent:
                QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
                break;
            case Input::modifierPress:
                QTest::keyPress(window, Qt::Key_Shift);
                break;
            case Input::modifierRelease:
                QTest::keyRelease(window, Qt::Key_Shift, Qt::ShiftModifier);
                break;
        }
        // The hide goes through the main queue, never inside the event itself.
        EXPECT_EQ(engine->overlayWindows().size(), 2u);
        if (c.hides) {
            EXPECT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
        } else {
            spinTurns();
            EXPECT_EQ(engine->overlayWindows().size(), 2u);
            engine->tearDownOverlays();
        }
    }
}

TEST_F(CoverWindows, AWindowWhoseEngineIsGoneIgnoresEvents) {
    auto screen = desktop::Screens::system()->screens().at(0);
    auto window = engine->makeOverlayWindow(screen, mantleshade::OverlayContent::blackout());
    engine.reset();
    auto* widget = dynamic_cast<desktop::CoverWindow*>(&window->window());
    ASSERT_NE(widget, nullptr);
    QTest::mouseClick(widget, Qt::LeftButton);
    QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
    QTest::keyPress(widget, Qt::Key_Shift);
    spinTurns();
    EXPECT_TRUE(widget->isVisible());
    window.reset();  // deleting it afterwards is fine too
    spinTurns();
}
