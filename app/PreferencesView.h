#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>

class QFileSystemWatcher;
class QLabel;
class QTabWidget;

namespace foundation {
class UserDefaults;
}

namespace updater {
class SPUStandardUpdaterController;
class SPUUpdater;
}  // namespace updater

namespace mantleshade {

class AccessibilityPoll;
class BehaviourTab;
class ConnectedMonitors;
class CoverEditor;
class CoverEditorView;
class OSCManager;
class PreferencesServices;
class PreferencesSettings;

// Builds the content of the Preferences window: the header, the "Behaviour" and "Media" tabs and
// the footer, wired to the application's OSC manager, its updater and the desktop. `defaults`
// null means the standard store; it must be the one the manager reads, or "Apply" would read a
// port the window never wrote.
QWidget* makePreferencesView(std::shared_ptr<OSCManager> oscManager,
                             updater::SPUStandardUpdaterController& updaterController,
                             QWidget* parent = nullptr,
                             foundation::UserDefaults* defaults = nullptr);

// The content of the Preferences window. Every setting is read from the defaults store on each
// access and written at each change; the view redraws when one of its keys changes, whoever
// changed it. While it is on screen it polls the Accessibility permission once a second.
class PreferencesView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 600;
    static constexpr int kPadding = 24;
    static constexpr int kSpacing = 10;
    static constexpr const char* kAboutText =
        "Mantleshade covers every connected display with black, a still image or a muted looping "
        "video, shown from its menu or remotely by OSC messages.";
    static constexpr const char* kNoticeText = "Mantleshade by Quorvane Software";
    static constexpr const char* kHomePage = "https://www.quorvanesoftware.com/mantleshade";

    // `services` must outlive the view (or be its child); `updater` may be null.
    PreferencesView(PreferencesServices& services, foundation::UserDefaults& defaults,
                    updater::SPUUpdater* updater, QWidget* parent = nullptr);
    ~PreferencesView() override;

    // Shows the stored settings again (also called on every change of one of its keys).
    void refresh();

    PreferencesSettings& settings() const { return *settings_; }
    AccessibilityPoll& accessibilityPoll() const { return *poll_; }
    CoverEditor& coverEditor() const { return *editor_; }
    ConnectedMonitors& connectedMonitors() const { return *monitors_; }
    BehaviourTab* behaviourTab() const { return behaviourTab_; }
    CoverEditorView* mediaTab() const { return mediaTab_; }
    QTabWidget* tabs() const { return tabs_; }
    QLabel* versionLabel() const { return versionLabel_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void scheduleRefresh();
    void watchDefaultsFolder();

    PreferencesServices& services_;
    foundation::UserDefaults& defaults_;
    std::unique_ptr<PreferencesSettings> settings_;
    AccessibilityPoll* poll_ = nullptr;
    std::unique_ptr<CoverEditor> editor_;
    ConnectedMonitors* monitors_ = nullptr;
    BehaviourTab* behaviourTab_ = nullptr;
    CoverEditorView* mediaTab_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* versionLabel_ = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    std::uint64_t observer_ = 0;
    bool refreshPending_ = false;
};

}  // namespace mantleshade
