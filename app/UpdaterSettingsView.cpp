#include "app/UpdaterSettingsView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/CheckForUpdatesViewModel.h"
#include "app/PreferencesTexts.h"
#include "platform/updater/SPUUpdater.h"

namespace mantleshade {

UpdaterSettingsView::UpdaterSettingsView(updater::SPUUpdater& updater, QWidget* parent)
    : QWidget(parent), updater_(updater) {
    setObjectName("UpdaterSettingsView");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacing);

    // The check button with its model.
    model_ = new CheckForUpdatesViewModel(updater_, this);
    checkButton_ = new QPushButton(PreferencesTexts::text("Check for Updates…"), this);
    checkButton_->setObjectName("checkForUpdatesButton");
    checkButton_->setEnabled(model_->canCheckForUpdates());
    connect(model_, &CheckForUpdatesViewModel::canCheckForUpdatesChanged, checkButton_,
            &QPushButton::setEnabled);
    connect(checkButton_, &QPushButton::clicked, this, [this] { updater_.checkForUpdates(); });
    auto* buttonRow = new QHBoxLayout();
    buttonRow->addWidget(checkButton_);
    buttonRow->addStretch();
    layout->addLayout(buttonRow);

    checksToggle_ = new QCheckBox(PreferencesTexts::text("Automatically check for updates"), this);
    checksToggle_->setObjectName("automaticallyChecksToggle");
    downloadsToggle_ =
        new QCheckBox(PreferencesTexts::text("Automatically download updates"), this);
    downloadsToggle_->setObjectName("automaticallyDownloadsToggle");
    layout->addWidget(checksToggle_);
    layout->addWidget(downloadsToggle_);
    // The updater of this build checks and never downloads: the toggle shows the stored setting
    // but cannot switch on what does not exist.
    downloadsHint_ = new QLabel(PreferencesTexts::text(kChecksOnlyHint), this);
    downloadsHint_->setObjectName("automaticallyDownloadsHint");
    QFont hintFont = downloadsHint_->font();
    hintFont.setPointSizeF(hintFont.pointSizeF() > 0 ? hintFont.pointSizeF() * 0.85 : 9);
    downloadsHint_->setFont(hintFont);
    QPalette hintPalette = downloadsHint_->palette();
    QColor secondary = hintPalette.color(QPalette::WindowText);
    secondary.setAlphaF(0.6);
    hintPalette.setColor(QPalette::WindowText, secondary);
    downloadsHint_->setPalette(hintPalette);
    layout->addWidget(downloadsHint_);

    // The initial values are set before the handlers are connected: showing writes nothing.
    checksToggle_->setChecked(updater_.automaticallyChecksForUpdates());
    downloadsToggle_->setChecked(updater_.automaticallyDownloadsUpdates());
    downloadsToggle_->setEnabled(false);
    connect(checksToggle_, &QCheckBox::toggled, this,
            [this](bool value) { updater_.setAutomaticallyChecksForUpdates(value); });
    connect(downloadsToggle_, &QCheckBox::toggled, this,
            [this](bool value) { updater_.setAutomaticallyDownloadsUpdates(value); });
}

}  // namespace mantleshade
