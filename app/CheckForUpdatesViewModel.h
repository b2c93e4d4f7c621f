#pragma once

#include <QObject>

namespace updater {
class SPUUpdater;
}

namespace mantleshade {

// Mirrors the updater's canCheckForUpdates for as long as it lives: false at first, then the
// updater's current value at once, then every change. Main thread only.
class CheckForUpdatesViewModel : public QObject {
    Q_OBJECT

  public:
    explicit CheckForUpdatesViewModel(updater::SPUUpdater& updater, QObject* parent = nullptr);

    bool canCheckForUpdates() const { return canCheckForUpdates_; }

  signals:
    void canCheckForUpdatesChanged(bool value);

  private:
    void assign(bool value);

    bool canCheckForUpdates_ = false;
};

}  // namespace mantleshade
