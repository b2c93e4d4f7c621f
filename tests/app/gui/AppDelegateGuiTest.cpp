#include "app/AppDelegate.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/BehaviourTab.h"
#include "app/OSCManager.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesView.h"
#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "platform/desktop/ActivationPolicy.h"
#include "platform/desktop/MainQueuePump.h"
#include "platform/desktop/StatusItem.h"
#include "platform/desktop/WindowSystem.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/LoopbackNet.h"
#include "tests/support/TempDir.h"

namespace {

using mantleshade::AppDelegate;

// A QApplication for the whole run (unless the test's main made one) with the main-queue pump.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        // Where the runner did not set them: the two offscreen screens, and a settings folder
        // of this run's own (never the user's).
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM",
                    "offscreen:configfile=" MS_SOURCE_DIR "/tests/offscreen-two-screens.json");
        }
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME")) {
            configHome_ = std::make_unique<testsupport::TempDir>("ms-gui-config");
            qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(configHome_->path().string()));
        }
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_app_gui";
            static char* argv[] = {name, nullptr};
            app_ = std::make_unique<QApplication>(argc, argv);
        }
        QApplication::setQuitOnLastWindowClosed(false);
        desktop::MainQueuePump::install();
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<testsupport::TempDir> configHome_;
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const gQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using mstest::freeUdpPort;
using mstest::udpPortIsFree;

void sendDatagram(std::uint16_t port, const rozuri::OSCMessage& message) {
    mstest::PlainSocket(AF_INET).sendTo(port, message.encodedData());
}

class AppDelegateGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("appdelegate-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        defaults_ = foundation::UserDefaults::openAt(dir_ / "defaults.json");
        port_ = freeUdpPort();
        defaults_->set("oscPort", static_cast<std::int64_t>(port_));
        desktop::setActivationPolicy(desktop::ActivationPolicy::accessory);
    }
    void TearDown() override {
        delegate_.reset();
        QTest::qWait(1);
        dispatch::Queue::main()->drain();
        std::filesystem::remove_all(dir_);
        desktop::setActivationPolicy(desktop::ActivationPolicy::accessory);
    }

    AppDelegate& makeDelegate() {
        updater::UpdaterConfiguration updater;
        updater.settingsPath = QString::fromStdString((dir_ / "updater.json").string());
        updater.currentVersion = "1.0.0";
        updater.showsDialogs = false;
        auto engine = mantleshade::FullscreenImageOverlay::create(desktop::WindowSystem::qt(),
                                                                  defaults_.get(), &center_);
        delegate_ = std::make_unique<AppDelegate>(engine, updater, defaults_.get());
        return *delegate_;
    }

    std::size_t coverCount() const { return delegate_->imageOverlay()->overlayWindows().size(); }
    // Lets queued main-queue work and Qt events run until `predicate` holds.
    static bool settle(const std::function<bool()>& predicate, int timeoutMs = 5000) {
        return QTest::qWaitFor(predicate, timeoutMs);
    }
    // Runs the event loop a little so that anything queued would have happened.
    static void idle() {
        for (int i = 0; i < 5; ++i) {
            QTest::qWait(10);
            dispatch::Queue::main()->drain();
        }
    }
    QAction* action(const QString& text) const {
        for (QAction* a : delegate_->statusMenu()->actions())
            if (a->text() == text) return a;
        return nullptr;
    }

    std::filesystem::path dir_;
    std::unique_ptr<foundation::UserDefaults> defaults_;
    foundation::NotificationCenter center_;
    std::uint16_t port_ = 0;
    std::unique_ptr<AppDelegate> delegate_;
};

TEST_F(AppDelegateGuiTest, StartUpListensAndStartsTheUpdaterBeforeLaunchFinishes) {
    AppDelegate& d = makeDelegate();
    EXPECT_EQ(d.statusItem(), nullptr);
    EXPECT_EQ(d.preferencesWindow(), nullptr);
    EXPECT_TRUE(d.oscManager()->serverIsListening());
    EXPECT_EQ(d.oscManager()->currentListeningPort(), port_);
    EXPECT_EQ(d.oscManager()->delegate(), nullptr);
    EXPECT_TRUE(d.updaterController().updater().isStarted());
    EXPECT_EQ(coverCount(), 0u);
    EXPECT_FALSE(d.imageOverlay()->isActive());
    EXPECT_TRUE(d.imageOverlay()->allowUserInteraction());
}

