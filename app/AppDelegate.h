#pragma once

#include <chrono>

#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "platform/updater/SPUStandardUpdaterController.h"
#include "platform/updater/SPUStandardUserDriverDelegate.h"
#include "platform/updater/UpdaterConfiguration.h"

namespace desktop {
class StatusItem;
}
namespace foundation {
class UserDefaults;
}

namespace mantleshade {

class FullscreenImageOverlay;
class KeyEquivalents;
class OSCManager;

// The top of the application: owns the status item, the cover engine, OSC remote control, the
// updater controller and the Preferences window; builds the status menu when launching has
// finished and tears everything down on termination. Main thread only (its tear-down included).
class AppDelegate : public QObject, public updater::SPUStandardUserDriverDelegate {
    Q_OBJECT

  public:
    enum class TerminateReply { terminateCancel = 0, terminateNow = 1, terminateLater = 2 };

    // The real cover engine, the standard defaults and the updater's standard settings.
    AppDelegate();
    // Other parts (tests): a cover engine made by the caller, the updater's configuration and a
    // defaults store (null: the standard one; it must outlive the delegate).
    AppDelegate(std::shared_ptr<FullscreenImageOverlay> imageOverlay,
                updater::UpdaterConfiguration updaterConfiguration,
                foundation::UserDefaults* defaults = nullptr);
    ~AppDelegate() override;

    // Application life cycle.
    void applicationDidFinishLaunching();
    TerminateReply applicationShouldTerminate() { return TerminateReply::terminateNow; }
    void applicationWillTerminate();

    // The application's terminate action (the "Quit" item, SIGINT, SIGTERM): asks
    // applicationShouldTerminate, runs applicationWillTerminate once, then emits terminated, on
    // which the entry ends the event loop with exit code 0.
    void terminate();
    bool isTerminating() const { return terminating_; }

    // Menu actions.
    void showOverlay();
    void blackout();
    void hideOverlay();
    void openPreferences();

    // The updater is about to finish an update session: every cover closes at once.
    void standardUserDriverWillFinishUpdateSession() override;

    // Owned objects, for the windowing glue and the tests.
    desktop::StatusItem* statusItem() const { return statusItem_.get(); }
    QMenu* statusMenu() const { return menu_.get(); }
    const std::shared_ptr<FullscreenImageOverlay>& imageOverlay() const { return imageOverlay_; }
    QWidget* preferencesWindow() const { return preferencesWindow_; }
    updater::SPUStandardUpdaterController& updaterController();
    const std::shared_ptr<OSCManager>& oscManager() const { return oscManager_; }

    bool eventFilter(QObject* watched, QEvent* event) override;

    // How long a tray that starts with the session has to appear.
    static constexpr std::chrono::milliseconds kTrayGrace{2000};

  signals:
    // Emitted once applicationWillTerminate has run: the application is to end now.
    void terminated();

  private:
    static void showWithoutActivating(QWidget* window);

    foundation::UserDefaults* defaults_;
    std::unique_ptr<desktop::StatusItem> statusItem_;
    std::shared_ptr<FullscreenImageOverlay> imageOverlay_;
    QPointer<QWidget> preferencesWindow_;
    updater::UpdaterConfiguration updaterConfiguration_;
    std::unique_ptr<updater::SPUStandardUpdaterController> updaterController_;
    std::shared_ptr<OSCManager> oscManager_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<KeyEquivalents> keyEquivalents_;
    bool terminating_ = false;
    bool willTerminateRan_ = false;
};

}  // namespace mantleshade
