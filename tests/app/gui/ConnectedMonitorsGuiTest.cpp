#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include "FakePreferencesServices.h"
#include "app/ConnectedMonitors.h"
#include "app/ConnectedMonitorsView.h"
#include "app/CoverEditor.h"
#include "app/CoverEditorView.h"
#include "app/MediaRow.h"
#include "app/MonitorOutlineWindow.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesView.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::ConnectedMonitors;
using mantleshade::MonitorOutlineWindow;
using testsupport::makeScreen;

namespace {

class ConnectedMonitorsGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        services.screenList = testsupport::twoScreens();
    }

    static int outlineWindows() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<MonitorOutlineWindow*>(widget)) ++count;
        return count;
    }
    static QRect outlineFrame(const ConnectedMonitors& monitors) {
        return monitors.highlightWindows().at(0)->geometry();
    }

    testsupport::TempDir dir{"ms-monitors"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
    mantleshade::PreferencesSettings settings{*defaults};
    testsupport::FakePreferencesServices services;
};

}  // namespace

TEST_F(ConnectedMonitorsGuiTest, OutlineFollowsSelectionAndIdentifyToggle) {
    ConnectedMonitors monitors(settings, services);
    const QRect left(0, 0, 1920, 1080), right(1920, 0, 1280, 1024);
    struct Step {
        const char* what;
        std::function<void()> action;
        std::optional<QRect> outline;
    };
    const Step steps[] = {
        {"nothing selected at first", [&] { monitors.highlightSelectedScreen(); }, std::nullopt},
        {"identify off", [&] { monitors.setIdentifyMonitors(false); }, std::nullopt},
        {"selecting with identify off", [&] { monitors.setSelectedScreenID(101); }, std::nullopt},
        {"identify on outlines at once", [&] { monitors.setIdentifyMonitors(true); }, left},
        {"another row moves it", [&] { monitors.setSelectedScreenID(202); }, right},
        {"a selection without a screen", [&] { monitors.setSelectedScreenID(999); }, std::nullopt},
        {"back to a screen", [&] { monitors.setSelectedScreenID(101); }, left},
        {"identify off removes it", [&] { monitors.setIdentifyMonitors(false); }, std::nullopt},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.action();
        EXPECT_LE(monitors.highlightWindows().size(), 1u);
        EXPECT_EQ(outlineWindows(), step.outline ? 1 : 0);
        if (step.outline) {
            EXPECT_EQ(outlineFrame(monitors), *step.outline);
        }
    }
    EXPECT_EQ(defaults->boolean("identify-monitors"), false);
}

TEST_F(ConnectedMonitorsGuiTest, OldOutlineIsClosedBeforeTheNewOne) {
    ConnectedMonitors monitors(settings, services);
    monitors.setSelectedScreenID(101);
    QPointer<MonitorOutlineWindow> first = monitors.highlightWindows().at(0).get();
    monitors.setSelectedScreenID(202);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(outlineWindows(), 1);
}

TEST_F(ConnectedMonitorsGuiTest, RefreshKeepsOrMovesTheSelection) {
    ConnectedMonitors monitors(settings, services);
    monitors.setSelectedScreenID(202);
    MonitorOutlineWindow* kept = monitors.highlightWindows().at(0).get();

    monitors.refreshScreens();  // unchanged: selection and outline stay
    EXPECT_EQ(monitors.selectedScreenID(), 202u);
    ASSERT_EQ(monitors.highlightWindows().size(), 1u);
    EXPECT_EQ(monitors.highlightWindows()[0].get(), kept);

    services.screenList = {makeScreen(303, "New", QRect(0, 0, 800, 600)),
                           makeScreen(101, "OffscreenLeft", QRect(800, 0, 1920, 1080))};
    monitors.refreshScreens();  // the selected display went away: the first one is selected
    EXPECT_EQ(monitors.selectedScreenID(), 303u);
    EXPECT_EQ(outlineFrame(monitors), QRect(0, 0, 800, 600));

    services.screenList.clear();
    monitors.refreshScreens();
    EXPECT_EQ(monitors.selectedScreenID(), std::nullopt);
    EXPECT_TRUE(monitors.highlightWindows().empty());
    EXPECT_EQ(outlineWindows(), 0);
}

TEST_F(ConnectedMonitorsGuiTest, ScreenWithoutADisplayID) {
    const std::pair<std::optional<std::uint32_t>, std::string> keys[] = {
        {std::nullopt, "0"}, {7u, "7"}, {4294967295u, "4294967295"}, {0u, "0"}};
    for (const auto& [id, key] : keys) EXPECT_EQ(ConnectedMonitors::displayIDKey(id), key);

    services.screenList = {makeScreen(std::nullopt, "", QRect(0, 0, 640, 480)),
                           makeScreen(5, "B", QRect(640, 0, 640, 480))};
    ConnectedMonitors monitors(settings, services);
    ASSERT_TRUE(monitors.screenFor(std::nullopt));
    EXPECT_EQ(monitors.screenFor(std::nullopt)->frame, QRect(0, 0, 640, 480));
    monitors.highlightSelectedScreen();  // the absent selection matches the screen without ID
    EXPECT_EQ(outlineFrame(monitors), QRect(0, 0, 640, 480));
}

