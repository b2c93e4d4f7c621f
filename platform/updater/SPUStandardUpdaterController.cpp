#include "platform/updater/SPUStandardUpdaterController.h"

#include <cstdio>

namespace updater {

SPUStandardUpdaterController::SPUStandardUpdaterController(
    bool startingUpdater, SPUStandardUserDriverDelegate* userDriverDelegate,
    UpdaterConfiguration configuration, QObject* parent)
    : QObject(parent),
      updater_(new SPUUpdater(std::move(configuration), userDriverDelegate, this)) {
    if (startingUpdater) startUpdater();
}

SPUStandardUpdaterController::~SPUStandardUpdaterController() = default;

void SPUStandardUpdaterController::startUpdater() {
    foundation::Error error;
    if (!updater_->startUpdater(&error)) {
        std::printf("%s\n", error.localizedDescription().c_str());
        std::fflush(stdout);
    }
}

}  // namespace updater
