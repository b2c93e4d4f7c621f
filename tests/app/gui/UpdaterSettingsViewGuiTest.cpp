#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "FakePreferencesServices.h"
#include "app/CheckForUpdatesViewModel.h"
#include "app/UpdaterSettingsView.h"
#include "platform/updater/SPUUpdater.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::UpdaterSettingsView;

namespace {

class UpdaterSettingsViewGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }

    std::unique_ptr<updater::SPUUpdater> makeUpdater() {
        updater::UpdaterConfiguration configuration;
        configuration.settingsPath = QString::fromStdString((dir / "updater.json").string());
        configuration.currentVersion = "1.0.0";
        configuration.showsDialogs = false;
        return std::make_unique<updater::SPUUpdater>(configuration, nullptr);
    }

    testsupport::TempDir dir{"ms-updater-view"};
};

}  // namespace

TEST_F(UpdaterSettingsViewGuiTest, CheckButtonFollowsTheUpdater) {
    auto updater = makeUpdater();
    UpdaterSettingsView view(*updater);
    view.show();
    EXPECT_EQ(view.checkForUpdatesButton()->text(), QString::fromUtf8("Check for Updates…"));
    EXPECT_FALSE(view.checkForUpdatesButton()->isEnabled());  // not started: cannot check
    updater->startUpdater();
    EXPECT_TRUE(view.checkForUpdatesButton()->isEnabled());
    // A new model starts from the updater's current value.
    mantleshade::CheckForUpdatesViewModel model(*updater);
    EXPECT_TRUE(model.canCheckForUpdates());
}

TEST_F(UpdaterSettingsViewGuiTest, TogglesWriteThroughOnlyOnChange) {
    auto updater = makeUpdater();
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setAutomaticallyDownloadsUpdates(true);
    QSignalSpy checks(updater.get(), &updater::SPUUpdater::automaticallyChecksForUpdatesChanged);
    QSignalSpy downloads(updater.get(), &updater::SPUUpdater::automaticallyDownloadsUpdatesChanged);
    UpdaterSettingsView view(*updater);
    view.show();
    QCheckBox* checkToggle = view.automaticallyChecksToggle();
    QCheckBox* downloadToggle = view.automaticallyDownloadsToggle();
    EXPECT_EQ(checks.count(), 0);  // showing writes nothing
    EXPECT_EQ(downloads.count(), 0);

    struct Step {
        const char* what;
        QCheckBox* toggle;
        bool checks, downloads, downloadEnabled;
    };
    // This build never downloads: the toggle keeps the stored value and cannot be switched.
    const Step steps[] = {
        {"checking off", checkToggle, false, true, false},
        {"checking on", checkToggle, true, true, false},
        {"downloading cannot be switched", downloadToggle, true, true, false},
        {"checking off keeps the stored download setting", checkToggle, false, true, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.toggle->click();
        EXPECT_EQ(updater->automaticallyChecksForUpdates(), step.checks);
        EXPECT_EQ(updater->automaticallyDownloadsUpdates(), step.downloads);
        EXPECT_EQ(downloadToggle->isEnabled(), step.downloadEnabled);
        EXPECT_EQ(downloadToggle->isChecked(), step.downloads);
    }
    EXPECT_EQ(checks.count(), 3);
    EXPECT_EQ(downloads.count(), 0);
    EXPECT_TRUE(view.automaticallyDownloadsHint()->isVisibleTo(&view));
    EXPECT_EQ(view.automaticallyDownloadsHint()->text(),
              "This build checks for updates only; it does not download them.");

    // A change made elsewhere later does not move the toggles.
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_FALSE(checkToggle->isChecked());
}
