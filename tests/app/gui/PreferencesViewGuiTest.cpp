#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <fstream>

#include "FakePreferencesServices.h"
#include "app/AccessibilityPoll.h"
#include "app/BehaviourTab.h"
#include "app/CoverEditorView.h"
#include "app/MediaRow.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesView.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::BehaviourTab;
using mantleshade::MediaRow;
using mantleshade::PreferencesView;

namespace {

class PreferencesViewGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }

    std::unique_ptr<PreferencesView> makeView() {
        auto view = std::make_unique<PreferencesView>(services, *defaults, nullptr);
        view->show();
        return view;
    }
    static void commitPort(QLineEdit* field, const QString& text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    static QString statusText(PreferencesView& view) {
        return view.behaviourTab()->statusLabel()->text();
    }

    testsupport::TempDir dir{"ms-prefs-gui"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
    testsupport::FakePreferencesServices services;
};

}  // namespace

TEST_F(PreferencesViewGuiTest, OpeningWritesNothingAndStartsOnCoverOne) {
    auto view = makeView();
    QComboBox* picker = view->mediaTab()->picker();
    ASSERT_EQ(picker->count(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(picker->itemText(i).toStdString(),
                  "Cover (ID " + std::to_string(i + 1) + ") (No Media)");
    EXPECT_EQ(picker->currentIndex(), 0);
    EXPECT_EQ(view->tabs()->currentIndex(), 0);
    EXPECT_EQ(view->tabs()->tabText(0), "Behaviour");
    EXPECT_EQ(view->tabs()->tabText(1), "Media");
    EXPECT_EQ(view->width(), PreferencesView::kWidth);
    QTest::qWait(20);
    EXPECT_FALSE(std::filesystem::exists(defaults->path()));
}

TEST_F(PreferencesViewGuiTest, VersionLine) {
    struct Case {
        QString version;
        QVariant build;
        QString expected;
    };
    const Case cases[] = {
        {"2.1", QString("7"), "Version 2.1 (7)"},
        {"2.1", QVariant(), "Version 2.1"},
        {"", QString("7"), "Version 1.0"},
        {"", QVariant(), "Version 1.0"},
    };
    const QString savedVersion = QCoreApplication::applicationVersion();
    const QVariant savedBuild = qApp->property("CFBundleVersion");
    for (const Case& c : cases) {
        QCoreApplication::setApplicationVersion(c.version);
        qApp->setProperty("CFBundleVersion", c.build);
        PreferencesView view(services, *defaults, nullptr);
        EXPECT_EQ(view.versionLabel()->text(), c.expected);
    }
    QCoreApplication::setApplicationVersion(savedVersion);
    qApp->setProperty("CFBundleVersion", savedBuild);
}

TEST_F(PreferencesViewGuiTest, PermissionPollRunsOnlyWhileTheWindowIsShown) {
    services.trusted = false;
    PreferencesView view(services, *defaults, nullptr);
    BehaviourTab* tab = view.behaviourTab();
    EXPECT_FALSE(view.accessibilityPoll().isRunning());
    EXPECT_FALSE(tab->lockOutToggle()->isEnabled());
    EXPECT_TRUE(tab->permissionHint()->isVisibleTo(&view));
    EXPECT_TRUE(tab->permissionButton()->isVisibleTo(&view));

    view.show();
    EXPECT_TRUE(view.accessibilityPoll().isRunning());
    QTest::mouseClick(tab->permissionButton(), Qt::LeftButton);
    EXPECT_EQ(services.permissionRequests, 1);
    services.trusted = true;  // granted in the desktop's dialog
    EXPECT_TRUE(QTest::qWaitFor([&] { return tab->lockOutToggle()->isEnabled(); }, 5000));
    EXPECT_FALSE(tab->permissionHint()->isVisibleTo(&view));
    EXPECT_FALSE(tab->permissionButton()->isVisibleTo(&view));

    view.hide();
    EXPECT_FALSE(view.accessibilityPoll().isRunning());
    const int checks = services.trustChecks;
    QTest::qWait(1300);
    EXPECT_EQ(services.trustChecks, checks);  // stopped means no more checks

    view.show();
    view.show();  // shown twice: still one poll
    EXPECT_TRUE(view.accessibilityPoll().isRunning());
    view.close();
    EXPECT_FALSE(view.accessibilityPoll().isRunning());
}

TEST_F(PreferencesViewGuiTest, StatusDotAndApplyAcrossAPortChange) {
    services.setState(true, 5000);
    auto view = makeView();
    BehaviourTab* tab = view->behaviourTab();
    const QColor red(Qt::red), green(0, 200, 83), orange(255, 149, 0);
    struct Step {
        const char* what;
        std::function<void()> action;
        QColor dot;
        bool applyEnabled;
        QString status;
    };
    const Step steps[] = {
        {"listening on the stored port", [] {}, green, false, "Listening on Port 5000"},
        {"another port committed", [&] { commitPort(tab->portField(), "6000"); }, orange, true,
         "Listening on Port 6000"},
        {"apply opens it",
         [&] {
             services.onStart = [] { return std::optional<std::int64_t>(6000); };
             QTest::mouseClick(tab->applyButton(), Qt::LeftButton);
         },
         green, false, "Listening on Port 6000"},
        {"a port that cannot be opened",
         [&] {
             commitPort(tab->portField(), "7000");
             services.onStart = [] { return std::optional<std::int64_t>(); };
             QTest::mouseClick(tab->applyButton(), Qt::LeftButton);
         },
         red, true, "Listening on Port 7000"},
        {"the manager stops elsewhere", [&] { services.setState(false, 7000); }, red, false,
         "Listening on Port 7000"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.action();
        QTest::qWait(10);
        EXPECT_EQ(tab->statusDotColor(), step.dot);
        EXPECT_EQ(tab->applyButton()->isEnabled(), step.applyEnabled);
        EXPECT_EQ(statusText(*view), step.status);
    }
    EXPECT_EQ(services.startCount, 2);
    EXPECT_EQ(defaults->integer("oscPort"), 7000);
}

TEST_F(PreferencesViewGuiTest, PortFieldTakesOnlyPorts) {
    services.setState(true, 5000);
    auto view = makeView();
    BehaviourTab* tab = view->behaviourTab();
    QLineEdit* field = tab->portField();
    const QColor normal = field->palette().color(QPalette::Text);
    EXPECT_FALSE(tab->portHint()->isVisibleTo(view.get()));
    // Refused text stays as typed, red, with the hint; nothing is stored or applied.
    for (const char* typed : {"70000", "-5", "+5", "abc", "5,000", "65536"}) {
        SCOPED_TRACE(typed);
        commitPort(field, typed);
        EXPECT_EQ(field->text(), typed);
        EXPECT_TRUE(tab->portHint()->isVisibleTo(view.get()));
        EXPECT_EQ(field->palette().color(QPalette::Text), QColor(Qt::red));
        EXPECT_FALSE(defaults->contains("oscPort"));
        EXPECT_EQ(statusText(*view), "Listening on Port 5000");
        tab->applyButton()->click();
        EXPECT_EQ(services.startCount, 0);
    }
    // A port is stored exactly as typed and the refusal goes.
    for (const std::int64_t port : {65535, 0, 6000}) {
        commitPort(field, QString::number(port));
        EXPECT_EQ(defaults->integer("oscPort"), port);
        EXPECT_FALSE(tab->portHint()->isVisibleTo(view.get()));
        EXPECT_EQ(field->palette().color(QPalette::Text), normal);
        EXPECT_EQ(statusText(*view), "Listening on Port " + QString::number(port));
    }
    EXPECT_TRUE(tab->applyButton()->isEnabled());
}

TEST_F(PreferencesViewGuiTest, RedrawsWhenOneOfItsKeysChangesElsewhere) {
    auto view = makeView();
    defaults->set("oscPort", 7001);
    defaults->set("showInDock", true);
    defaults->set("LockOut", true);
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[1].name = "Lobby";
    defaults->set("overlays", mantleshade::OverlayData::encodeList(list));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return statusText(*view) == "Listening on Port 7001"; }, 2000));
    EXPECT_TRUE(view->behaviourTab()->dockToggle()->isChecked());
    EXPECT_TRUE(view->behaviourTab()->lockOutToggle()->isChecked());
    EXPECT_EQ(view->mediaTab()->picker()->itemText(1), "Cover (ID 2): Lobby (No Media)");
    EXPECT_TRUE(services.dockChanges.empty());
}

