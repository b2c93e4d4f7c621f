#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

namespace updater {
class SPUUpdater;
}

namespace mantleshade {

class CheckForUpdatesViewModel;

// The "Updates" section: "Check for Updates…" and the two automatic-update toggles. The toggles
// take the updater's values once, when the view is made, and write a value through only when the
// user changes it. This build's updater never downloads, so the download toggle only shows its
// stored value, disabled, with a one-line hint saying so.
class UpdaterSettingsView : public QWidget {
    Q_OBJECT

  public:
    // Spacing between its three items, as in the tab that holds it.
    static constexpr int kSpacing = 12;
    static constexpr const char* kChecksOnlyHint =
        "This build checks for updates only; it does not download them.";

    explicit UpdaterSettingsView(updater::SPUUpdater& updater, QWidget* parent = nullptr);

    QPushButton* checkForUpdatesButton() const { return checkButton_; }
    QCheckBox* automaticallyChecksToggle() const { return checksToggle_; }
    QCheckBox* automaticallyDownloadsToggle() const { return downloadsToggle_; }
    QLabel* automaticallyDownloadsHint() const { return downloadsHint_; }
    CheckForUpdatesViewModel* model() const { return model_; }

  private:
    updater::SPUUpdater& updater_;
    CheckForUpdatesViewModel* model_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QCheckBox* checksToggle_ = nullptr;
    QCheckBox* downloadsToggle_ = nullptr;
    QLabel* downloadsHint_ = nullptr;
};

}  // namespace mantleshade
