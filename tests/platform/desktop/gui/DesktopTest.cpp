#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTest>

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/ImageView.h"
#include "platform/desktop/QtLoopingPlayer.h"
#include "platform/desktop/QtWindowSystem.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/VideoView.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

std::string dataFile(const char* name) {
    return std::string(MS_TEST_DATA_DIR) + "/" + name;
}

struct Recorder : desktop::WindowEventHandler {
    std::vector<std::string> calls;
    void mouseDown() override { calls.push_back("mouseDown"); }
    void keyDown() override { calls.push_back("keyDown"); }
    bool performKeyEquivalent() override {
        calls.push_back("performKeyEquivalent");
        return false;
    }
    void flagsChanged() override { calls.push_back("flagsChanged"); }
};

// One key event exactly as given (QTest would add presses of the modifiers).
void sendKey(QWidget* w, QEvent::Type type, int key, Qt::KeyboardModifiers modifiers = {},
             const QString& text = {}) {
    QKeyEvent event(type, key, modifiers, text);
    QCoreApplication::sendEvent(w, &event);
}

}  // namespace

TEST(DesktopScreens, ListsQtScreensInOrderWithTheirDisplayIds) {
    ensureApplication();
    auto screens = desktop::Screens::system()->screens();
    ASSERT_EQ(screens.size(), 2u);
    struct Expected {
        const char* name;
        desktop::Rect frame;
    };
    const Expected expected[] = {{"OffscreenLeft", {0, 0, 1920, 1080}},
                                 {"OffscreenRight", {1920, 0, 1280, 1024}}};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(screens[i].localizedName, expected[i].name);
        EXPECT_EQ(screens[i].displayID, desktop::fnv1a32(expected[i].name));
        EXPECT_EQ(screens[i].frame, expected[i].frame);
        EXPECT_EQ(screens[i].qscreen, QGuiApplication::screens()[static_cast<int>(i)]);
    }
    // No window is active: the primary screen is the main one.
    auto main = desktop::Screens::system()->mainScreen();
    ASSERT_TRUE(main);
    EXPECT_EQ(main->localizedName, "OffscreenLeft");
    EXPECT_TRUE(screens[0].isMain);
    EXPECT_FALSE(screens[1].isMain);
}

TEST(DesktopCoverWindow, MapsInputToTheHandler) {
    ensureApplication();
    using Calls = std::vector<std::string>;
    struct Case {
        const char* what;
        std::function<void(QWidget*)> send;
        Calls calls;
    };
    const Case cases[] = {
        {"click", [](QWidget* w) { QTest::mousePress(w, Qt::LeftButton); }, {"mouseDown"}},
        {"right click", [](QWidget* w) { QTest::mousePress(w, Qt::RightButton); }, {"mouseDown"}},
        {"key", [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_A, {}, "a"); }, {"keyDown"}},
        {"key release", [](QWidget* w) { sendKey(w, QEvent::KeyRelease, Qt::Key_A, {}, "a"); }, {}},
        {"escape", [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Escape); }, {"keyDown"}},
        // Focus keys are keys like any other on a cover.
        {"tab",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Tab, {}, "\t"); },
         {"keyDown"}},
        {"shift+tab",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier); },
         {"keyDown"}},
        {"ctrl+tab",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Tab, Qt::ControlModifier); },
         {"performKeyEquivalent", "keyDown"}},
        {"ctrl+a",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier); },
         {"performKeyEquivalent", "keyDown"}},
        {"super+a",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_A, Qt::MetaModifier); },
         {"performKeyEquivalent", "keyDown"}},
        {"shift+a",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_A, Qt::ShiftModifier, "A"); },
         {"keyDown"}},
        {"shift press",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier); },
         {"flagsChanged"}},
        {"shift release",
         [](QWidget* w) { sendKey(w, QEvent::KeyRelease, Qt::Key_Shift); },
         {"flagsChanged"}},
        {"caps lock",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_CapsLock); },
         {"flagsChanged"}},
        {"super",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Meta, Qt::MetaModifier); },
         {"flagsChanged"}},
        {"alt",
         [](QWidget* w) { sendKey(w, QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier); },
         {"flagsChanged"}},
    };
    desktop::Screen screen = desktop::Screens::system()->screens().at(1);
    for (bool withImage : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (withImage ? " on an image" : ""));
            desktop::CoverWindow window(screen);
            if (withImage) window.setImageContent(QImage(4, 4, QImage::Format_RGB32));
            Recorder recorder;
            window.setEventHandler(&recorder);
            window.makeKeyAndOrderFront();
            c.send(&window);
            EXPECT_EQ(recorder.calls, c.calls);
            // Detached: nothing is called.
            window.setEventHandler(nullptr);
            c.send(&window);
            EXPECT_EQ(recorder.calls, c.calls);
        }
}

