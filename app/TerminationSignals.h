#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace mantleshade {

// Turns SIGINT and SIGTERM into a call on the Qt main thread, through a self-pipe: the signal
// handler only writes one byte. After the first signal the default action is restored, so a
// second one ends a process that no longer responds. One instance at a time.
class TerminationSignals : public QObject {
    Q_OBJECT

  public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal,
                                QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up (printed once).
    bool isInstalled() const { return notifier_ != nullptr; }

  private:
    void readPending();

    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace mantleshade