TEST_F(AppDelegateGuiTest, MenuItemsInOrder) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    ASSERT_NE(d.statusItem(), nullptr);
    ASSERT_EQ(d.statusItem()->menu(), d.statusMenu());
    EXPECT_FALSE(d.statusMenu()->separatorsCollapsible());

    struct Item {
        QString text;
        bool separator;
        QKeySequence key;
    };
    const std::vector<Item> expected = {
        {"Show First Overlay", false, {}},
        {"Black Out Screens", false, {}},
        {"", true, {}},
        {"", true, {}},
        {"", true, {}},
        {"Preferences...", false, QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {"", true, {}},
        {"Quit", false, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    const QList<QAction*> actions = d.statusMenu()->actions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(actions[i]->text(), expected[i].text);
        EXPECT_EQ(actions[i]->isSeparator(), expected[i].separator);
        EXPECT_EQ(actions[i]->shortcut(), expected[i].key);
    }
    if (d.statusItem()->hasButton()) {
        EXPECT_EQ(d.statusItem()->accessibilityDescription(), "Image Overlay");
    }
    EXPECT_EQ(d.oscManager()->delegate(), d.imageOverlay());
}

TEST_F(AppDelegateGuiTest, ActionsGoThroughTheManagersDelegate) {
    AppDelegate& d = makeDelegate();
    // Before launch finishes there is no delegate: nothing happens.
    d.blackout();
    d.showOverlay();
    sendDatagram(port_, rozuri::OSCMessage("/mantleshade/blackout"));
    idle();
    EXPECT_EQ(coverCount(), 0u);

    d.applicationDidFinishLaunching();
    action("Black Out Screens")->trigger();
    ASSERT_TRUE(settle([&] { return coverCount() == 2; })) << "one cover per screen";
    d.hideOverlay();
    EXPECT_EQ(coverCount(), 0u);

    // The stored cover list is empty: the engine reports the missing cover and shows nothing.
    ::testing::internal::CaptureStdout();
    action("Show First Overlay")->trigger();
    idle();
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Trying to Show Index: 0 - overlay doesn't exist."), std::string::npos)
        << out;
    EXPECT_EQ(coverCount(), 0u);

    // OSC reaches the engine once launched.
    sendDatagram(port_, rozuri::OSCMessage("/mantleshade/show", {std::int32_t{0}}));
    ASSERT_TRUE(settle([&] { return coverCount() == 2; }));
    sendDatagram(port_, rozuri::OSCMessage("/mantleshade/clear"));
    ASSERT_TRUE(settle([&] { return coverCount() == 0; }));
}

TEST_F(AppDelegateGuiTest, ShowInDock) {
    struct Case {
        std::optional<bool> stored;
        desktop::ActivationPolicy before;
        desktop::ActivationPolicy after;
    };
    using P = desktop::ActivationPolicy;
    const std::vector<Case> cases = {
        {std::nullopt, P::accessory, P::accessory},
        {false, P::accessory, P::accessory},
        {false, P::prohibited, P::prohibited},  // false leaves the policy alone
        {true, P::accessory, P::regular},
    };
    for (const Case& c : cases) {
        if (c.stored) {
            defaults_->set("showInDock", *c.stored);
        } else {
            defaults_->remove("showInDock");
        }
        desktop::setActivationPolicy(c.before);
        makeDelegate().applicationDidFinishLaunching();
        EXPECT_EQ(desktop::activationPolicy(), c.after) << (c.stored ? *c.stored : -1);
        delegate_.reset();
    }
}

TEST_F(AppDelegateGuiTest, PreferencesOpensOnceAndAnewAfterClose) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    action("Preferences...")->trigger();
    QPointer<QWidget> first = d.preferencesWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), "Preferences");
    EXPECT_GE(first->width(), 500);
    EXPECT_GE(first->height(), 400);
    EXPECT_EQ(first->minimumSize(), first->maximumSize()) << "not resizable";
    EXPECT_FALSE(first->windowFlags() & Qt::WindowMaximizeButtonHint);

    d.openPreferences();
    EXPECT_EQ(d.preferencesWindow(), first.data()) << "the same window comes to the front";
    EXPECT_EQ(QApplication::topLevelWidgets().count(first.data()), 1);

    first->close();
    EXPECT_EQ(d.preferencesWindow(), nullptr);
    ASSERT_TRUE(settle([&] { return first.isNull(); })) << "a closed window is released";

    d.openPreferences();
    ASSERT_NE(d.preferencesWindow(), nullptr);
    EXPECT_TRUE(d.preferencesWindow()->isVisible());
}

