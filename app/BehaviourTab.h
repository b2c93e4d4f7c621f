#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace updater {
class SPUUpdater;
}

namespace mantleshade {

class AccessibilityPoll;
class PreferencesServices;
class PreferencesSettings;
class UpdaterSettingsView;

// The "Behaviour" tab: Dock icon and Lock Out, the update settings, the OSC port with "Apply",
// the listening status and the address help.
class BehaviourTab : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kSpacing = 12;

    // `updater` may be null: the "Updates" section is then its headline alone.
    BehaviourTab(PreferencesSettings& settings, PreferencesServices& services,
                 AccessibilityPoll& poll, updater::SPUUpdater* updater, QWidget* parent = nullptr);

    // Shows the stored settings and the manager's state again.
    void refresh();

    QCheckBox* dockToggle() const { return dockToggle_; }
    QCheckBox* lockOutToggle() const { return lockOutToggle_; }
    QLabel* permissionHint() const { return permissionHint_; }
    QPushButton* permissionButton() const { return permissionButton_; }
    QLineEdit* portField() const { return portField_; }
    // The one-line hint under the port field, shown while its text is refused.
    QLabel* portHint() const { return portHint_; }
    // Whether the field's text is no port (0...65535 in digits alone).
    bool portRefused() const;
    QPushButton* applyButton() const { return applyButton_; }
    QLabel* statusLabel() const { return statusLabel_; }
    QLabel* statusDot() const { return statusDot_; }
    UpdaterSettingsView* updaterSettings() const { return updaterSettings_; }
    // The dot's colour as drawn.
    QColor statusDotColor() const;

  private:
    void commitPort();
    void refreshPermission();
    void showPortValidity();

    PreferencesSettings& settings_;
    PreferencesServices& services_;
    AccessibilityPoll& poll_;
    QCheckBox* dockToggle_ = nullptr;
    QCheckBox* lockOutToggle_ = nullptr;
    QLabel* permissionHint_ = nullptr;
    QPushButton* permissionButton_ = nullptr;
    QLineEdit* portField_ = nullptr;
    QLabel* portHint_ = nullptr;
    QPushButton* applyButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QLabel* statusDot_ = nullptr;
    UpdaterSettingsView* updaterSettings_ = nullptr;
    QColor dotColor_;
};

}  // namespace mantleshade
