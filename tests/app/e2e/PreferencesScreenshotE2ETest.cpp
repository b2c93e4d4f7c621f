#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include "FakePreferencesServices.h"
#include "app/ConnectedMonitors.h"
#include "app/ConnectedMonitorsView.h"
#include "app/CoverEditorView.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesView.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/updater/SPUUpdater.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace {

bool isRed(const std::array<std::uint8_t, 3>& p) {
    return p[0] > 200 && p[1] < 40 && p[2] < 40;
}

}  // namespace

TEST(PreferencesScreenshotE2ETest, WindowAndOutlineOnARealDisplay) {
    testsupport::Xvfb x;
    if (!x.ok()) GTEST_SKIP() << x.error();
    testsupport::TempDir dir{"ms-prefs-e2e"};
    auto defaults = foundation::UserDefaults::openAt(dir / "defaults.json");
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].name = "Stage";
    list[0].useSameMediaForAllScreens = false;
    list[0].screenMedia["0"].path =
        foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png");
    list[1].name = "Lobby";
    list[1].sharedMedia = mantleshade::OverlayData::MediaItem{
        foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/loop-160x90.mp4"), {}};
    defaults->set("overlays", mantleshade::OverlayData::encodeList(list));

    int argc = 1;
    char name[] = "preferences-e2e";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_GE(QGuiApplication::screens().size(), 1);

    testsupport::FakePreferencesServices services;
    for (const desktop::Screen& screen : desktop::Screens::system()->screens()) {
        const QRect frame(int(screen.frame.x), int(screen.frame.y), int(screen.frame.width),
                          int(screen.frame.height));
        services.screenList.push_back(
            testsupport::makeScreen(screen.displayID, screen.localizedName, frame));
    }
    services.setState(true, 5000);

    updater::UpdaterConfiguration configuration;
    configuration.settingsPath = QString::fromStdString((dir / "updater.json").string());
    configuration.currentVersion = "1.0.0";
    configuration.showsDialogs = false;
    updater::SPUUpdater updater(configuration, nullptr);
    updater.startUpdater();

    {
        mantleshade::PreferencesView view(services, *defaults, &updater);
        view.move(100, 60);
        view.show();
        view.raise();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        // Exposed is not yet painted: wait for the window to show where it was placed, not the
        // root window's black.
        testsupport::Screenshot behaviour;
        const bool painted = QTest::qWaitFor(
            [&] {
                behaviour = x.screenshot();
                return behaviour.valid() &&
                       !behaviour.regionIsBlack(view.x() + 30, view.y() + 30, 200, 200);
            },
            10000);
        ASSERT_TRUE(behaviour.valid());
        // Kept beside the build for a person to look at.
        behaviour.savePPM(MS_BINARY_DIR "/preferences-behaviour.ppm");
        EXPECT_TRUE(painted) << "the window never showed where it was placed";

        view.tabs()->setCurrentIndex(1);
        auto* monitors = view.mediaTab()->monitorsView();
        ASSERT_TRUE(monitors->isVisible());
        ASSERT_GE(monitors->list()->count(), 1);
        monitors->list()->setCurrentRow(monitors->list()->count() - 1);
        const QRect outlined = services.screenList.back().frame;
        ASSERT_EQ(view.connectedMonitors().highlightWindows().size(), 1u);
        bool shown = QTest::qWaitFor(
            [&] {
                auto shot = x.screenshot();
                return isRed(shot.pixel(outlined.x() + 5, outlined.y() + outlined.height() / 2)) &&
                       isRed(shot.pixel(outlined.right() - 5, outlined.y() + 10));
            },
            5000);
        const testsupport::Screenshot media = x.screenshot();
        media.savePPM(MS_BINARY_DIR "/preferences-media.ppm");
        EXPECT_TRUE(shown) << "no red band on the selected monitor";
        // The band is 20 points wide and lies inside the edge; inside it the desktop shows.
        EXPECT_TRUE(isRed(media.pixel(outlined.x() + 19, outlined.y() + 300)));
        EXPECT_FALSE(isRed(media.pixel(outlined.x() + 40, outlined.y() + 300)));

        view.close();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !isRed(x.screenshot().pixel(outlined.x() + 5, outlined.y() + 300)); },
            5000))
            << "the band stayed after the window closed";
        EXPECT_TRUE(view.connectedMonitors().highlightWindows().empty());
    }
}