TEST_F(AppDelegateGuiTest, PreferencesWindowShowsItsWholeContent) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    d.openPreferences();
    QWidget* window = d.preferencesWindow();
    ASSERT_NE(window, nullptr);
    QWidget* view = window->findChild<QWidget*>("PreferencesView");
    ASSERT_NE(view, nullptr);
    QTest::qWait(1);
    // Every tab's content fits: nothing of the view is cut off by the window's edge.
    EXPECT_TRUE(window->rect().contains(view->geometry()))
        << "view " << view->width() << "x" << view->height() << " in window " << window->width()
        << "x" << window->height();
    EXPECT_GE(view->height(), view->minimumSizeHint().height());
    EXPECT_GE(window->width(), 500);
    EXPECT_GE(window->height(), 400);
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "not resizable";
}

TEST_F(AppDelegateGuiTest, PreferencesApplyRestartsOnThePortTheWindowStored) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    d.openPreferences();
    auto* view = d.preferencesWindow()->findChild<mantleshade::PreferencesView*>();
    ASSERT_NE(view, nullptr);
    // The window edits the store the manager reads.
    EXPECT_EQ(&view->settings().defaults(), defaults_.get());
    struct Step {
        bool typed;  // typed into the field, else stored by another writer
        const char* what;
    };
    for (const Step step : {Step{true, "typed"}, Step{false, "stored elsewhere"}}) {
        SCOPED_TRACE(step.what);
        const std::uint16_t before = *d.oscManager()->currentListeningPort();
        const std::uint16_t other = freeUdpPort();
        QLineEdit* field = view->behaviourTab()->portField();
        if (step.typed) {
            field->setFocus();
            field->selectAll();
            QTest::keyClicks(field, QString::number(other));
            QTest::keyClick(field, Qt::Key_Return);  // commits, which enables "Apply"
        } else {
            view->settings().setPort(other);
            ASSERT_TRUE(settle([&] { return field->text() == QString::number(other); }));
        }
        ASSERT_TRUE(view->behaviourTab()->applyButton()->isEnabled());
        view->behaviourTab()->applyButton()->click();
        EXPECT_EQ(view->settings().port(), other);
        EXPECT_TRUE(d.oscManager()->serverIsListening());
        EXPECT_EQ(d.oscManager()->currentListeningPort(), other);
        EXPECT_TRUE(udpPortIsFree(before));
    }
}

TEST_F(AppDelegateGuiTest, QuitClosesCoversReleasesThePortAndClearsTheDelegate) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    d.blackout();
    ASSERT_TRUE(settle([&] { return coverCount() == 2; }));
    ASSERT_FALSE(udpPortIsFree(port_));

    std::vector<std::string> seen;
    QObject::connect(&d, &AppDelegate::terminated, [&] {
        // By now every step of the termination has run.
        seen.push_back(coverCount() == 0 ? "covers closed" : "covers open");
        seen.push_back(d.oscManager()->serverIsListening() ? "listening" : "stopped");
        seen.push_back(d.oscManager()->delegate() ? "delegate set" : "delegate cleared");
    });
    EXPECT_EQ(d.applicationShouldTerminate(), AppDelegate::TerminateReply::terminateNow);
    action("Quit")->trigger();
    EXPECT_EQ(seen, (std::vector<std::string>{"covers closed", "stopped", "delegate cleared"}));
    EXPECT_TRUE(d.isTerminating());
    EXPECT_EQ(d.oscManager()->server(), nullptr);
    EXPECT_TRUE(udpPortIsFree(port_));

    // After termination has started the menu actions do nothing.
    d.blackout();
    idle();
    EXPECT_EQ(coverCount(), 0u);
    d.terminate();  // a second request is harmless
    EXPECT_EQ(seen.size(), 3u);
}