TEST_F(PreferencesViewGuiTest, DockToggleAppliesOnlyItsOwnChanges) {
    defaults->set("showInDock", true);
    auto view = makeView();
    QCheckBox* dock = view->behaviourTab()->dockToggle();
    EXPECT_TRUE(dock->isChecked());
    EXPECT_TRUE(services.dockChanges.empty());
    dock->click();
    dock->click();
    EXPECT_EQ(services.dockChanges, (std::vector<bool>{false, true}));
    EXPECT_EQ(defaults->boolean("showInDock"), true);
}

TEST_F(PreferencesViewGuiTest, LockOutToggleWritesItsKey) {
    auto view = makeView();
    QCheckBox* lockOut = view->behaviourTab()->lockOutToggle();
    ASSERT_TRUE(lockOut->isEnabled());
    lockOut->click();
    EXPECT_EQ(defaults->boolean("LockOut"), true);
    lockOut->click();
    EXPECT_EQ(defaults->boolean("LockOut"), false);
}

TEST_F(PreferencesViewGuiTest, WithoutAnUpdaterTheSectionIsItsHeadline) {
    auto view = makeView();
    EXPECT_EQ(view->behaviourTab()->updaterSettings(), nullptr);
}

TEST_F(PreferencesViewGuiTest, AnEditChangesTheNextShow) {
    {
        auto view = makeView();
        view->tabs()->setCurrentIndex(1);
        QTest::keyClicks(view->mediaTab()->nameField(), "Hall");
        view->mediaTab()->picker()->setCurrentIndex(2);
        EXPECT_EQ(view->mediaTab()->oscIDLabel()->text(), "OSC ID: 3");
        view->close();
    }
    auto stored =
        mantleshade::PreferencesSettings::overlaysFromRawValue(*defaults->string("overlays"));
    ASSERT_TRUE(stored);
    EXPECT_EQ((*stored)[0].name, "Hall");

    auto again = makeView();
    EXPECT_EQ(again->mediaTab()->picker()->currentIndex(), 0);
    EXPECT_EQ(again->mediaTab()->nameField()->text(), "Hall");
    EXPECT_EQ(again->mediaTab()->picker()->itemText(0), "Cover (ID 1): Hall (No Media)");
    EXPECT_EQ(again->mediaTab()->oscIDLabel()->text(), "OSC ID: 1");
}

