#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "FakePreferencesServices.h"
#include "app/BehaviourTab.h"
#include "app/OSCManager.h"
#include "app/PreferencesSystemServices.h"
#include "app/PreferencesView.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/updater/SPUStandardUpdaterController.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::OSCManager;
using mantleshade::PreferencesSystemServices;

namespace {

class PreferencesSystemServicesGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }

    testsupport::TempDir dir{"ms-prefs-system"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
};

}  // namespace

TEST_F(PreferencesSystemServicesGuiTest, FollowsTheOSCManager) {
    std::shared_ptr<OSCManager> manager = OSCManager::create(true, defaults.get());
    PreferencesSystemServices services(manager);
    QSignalSpy changes(&services, &mantleshade::PreferencesServices::oscStateChanged);
    EXPECT_FALSE(services.serverIsListening());
    EXPECT_EQ(services.currentListeningPort(), std::nullopt);

    manager->setServerIsListening(true);
    manager->setCurrentListeningPort(5001);
    EXPECT_TRUE(services.serverIsListening());
    EXPECT_EQ(services.currentListeningPort(), 5001);
    EXPECT_EQ(changes.count(), 2);

    PreferencesSystemServices without(nullptr);
    EXPECT_FALSE(without.serverIsListening());
    without.startListening();  // nothing to restart, nothing breaks
}

TEST_F(PreferencesSystemServicesGuiTest, ScreensAreTheDesktops) {
    PreferencesSystemServices services(nullptr);
    const auto screens = services.screens();
    ASSERT_EQ(screens.size(), 2u);
    const std::pair<const char*, QRect> expected[] = {
        {"OffscreenLeft", QRect(0, 0, 1920, 1080)}, {"OffscreenRight", QRect(1920, 0, 1280, 1024)}};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(screens[i].localizedName, expected[i].first);
        EXPECT_EQ(screens[i].frame, expected[i].second);
        EXPECT_EQ(screens[i].displayID, desktop::displayIDForScreenName(expected[i].first));
    }
    ASSERT_TRUE(services.mainScreen());
    EXPECT_EQ(services.mainScreen()->localizedName, "OffscreenLeft");
}

TEST_F(PreferencesSystemServicesGuiTest, MadeForTheApplicationWithItsUpdater) {
    testsupport::ScopedConfigHome config;
    updater::UpdaterConfiguration configuration;
    configuration.settingsPath = QString::fromStdString((dir / "updater.json").string());
    configuration.currentVersion = "1.0.0";
    configuration.showsDialogs = false;
    updater::SPUStandardUpdaterController controller(false, nullptr, configuration);
    std::unique_ptr<QWidget> widget(
        mantleshade::makePreferencesView(OSCManager::create(true, defaults.get()), controller));
    auto* view = qobject_cast<mantleshade::PreferencesView*>(widget.get());
    ASSERT_NE(view, nullptr);
    EXPECT_NE(view->behaviourTab()->updaterSettings(), nullptr);
    EXPECT_EQ(view->behaviourTab()->statusDotColor(), QColor(Qt::red));  // not listening
}
