#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include <QApplication>
#include <QLineEdit>
#include <QWindow>

#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
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

// Another X client holding the keyboard until release() (or the end of its scope).
class KeyboardHolder {
  public:
    KeyboardHolder() {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return;
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execl(MS_HOLD_KEYBOARD, MS_HOLD_KEYBOARD, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
        held_ = readLine() == "held";
    }
    ~KeyboardHolder() {
        release();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    bool held() const { return held_; }
    // Lets go of the keyboard; answers once the helper says it did.
    bool release() {
        if (input_ < 0) return false;
        ::close(input_);
        input_ = -1;
        return readLine() == "released";
    }

  private:
    std::string readLine() {
        std::string line;
        char c;
        while (output_ >= 0) {
            pollfd p{output_, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0 || ::read(output_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool held_ = false;
};

// A real X server with two monitors, a Qt application on it and an engine with its own defaults.
class CoversOnX : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!x.ok()) GTEST_SKIP() << x.error();
        ASSERT_TRUE(x.paintRootWhite());
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

TEST_F(CoversOnX, LockOutWaitsForTheKeyboardHeldByAnotherProgram) {
    // X11 has no permission to miss: a refused grab does not make the process untrusted.
    EXPECT_TRUE(desktop::Accessibility::isProcessTrusted());
    ASSERT_TRUE(defaults->set("LockOut", true));
    KeyboardHolder holder;
    ASSERT_TRUE(holder.held());

    ::testing::internal::CaptureStdout();
    engine->blackout();
    const bool shown = spinUntil([&] { return engine->overlayWindows().size() == 2; });
    spinUntil([] { return false; }, std::chrono::milliseconds(350));
    const bool refused = engine->eventTap() == nullptr;
    const bool trusted = engine->windowSystem().isProcessTrusted();
    const bool released = holder.release();
    const bool taken = spinUntil([&] { return engine->isKeyboardTapInForce(); });
    const std::string out = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(shown);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(trusted);
    ASSERT_TRUE(released);
    ASSERT_TRUE(taken) << out;
    const std::string failed =
        "❌ Event tap failed — need Accessibility permission\n"
        "keyboard held by another program; retrying\n";
    ASSERT_THAT(out, ::testing::HasSubstr(failed));
    // Printed once, however many attempts it took, and the success follows.
    EXPECT_EQ(out.find(failed), out.rfind(failed));
    EXPECT_THAT(out.substr(out.find(failed)), ::testing::HasSubstr("✅ Event tap active\n"));

    // Now held here: only the shortcut ends it.
    xdotool("key a shift");
    spinTurns();
    EXPECT_EQ(engine->overlayWindows().size(), 2u);
    xdotool("key ctrl+shift+h");
    ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));

    // While the keyboard is still held elsewhere, a modifier key on a cover is the way out.
    KeyboardHolder again;
    ASSERT_TRUE(again.held());
    ::testing::internal::CaptureStdout();
    engine->blackout();
    ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
    engine->overlayWindows()[1]->keyDown();
    spinTurns();
    EXPECT_EQ(engine->overlayWindows().size(), 2u);
    engine->overlayWindows()[1]->flagsChanged();
    EXPECT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
    ::testing::internal::GetCapturedStdout();
}

TEST_F(CoversOnX, AWindowOpenedWhileCoversAreUpStaysBelowThemAndLeavesThemTheKeyboard) {
    // This server runs no window manager: a window mapped later lands on top unless it is put
    // back below the covers.
    QWidget other(nullptr, Qt::Window);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::red);
    other.setPalette(palette);
    other.setAutoFillBackground(true);
    other.setGeometry(200, 200, 400, 300);
    other.setWindowTitle("ms-other-window");
    QLineEdit edit(&other);

    // Without covers it shows as any window does.
    other.show();
    auto shot = screenshotWhen([](const auto& s) { return near(s, 400, 350, kRed); });
    ASSERT_TRUE(near(shot, 400, 350, kRed));
    other.hide();

    for (const bool activated : {false, true}) {
        SCOPED_TRACE(activated ? "shown and activated" : "shown");
        engine->blackout();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
        shot = screenshotWhen([](const auto& s) { return s.regionIsBlack(0, 0, 1920, 1080); });
        ASSERT_TRUE(shot.regionIsBlack(0, 0, 1920, 1080));
        auto onCover = [] {
            QWindow* focus = QGuiApplication::focusWindow();
            return focus && focus->flags().testFlag(Qt::X11BypassWindowManagerHint) &&
                   focus->isVisible();
        };
        ASSERT_TRUE(spinUntil(onCover));

        other.show();
        if (activated) {
            other.raise();
            other.activateWindow();
        }
        // Once the server has mapped it, it goes under the covers and the focus stays on them.
        ASSERT_TRUE(spinUntil([&] {
            return !x.run("xdotool search --onlyvisible --name '^ms-other-window$' 2>/dev/null")
                        .empty();
        }));
        shot = screenshotWhen(
            [&](const auto& s) { return s.regionIsBlack(0, 0, 1920, 1080) && onCover(); });
        EXPECT_TRUE(shot.regionIsBlack(0, 0, 1920, 1080)) << "a window shows above a cover";
        EXPECT_TRUE(onCover());
        xdotool("type z");
        spinTurns();
        EXPECT_TRUE(edit.text().isEmpty());

        other.hide();
        engine->clear();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
    }
}

TEST_F(CoversOnX, AWindowBesideACoverKeepsTheKeyboardAndOneMovedUnderItGivesItBack) {
    // A cover on the left monitor only.
    OverlayData cover;
    cover.useSameMediaForAllScreens = false;
    cover.screenMedia[mantleshade::displayIDKey(*desktop::displayIDForScreenName("MS-LEFT"))]
        .setURL(foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png"));
    ASSERT_TRUE(OverlayData::saveList({cover}, *defaults));

    QWidget other(nullptr, Qt::Window);
    other.setWindowTitle("ms-other-window");
    QLineEdit edit(&other);
    const QPoint right(1920 + 200, 200), left(200, 200);
    other.setGeometry(QRect(right, QSize(400, 300)));
    // Without a window manager nothing but the application gives a window the keyboard.
    auto activate = [&] {
        other.raise();
        other.activateWindow();
    };
    auto onCover = [] {
        QWindow* focus = QGuiApplication::focusWindow();
        return focus && focus->flags().testFlag(Qt::X11BypassWindowManagerHint) &&
               focus->isVisible();
    };

    struct Case {
        const char* what;
        // After the window has the keyboard on the right monitor.
        std::function<void()> then;
        bool keeps;
    };
    const std::string id = "--sync " + std::to_string(other.winId());
    const Case cases[] = {
        {"shown on the other monitor", [] {}, true},
        {"moved under the cover", [&] { xdotool("windowmove " + id + " 200 200"); }, false},
        {"moved under the cover and activated",
         [&] {
             xdotool("windowmove " + id + " 200 200");
             activate();
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        engine->showOverlay(1);
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 1; }));
        ASSERT_TRUE(spinUntil(onCover));

        other.move(right);
        other.show();
        activate();
        ASSERT_TRUE(spinUntil([&] {
            return QGuiApplication::focusWindow() == other.windowHandle();
        })) << "the cover took the keyboard";
        c.then();
        if (!c.keeps) {
            ASSERT_TRUE(spinUntil([&] { return other.geometry().topLeft() == left; }));
        }
        // Judged, and the cover stays above the window wherever they overlap.
        auto shot = screenshotWhen(
            [&](const auto& s) { return near(s, 400, 350, kRed) && onCover() != c.keeps; });
        EXPECT_TRUE(near(shot, 400, 350, kRed)) << "the window shows above the cover";
        EXPECT_NE(onCover(), c.keeps);

        // Typed keys reach the window, or hide the cover when it has them.
        xdotool("type z");
        if (c.keeps) {
            EXPECT_TRUE(spinUntil([&] { return edit.text() == "z"; })) << edit.text().toStdString();
            spinTurns();
            EXPECT_EQ(engine->overlayWindows().size(), 1u);
            EXPECT_FALSE(onCover());
        } else {
            EXPECT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
            EXPECT_TRUE(edit.text().isEmpty());
        }

        other.hide();
        edit.clear();
        engine->clear();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
    }
}
