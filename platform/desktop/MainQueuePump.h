#pragma once

#include <QEvent>
#include <QObject>

namespace desktop {

// Drains dispatch::Queue::main() from Qt's event loop: the main queue's waker posts one event to
// the pump, whose event() drains the queue. Timed main-queue work is handed to the main queue by
// the dispatch event thread when due, which wakes the pump the same way.
class MainQueuePump : public QObject {
    Q_OBJECT

  public:
    // Installs the pump on the Qt main thread (idempotent; again after a new application object).
    static void install();
    static bool isInstalled();

    ~MainQueuePump() override;

    bool event(QEvent* event) override;

  private:
    explicit MainQueuePump(QObject* parent);
    void wake();

    static QEvent::Type drainEventType();
};

}  // namespace desktop
