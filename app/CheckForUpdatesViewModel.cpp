#include "app/CheckForUpdatesViewModel.h"

#include "platform/updater/SPUUpdater.h"

namespace mantleshade {

CheckForUpdatesViewModel::CheckForUpdatesViewModel(updater::SPUUpdater& updater, QObject* parent)
    : QObject(parent) {
    // Ends with this model (the context), not with the updater.
    updater.observeCanCheckForUpdates(this, [this](bool value) { assign(value); });
}

void CheckForUpdatesViewModel::assign(bool value) {
    if (value == canCheckForUpdates_) return;
    canCheckForUpdates_ = value;
    emit canCheckForUpdatesChanged(value);
}

}  // namespace mantleshade
