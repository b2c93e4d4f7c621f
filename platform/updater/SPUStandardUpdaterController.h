#pragma once

#include <QObject>

#include "platform/updater/SPUUpdater.h"
#include "platform/updater/UpdaterConfiguration.h"

namespace updater {

class SPUStandardUserDriverDelegate;

// Owns the updater for the whole run and (optionally) starts it at once.
class SPUStandardUpdaterController : public QObject {
    Q_OBJECT

  public:
    // userDriverDelegate is not owned and must outlive the controller.
    SPUStandardUpdaterController(
        bool startingUpdater, SPUStandardUserDriverDelegate* userDriverDelegate,
        UpdaterConfiguration configuration = UpdaterConfiguration::standard(),
        QObject* parent = nullptr);
    ~SPUStandardUpdaterController() override;

    SPUUpdater& updater() { return *updater_; }
    const SPUUpdater& updater() const { return *updater_; }

    void startUpdater();
    // The user's "check for updates" action.
    void checkForUpdates() { updater_->checkForUpdates(); }

  private:
    SPUUpdater* updater_;  // child of this
};

}  // namespace updater