TEST_F(ConnectedMonitorsGuiTest, OutlineWindowTakesNoInputAndDrawsInsideTheEdge) {
    MonitorOutlineWindow window(QRect(1920, 0, 1280, 1024));
    const Qt::WindowFlags flags = window.windowFlags();
    for (Qt::WindowType flag : {Qt::FramelessWindowHint, Qt::WindowStaysOnTopHint,
                                Qt::WindowTransparentForInput, Qt::WindowDoesNotAcceptFocus})
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(window.focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(window.geometry(), QRect(1920, 0, 1280, 1024));

    const QRegion band = window.mask();
    const std::pair<QPoint, bool> points[] = {
        {{0, 0}, true},       {{19, 500}, true},    {{20, 500}, false},
        {{640, 512}, false},  {{1279, 1023}, true}, {{1259, 1003}, false},
        {{1260, 1003}, true}, {{640, 1004}, true},  {{640, 1003}, false}};
    for (const auto& [point, inside] : points)
        EXPECT_EQ(band.contains(point), inside) << point.x() << "," << point.y();

    const QImage shot = window.grab().toImage();
    EXPECT_EQ(shot.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(1270, 600), QColor(Qt::red));
}

TEST_F(ConnectedMonitorsGuiTest, ListShowsScreensAndRemovesTheOutlineWhenItGoesAway) {
    services.main = services.screenList[1];
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].useSameMediaForAllScreens = false;
    list[0].screenMedia["202"].path = foundation::URL::fileURL("/m/right.png");
    settings.setOverlays(list);

    auto view = std::make_unique<mantleshade::PreferencesView>(services, *defaults, nullptr);
    view->show();
    view->tabs()->setCurrentIndex(1);
    mantleshade::CoverEditorView* media = view->mediaTab();
    mantleshade::ConnectedMonitorsView* monitorsView = media->monitorsView();
    ASSERT_TRUE(monitorsView->isVisible());
    ASSERT_EQ(monitorsView->rows().size(), 2u);
    EXPECT_EQ(monitorsView->rows()[0]->config().label, "OffscreenLeft");
    EXPECT_EQ(monitorsView->rows()[0]->config().icon, "display");
    EXPECT_EQ(monitorsView->rows()[1]->config().icon, "laptopcomputer");
    EXPECT_FALSE(monitorsView->rows()[0]->config().showBackground);
    EXPECT_FALSE(monitorsView->rows()[0]->config().mediaPath);
    EXPECT_EQ(monitorsView->rows()[1]->config().mediaPath->lastPathComponent(), "right.png");
    EXPECT_EQ(outlineWindows(), 0);  // nothing selected yet

    monitorsView->list()->setCurrentRow(1);
    EXPECT_EQ(view->connectedMonitors().selectedScreenID(), 202u);
    EXPECT_EQ(outlineWindows(), 1);

    struct Step {
        const char* what;
        std::function<void()> action;
        int outlines;
    };
    const Step steps[] = {
        {"one media for all screens", [&] { media->sameMediaToggle()->click(); }, 0},
        {"per screen again", [&] { media->sameMediaToggle()->click(); }, 1},
        {"other tab", [&] { view->tabs()->setCurrentIndex(0); }, 0},
        {"media tab again", [&] { view->tabs()->setCurrentIndex(1); }, 1},
        {"picker selects a shared cover", [&] { media->picker()->setCurrentIndex(1); }, 0},
        {"back to cover 1", [&] { media->picker()->setCurrentIndex(0); }, 1},
        {"window closed", [&] { view->close(); }, 0},
        {"window shown", [&] { view->show(); }, 1},
        {"view destroyed", [&] { view.reset(); }, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.action();
        EXPECT_EQ(outlineWindows(), step.outlines);
    }
}

TEST_F(ConnectedMonitorsGuiTest, RowsEditTheirScreensMedia) {
    const std::string png = std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png";
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].useSameMediaForAllScreens = false;
    settings.setOverlays(list);
    services.choices = {foundation::URL::fileURL(png)};
    mantleshade::PreferencesView view(services, *defaults, nullptr);
    view.show();
    view.tabs()->setCurrentIndex(1);
    auto* monitorsView = view.mediaTab()->monitorsView();
    monitorsView->rows()[0]->findChild<QAbstractButton*>("mediaRowBrowse")->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return monitorsView->rows()[0]->config().mediaPath.has_value(); }, 2000));
    auto stored =
        mantleshade::PreferencesSettings::overlaysFromRawValue(*defaults->string("overlays"));
    EXPECT_EQ(stored->at(0).screenMedia.at("101").path->path(), png);
    EXPECT_FALSE(stored->at(0).screenMedia.count("202"));
    EXPECT_FALSE(stored->at(0).sharedMedia);
    EXPECT_EQ(view.mediaTab()->picker()->itemText(0), "Cover (ID 1)");

    monitorsView->rows()[0]->findChild<QAbstractButton*>("mediaRowRemove")->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !monitorsView->rows()[0]->config().mediaPath; }, 2000));
    EXPECT_EQ(view.mediaTab()->picker()->itemText(0), "Cover (ID 1) (No Media)");
    // The refresh button reads the screens again; the selected one is gone, so the first is
    // selected, in the list too.
    monitorsView->list()->setCurrentRow(1);
    services.screenList.pop_back();
    monitorsView->refreshButton()->click();
    EXPECT_EQ(monitorsView->rows().size(), 1u);
    EXPECT_EQ(view.connectedMonitors().selectedScreenID(), 101u);
    EXPECT_EQ(monitorsView->list()->currentRow(), 0);
}