TEST(DesktopCoverWindow, ContentFollowsTheWindowsFrame) {
    ensureApplication();
    desktop::Screen screen = desktop::Screens::system()->screens().at(1);
    desktop::CoverWindow window(screen);
    EXPECT_EQ(window.frame(), screen.frame);
    EXPECT_EQ(window.screen(), screen.qscreen);
    EXPECT_EQ(window.contentView(), nullptr);

    window.setImageContent(QImage(QString::fromStdString(dataFile("red-blue-400x200.png"))));
    auto* image = qobject_cast<desktop::ImageView*>(window.contentView());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->image().size(), QSize(400, 200));
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(window.isVisible());
    window.setFrame({1920, 0, 640, 480});
    EXPECT_EQ(window.frame(), (desktop::Rect{1920, 0, 640, 480}));
    EXPECT_EQ(image->geometry(), QRect(0, 0, 640, 480));

    // Replacing the content drops the old view.
    QPointer<QWidget> old = image;
    window.setBlackoutContent();
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(window.contentView(), nullptr);

    window.orderOut();
    EXPECT_FALSE(window.isVisible());
    window.close();
    EXPECT_FALSE(window.isVisible());
}

TEST(DesktopCoverWindow, VideoViewLetsGoOfItsPlayerWhicheverGoesFirst) {
    ensureApplication();
    desktop::Screen screen = desktop::Screens::system()->screens().at(0);
    auto url = foundation::URL::fileURL(dataFile("loop-160x90.mp4"));
    {
        desktop::QtLoopingPlayer player(url);
        auto window = std::make_unique<desktop::CoverWindow>(screen);
        window->setVideoContent(player);
        auto* view = qobject_cast<desktop::VideoView*>(window->contentView());
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(player.mediaPlayer().videoSink(), view->sink());
        window.reset();  // the window goes first
        EXPECT_EQ(player.mediaPlayer().videoSink(), nullptr);
    }
    {
        auto player = std::make_unique<desktop::QtLoopingPlayer>(url);
        desktop::CoverWindow window(screen);
        window.setVideoContent(*player);
        player->play();
        EXPECT_TRUE(player->isPlaying());
        player->pause();
        EXPECT_FALSE(player->isPlaying());
        player->detachOutput();
        EXPECT_EQ(player->mediaPlayer().videoSink(), nullptr);
        player.reset();  // the player goes first
    }
}

TEST(DesktopCoverWindow, VideoFromAFileThatIsNotARegularFileDoesNotBlock) {
    ensureApplication();
    testsupport::TempDir dir("ms-desktop-gui");
    const std::string fifo = (dir / "clip.mp4").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Unblocks a main thread stuck opening the FIFO, and says so.
    std::promise<void> done;
    auto watchdog = std::async(std::launch::async, [&, finished = done.get_future()] {
        if (finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready) return false;
        int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        return true;
    });
    for (const std::string& path : {fifo, std::string("/dev/zero"), dir.path().string()}) {
        SCOPED_TRACE(path);
        desktop::QtLoopingPlayer player(foundation::URL::fileURL(path));
        desktop::CoverWindow window(desktop::Screens::system()->screens().at(0));
        window.setVideoContent(player);
        player.play();
        QCoreApplication::processEvents();
        player.pause();
        player.detachOutput();
    }
    done.set_value();
    EXPECT_FALSE(watchdog.get()) << "opening the file blocked the main thread";
}

TEST(DesktopWindowSystem, LoadsImagesAndAnswersNullForTheRest) {
    ensureApplication();
    desktop::QtWindowSystem system;
    struct Case {
        std::string url;
        QSize size;
    };
    const Case cases[] = {
        {foundation::URL::fileURL(dataFile("red-blue-400x200.png")).absoluteString(), {400, 200}},
        {foundation::URL::fileURL(dataFile("green-300x400.jpg")).absoluteString(), {300, 400}},
        {foundation::URL::fileURL(dataFile("not-an-image.png")).absoluteString(), {}},
        {foundation::URL::fileURL(dataFile("missing.png")).absoluteString(), {}},
        {foundation::URL::fileURL(dataFile("loop-160x90.mp4")).absoluteString(), {}},
        {"https://example.invalid/a.png", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        auto url = foundation::URL::fromString(c.url);
        ASSERT_TRUE(url);
        QImage image = system.loadImage(*url);
        EXPECT_EQ(image.isNull(), !c.size.isValid());
        if (c.size.isValid()) {
            EXPECT_EQ(image.size(), c.size);
        }
    }
}

TEST(DesktopWindowSystem, FilesThatAreNotRegularFilesLoadNoImageAndDoNotBlock) {
    ensureApplication();
    desktop::QtWindowSystem system;
    testsupport::TempDir dir("ms-desktop-gui");
    const std::string fifo = (dir / "cover.png").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = (dir / "folder.png").string();
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    for (const std::string& path : {fifo, folder, std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        auto loading = std::async(std::launch::async,
                                  [&] { return system.loadImage(foundation::URL::fileURL(path)); });
        if (loading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            // Let a reader stuck on the FIFO go before failing.
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
            ADD_FAILURE() << "loading blocked";
        }
        EXPECT_TRUE(loading.get().isNull());
    }
}

TEST(DesktopWindowSystem, NoKeyboardTapWithoutX11) {
    ensureApplication();
    desktop::QtWindowSystem system;
    EXPECT_FALSE(desktop::Accessibility::isProcessTrusted());
    EXPECT_FALSE(desktop::Accessibility::isProcessTrustedWithPrompt(true));
    desktop::KeyboardTapFailure failure;
    EXPECT_EQ(system.createKeyboardTap([](const desktop::KeyEvent&) { return false; }, &failure),
              nullptr);
    // Nothing to wait for: there is no X server to hold the keyboard on.
    EXPECT_FALSE(failure.retryable);
    EXPECT_FALSE(failure.cause.empty());
    EXPECT_FALSE(system.isProcessTrusted());
}