TEST_F(PreferencesViewGuiTest, SharedRowAssignsRevealsAndRemoves) {
    const std::string png = std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png";
    services.choices = {foundation::URL::fileURL(png)};
    auto view = makeView();
    view->tabs()->setCurrentIndex(1);
    MediaRow* row = view->mediaTab()->sharedRow();
    auto button = [&](const char* name) { return row->findChild<QAbstractButton*>(name); };
    ASSERT_TRUE(button("mediaRowBrowse")->isVisibleTo(row));

    button("mediaRowBrowse")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return row->config().mediaPath.has_value(); }, 2000));
    EXPECT_EQ(row->findChild<QLabel*>("mediaRowDetail")->toolTip(), "red-blue-400x200.png");
    EXPECT_EQ(view->mediaTab()->picker()->itemText(0), "Cover (ID 1)");
    EXPECT_FALSE(button("mediaRowBrowse")->isVisibleTo(row));

    button("mediaRowReveal")->click();
    ASSERT_EQ(services.revealed.size(), 1u);
    EXPECT_EQ(services.revealed[0].path(), png);

    button("mediaRowRemove")->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !row->config().mediaPath; }, 2000));
    EXPECT_EQ(row->findChild<QLabel*>("mediaRowDetail")->toolTip(), "No media assigned");
    EXPECT_EQ(view->mediaTab()->picker()->itemText(0), "Cover (ID 1) (No Media)");
}

TEST_F(PreferencesViewGuiTest, RedrawsWhenAnotherProcessEditsTheFile) {
    defaults->set("oscPort", 5000);  // the folder exists from here on
    auto view = makeView();
    // Another process: its own store on the same file.
    auto other = foundation::UserDefaults::openAt(defaults->path());
    other->set("oscPort", 5555);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return statusText(*view) == "Listening on Port 5555"; }, 5000));
}
