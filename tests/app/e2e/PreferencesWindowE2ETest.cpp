// The Preferences window as the application opens it, on a real X server with two monitors:
// at its initial size, on each monitor, with per-screen media (an image and a video).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/BehaviourTab.h"
#include "app/ConnectedMonitorsView.h"
#include "app/CoverEditorView.h"
#include "app/MediaRow.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesSystemServices.h"
#include "app/PreferencesView.h"
#include "covers/FullscreenImageOverlay.h"
#include "platform/desktop/ActivationPolicy.h"
#include "platform/desktop/MainQueuePump.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

TEST(PreferencesWindowE2ETest, WholeContentAtItsInitialSizeOnBothMonitors) {
    testsupport::Xvfb x;
    if (!x.ok()) GTEST_SKIP() << x.error();
    testsupport::TempDir dir{"ms-prefs-window-e2e"};
    auto defaults = foundation::UserDefaults::openAt(dir / "defaults.json");
    defaults->set("oscPort", std::int64_t{0});

    int argc = 1;
    char name[] = "preferences-window-e2e";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    desktop::MainQueuePump::install();
    const auto screens = desktop::Screens::system()->screens();
    ASSERT_EQ(screens.size(), 2u);

    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].name = "Stage";
    list[0].useSameMediaForAllScreens = false;
    const std::string data = MS_TEST_DATA_DIR;
    list[0].screenMedia[mantleshade::displayIDKey(*screens[0].displayID)].path =
        foundation::URL::fileURL(data + "/red-blue-400x200.png");
    list[0].screenMedia[mantleshade::displayIDKey(*screens[1].displayID)].path =
        foundation::URL::fileURL(data + "/loop-160x90.mp4");
    list[2].name = "Interval slide";
    defaults->set("overlays", mantleshade::OverlayData::encodeList(list));

    updater::UpdaterConfiguration configuration;
    configuration.settingsPath = QString::fromStdString((dir / "updater.json").string());
    configuration.currentVersion = "1.0.0";
    configuration.showsDialogs = false;
    foundation::NotificationCenter center;
    mantleshade::AppDelegate delegate(mantleshade::FullscreenImageOverlay::create(
                                          desktop::WindowSystem::qt(), defaults.get(), &center),
                                      configuration, defaults.get());
    delegate.applicationDidFinishLaunching();
    delegate.openPreferences();
    QWidget* window = delegate.preferencesWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    auto* view = window->findChild<mantleshade::PreferencesView*>();
    ASSERT_NE(view, nullptr);

    // X11 has no permission to ask for: Lock Out can be switched.
    EXPECT_TRUE(view->behaviourTab()->lockOutToggle()->isEnabled());
    EXPECT_FALSE(view->behaviourTab()->permissionHint()->isVisible());

    const QRect monitors[] = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    for (int m = 0; m < 2; ++m) {
        SCOPED_TRACE(m);
        QRect frame = window->frameGeometry();
        frame.moveCenter(monitors[m].center());
        window->move(frame.topLeft());
        QTest::qWait(100);
        for (int tab = 0; tab < 2; ++tab) {
            view->tabs()->setCurrentIndex(tab);
            QTest::qWait(tab == 1 ? 800 : 200);  // the video's first frame
            const auto shot = x.screenshot();
            ASSERT_TRUE(shot.valid());
            // Kept beside the build for a person to look at.
            const QRect area = window->frameGeometry().adjusted(-10, -10, 10, 10);
            shot.cropped(area.x(), area.y(), area.width(), area.height())
                .savePPM(std::string(MS_BINARY_DIR) + "/preferences-window-" + std::to_string(m) +
                         "-" + std::to_string(tab) + ".ppm");
        }
        auto* monitorsView = view->mediaTab()->monitorsView();
        for (mantleshade::MediaRow* row : monitorsView->rows()) EXPECT_GE(row->height(), 64);
        QComboBox* picker = view->mediaTab()->picker();
        for (int index : {0, 2}) {
            picker->setCurrentIndex(index);
            QTest::qWait(20);
            QStyleOptionComboBox option;
            option.initFrom(picker);
            const QRect field = picker->style()->subControlRect(
                QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, picker);
            EXPECT_LE(picker->fontMetrics().horizontalAdvance(picker->currentText()), field.width())
                << picker->currentText().toStdString();
        }
        picker->setCurrentIndex(0);
        // Nothing of the content is cut off by the window's edge.
        EXPECT_TRUE(window->rect().contains(view->geometry()));
    }
    // The menu's key equivalents work in the window: Ctrl+, keeps it, Ctrl+Q quits.
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    x.run("xdotool key ctrl+comma");
    QTest::qWait(100);
    EXPECT_EQ(delegate.preferencesWindow(), window);
    EXPECT_FALSE(delegate.isTerminating());
    x.run("xdotool key ctrl+q");
    EXPECT_TRUE(QTest::qWaitFor([&] { return delegate.isTerminating(); }, 3000));
}

TEST(PreferencesWindowE2ETest, FocusReturnsToTheWindowAfterTheFileDialog) {
    testsupport::Xvfb x;
    if (!x.ok()) GTEST_SKIP() << x.error();
    int argc = 1;
    // As users meet it: under a window manager that gives no window the keyboard when a dialog
    // closes (openbox; without one the X server does the same).
    (void)x.startWindowManager();
    char name[] = "preferences-focus-e2e";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    // As the application makes its Preferences window: kept out of the taskbar.
    QWidget window;
    auto* field = new QLineEdit(&window);
    window.resize(400, 100);
    desktop::setActivationPolicy(desktop::ActivationPolicy::accessory);
    desktop::registerApplicationWindow(&window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // A click, as a user gives a window the keyboard (a window manager gives none on its own).
    x.run("xdotool mousemove --window " + std::to_string(window.winId()) + " 200 80 click 1");
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto focusedXWindow = [&] {
        int status = 0;
        std::string out = x.run("xdotool getwindowfocus", &status);
        return status == 0 ? std::stoul(out) : 0ul;
    };

    mantleshade::PreferencesSystemServices services(nullptr);
    const std::string chosen = std::string(MS_TEST_DATA_DIR) + "/green-300x400.jpg";
    for (bool choose : {false, true}) {
        SCOPED_TRACE(choose ? "a file chosen" : "cancelled");
        bool dialogSeen = false;
        std::string leftover;
        // Answers the dialog once it is up; closes whatever is still modal later, so that
        // nothing hangs.
        QTimer poll;
        int ticks = 0;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            ++ticks;
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            if (dialog && !dialogSeen && ticks >= 3) {
                dialogSeen = true;
                if (choose) {
                    // As typed: selectFile() leaves a focused name field alone.
                    if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"))
                        edit->setText(QString::fromStdString(chosen));
                    static_cast<QDialog*>(dialog)->accept();
                } else {
                    dialog->reject();
                }
            } else if (modal && ticks > 30) {
                leftover = modal->metaObject()->className();
                modal->close();
            }
        });
        poll.start(100);
        const auto result = services.chooseMedia();
        poll.stop();
        ASSERT_TRUE(dialogSeen);
        EXPECT_EQ(leftover, "");
        EXPECT_EQ(result.has_value(), choose);
        // Typing goes to the window again, without a click.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return focusedXWindow() == static_cast<unsigned long>(window.winId()); }, 3000));
        field->clear();
        x.run("xdotool type a");
        EXPECT_TRUE(QTest::qWaitFor([&] { return field->text() == "a"; }, 3000))
            << field->text().toStdString();
    }
}
