#include "platform/desktop/MainQueuePump.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <mutex>

#include "platform/dispatch/Assert.h"
#include "platform/dispatch/Queue.h"

namespace desktop {

namespace {
// The installed pump, read by the waker on any thread. The pump clears it before it goes.
std::mutex gPumpMutex;
MainQueuePump* gPump = nullptr;
std::atomic<bool> gEventPosted{false};
}  // namespace

QEvent::Type MainQueuePump::drainEventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

MainQueuePump::MainQueuePump(QObject* parent) : QObject(parent) {}

MainQueuePump::~MainQueuePump() {
    {
        std::lock_guard lock(gPumpMutex);
        if (gPump == this) gPump = nullptr;
    }
    dispatch::Queue::main()->setWaker(nullptr);
}

void MainQueuePump::install() {
    auto* app = QCoreApplication::instance();
    if (!app) {
        DISPATCH_ASSERTION_FAILURE("MainQueuePump::install needs a QCoreApplication");
        return;
    }
    if (QThread::currentThread() != app->thread()) {
        DISPATCH_ASSERTION_FAILURE("MainQueuePump::install must run on the Qt main thread");
        return;
    }
    dispatch::markMainThread();
    if (!dispatch::isMainThread()) {
        DISPATCH_ASSERTION_FAILURE(
            "The Qt main thread is not the thread that drains the main queue");
        return;
    }
    {
        std::lock_guard lock(gPumpMutex);
        if (gPump) return;
        // Owned by the application object, so it goes with it.
        gPump = new MainQueuePump(app);
        gEventPosted = false;
    }
    dispatch::Queue::main()->setWaker([] {
        std::lock_guard lock(gPumpMutex);
        if (gPump) gPump->wake();
    });
    // Work queued before the pump existed.
    std::lock_guard lock(gPumpMutex);
    if (gPump) gPump->wake();
}

bool MainQueuePump::isInstalled() {
    std::lock_guard lock(gPumpMutex);
    return gPump != nullptr;
}

void MainQueuePump::wake() {
    // One event in flight is enough: the drain it triggers runs everything queued before it.
    if (!gEventPosted.exchange(true)) {
        QCoreApplication::postEvent(this, new QEvent(drainEventType()));
    }
}

bool MainQueuePump::event(QEvent* event) {
    if (event->type() != drainEventType()) return QObject::event(event);
    gEventPosted = false;
    dispatch::Queue::main()->drain();
    return true;
}

}  // namespace desktop