TEST_F(AppDelegateGuiTest, KeyEquivalentsWorkInTheOpenMenuAndInTheWindows) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    QMenu* menu = d.statusMenu();

    // Ctrl+, in the open menu: the menu closes and Preferences opens.
    menu->popup(QPoint(50, 50));
    ASSERT_TRUE(settle([&] { return menu->isVisible(); }));
    QTest::keyClick(menu, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_NE(d.preferencesWindow(), nullptr);
    EXPECT_TRUE(d.preferencesWindow()->isVisible());
    EXPECT_FALSE(menu->isVisible());

    // A cover window keeps its keys: Ctrl+Q there is a key on the cover, not a quit.
    d.blackout();
    ASSERT_TRUE(settle([&] { return coverCount() == 2; }));
    QWidget* cover = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("desktop::CoverWindow") && w->isVisible()) cover = w;
    ASSERT_NE(cover, nullptr);
    QTest::keyClick(cover, Qt::Key_Q, Qt::ControlModifier);
    idle();
    EXPECT_FALSE(d.isTerminating());
    EXPECT_EQ(coverCount(), 0u);

    // Ctrl+Q with a field of the Preferences window focused quits.
    auto* view = d.preferencesWindow()->findChild<mantleshade::PreferencesView*>();
    ASSERT_NE(view, nullptr);
    QLineEdit* field = view->behaviourTab()->portField();
    const QString before = field->text();
    QTest::keyClick(field, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(d.isTerminating());
    EXPECT_EQ(field->text(), before);
}

TEST_F(AppDelegateGuiTest, FinishingUpdateSessionClosesCovers) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    d.blackout();
    ASSERT_TRUE(settle([&] { return coverCount() == 2; }));
    // A check with no feed configured is a whole session: it ends by calling the delegate.
    d.updaterController().checkForUpdates();
    ASSERT_TRUE(settle([&] { return coverCount() == 0; }));
    EXPECT_FALSE(d.imageOverlay()->isActive());
}

TEST_F(AppDelegateGuiTest, ASecondLaunchWhileCoversAreUpLeavesTheKeyboardWithThem) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    d.blackout();
    ASSERT_TRUE(settle([&] { return coverCount() == 2 && d.imageOverlay()->isActive(); }));
    idle();
    // A second launch, twice: Preferences opens behind the covers, without the keyboard.
    for (int launch = 0; launch < 2; ++launch) {
        d.openPreferences();
        idle();
        ASSERT_TRUE(d.preferencesWindow() && d.preferencesWindow()->isVisible());
        EXPECT_NE(QApplication::activeWindow(), d.preferencesWindow());
    }
    d.hideOverlay();
    ASSERT_TRUE(settle([&] { return coverCount() == 0; }));
    // With the covers gone it comes to the front as before.
    d.openPreferences();
    EXPECT_TRUE(settle([&] { return QApplication::activeWindow() == d.preferencesWindow(); }));
}

TEST_F(AppDelegateGuiTest, PreferencesKeepsItsSizeAndFitsWhateverTheCoverNames) {
    AppDelegate& d = makeDelegate();
    d.applicationDidFinishLaunching();
    std::optional<QSize> previous;
    for (int length : {0, 42, 95, 300}) {
        SCOPED_TRACE(length);
        mantleshade::OverlayData cover;
        cover.name = std::string(static_cast<std::size_t>(length), 'W');
        ASSERT_TRUE(mantleshade::OverlayData::saveList({cover}, *defaults_));
        d.openPreferences();
        QPointer<QWidget> window = d.preferencesWindow();
        ASSERT_NE(window, nullptr);
        QTest::qWait(1);
        EXPECT_EQ(window->size(), previous.value_or(window->size()));
        previous = window->size();
        for (auto* button : window->findChildren<QAbstractButton*>()) {
            if (!button->isVisibleTo(window)) continue;
            const QRect where(button->mapTo(window, QPoint(0, 0)), button->size());
            EXPECT_TRUE(window->rect().contains(where))
                << button->text().toStdString() << " is cut off";
        }
        window->close();
        ASSERT_TRUE(settle([&] { return window.isNull(); }));
    }
}

}  // namespace
