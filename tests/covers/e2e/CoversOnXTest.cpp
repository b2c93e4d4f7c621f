#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QWindow>

#include "QtSpin.h"
#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

using mantleshade::FullscreenImageOverlay;
using mantleshade::OverlayData;

namespace {

struct Colour {
    int r, g, b;
};
constexpr Colour kBlack{0, 0, 0}, kWhite{255, 255, 255}, kRed{255, 0, 0}, kBlue{0, 0, 255};

bool near(const testsupport::Screenshot& shot, int x, int y, Colour c, int tolerance = 12) {
    auto p = shot.pixel(x, y);
    return std::abs(p[0] - c.r) <= tolerance && std::abs(p[1] - c.g) <= tolerance &&
           std::abs(p[2] - c.b) <= tolerance;
}

// A real X server with two monitors, a Qt application on it and an engine with its own defaults.
class CoversOnX : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!x.ok()) GTEST_SKIP() << x.error();
        int status = 0;
        x.run("xsetroot -solid white", &status);
        ASSERT_EQ(status, 0);
        static int argc = 1;
        static char name[] = "covers-e2e";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        ASSERT_EQ(QGuiApplication::screens().size(), 2);
        defaults = foundation::UserDefaults::openAt(dir.path() / "defaults.json");
        engine =
            FullscreenImageOverlay::create(desktop::WindowSystem::qt(), defaults.get(), &center);
    }
    void TearDown() override {
        engine.reset();
        spinTurns();
        app.reset();
    }

    // Screenshots until `ready` holds for one (or the time is up); answers the last one.
    testsupport::Screenshot screenshotWhen(
        const std::function<bool(const testsupport::Screenshot&)>& ready) {
        testsupport::Screenshot shot;
        spinUntil([&] {
            shot = x.screenshot();
            return shot.valid() && ready(shot);
        });
        return shot;
    }

    void xdotool(const std::string& args) {
        int status = 0;
        x.run("xdotool " + args, &status);
        ASSERT_EQ(status, 0) << args;
    }

    testsupport::Xvfb x;
    std::unique_ptr<QApplication> app;
    testsupport::TempDir dir{"ms-covers-e2e"};
    std::unique_ptr<foundation::UserDefaults> defaults;
    foundation::NotificationCenter center;
    std::shared_ptr<FullscreenImageOverlay> engine;
};

}  // namespace

TEST_F(CoversOnX, BlackoutFillsBothMonitorsExactly) {
    auto before = x.screenshot();
    ASSERT_TRUE(before.valid());
    ASSERT_EQ(before.width, 3200);
    EXPECT_TRUE(near(before, 100, 100, kWhite));

    engine->blackout();
    auto shot = screenshotWhen([](const testsupport::Screenshot& s) {
        return s.regionIsBlack(0, 0, 1920, 1080) && s.regionIsBlack(1920, 0, 1280, 1024);
    });
    EXPECT_TRUE(shot.regionIsBlack(0, 0, 1920, 1080));
    EXPECT_TRUE(shot.regionIsBlack(1920, 0, 1280, 1024));
    // Below the right monitor lies no monitor: nothing covers it.
    EXPECT_TRUE(near(shot, 2500, 1060, kWhite));
    EXPECT_EQ(engine->overlayWindows().size(), 2u);

    engine->clear();
    shot =
        screenshotWhen([](const testsupport::Screenshot& s) { return near(s, 100, 100, kWhite); });
    EXPECT_TRUE(near(shot, 100, 100, kWhite));
    EXPECT_TRUE(near(shot, 2500, 500, kWhite));
}

TEST_F(CoversOnX, ImageCoverFillsBothMonitorsAspectFit) {
    OverlayData cover;
    cover.sharedMedia = OverlayData::MediaItem{};
    cover.sharedMedia->setURL(
        foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png"));
    ASSERT_TRUE(OverlayData::saveList({cover}, *defaults));
    engine->showOverlay(1);
    struct Probe {
        int x, y;
        Colour colour;
    };
    // 400x200: 1920x960 at y 60 on the left monitor; 1280x640 at y 192 on the right one.
    const Probe probes[] = {
        {960, 30, kBlack},        {480, 540, kRed},          {1440, 540, kBlue},
        {960, 1050, kBlack},      {1920 + 640, 150, kBlack}, {1920 + 320, 512, kRed},
        {1920 + 960, 512, kBlue}, {1920 + 640, 900, kBlack}, {2500, 1060, kWhite},
    };
    auto shot = screenshotWhen([&](const testsupport::Screenshot& s) {
        for (const Probe& p : probes)
            if (!near(s, p.x, p.y, p.colour)) return false;
        return true;
    });
    for (const Probe& p : probes) {
        auto px = shot.pixel(p.x, p.y);
        EXPECT_TRUE(near(shot, p.x, p.y, p.colour))
            << p.x << "," << p.y << " is " << int(px[0]) << " " << int(px[1]) << " " << int(px[2]);
    }
}

TEST_F(CoversOnX, LockOutHoldsTheKeyboardUntilCommandShiftH) {
    QLineEdit edit;
    edit.setWindowFlag(Qt::X11BypassWindowManagerHint);
    edit.setGeometry(100, 100, 400, 40);
    edit.show();
    auto focusEdit = [&] {
        edit.activateWindow();
        edit.setFocus();
        return spinUntil([&] { return QGuiApplication::focusWindow() == edit.windowHandle(); });
    };
    ASSERT_TRUE(focusEdit());
    xdotool("type x");
    ASSERT_TRUE(spinUntil([&] { return edit.text() == "x"; })) << edit.text().toStdString();

    ASSERT_TRUE(defaults->set("LockOut", true));
    for (const char* combination : {"ctrl+shift+h", "super+shift+h", "ctrl+alt+shift+h"}) {
        SCOPED_TRACE(combination);
        engine->blackout();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
        ASSERT_NE(engine->eventTap(), nullptr) << "the keyboard grab was refused";
        EXPECT_FALSE(engine->allowUserInteraction());

        // Swallowed: plain keys, H with only one of the two modifiers.
        xdotool("type a");
        xdotool("key ctrl+h shift+h Return");
        xdotool(std::string("key ") + combination);
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
        EXPECT_EQ(engine->eventTap(), nullptr);
        EXPECT_EQ(edit.text(), "x");

        // Released: keys reach the window again.
        ASSERT_TRUE(focusEdit());
        xdotool("type y");
        EXPECT_TRUE(spinUntil([&] { return edit.text() == "xy"; })) << edit.text().toStdString();
        edit.setText("x");
    }
}
