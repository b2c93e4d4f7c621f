#pragma once

// Qt widget tests: the application object they need, and turns of Qt's loop together with the
// main dispatch queue (what the application's pump does) while waiting for a condition.

#include <chrono>
#include <cstdlib>
#include <functional>

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>

#include "platform/dispatch/Queue.h"

// Runs Qt's events and the main dispatch queue until `done` holds or `timeout` passes.
inline bool spinUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        dispatch::Queue::main()->drain();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
}

// A few turns of both loops: enough for work that was already scheduled to run.
inline void spinTurns(int turns = 5) {
    for (int i = 0; i < turns; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        dispatch::Queue::main()->drain();
    }
}

// Widgets need a QApplication: made on first use (not in main, so that listing the tests works
// without a display) and kept for the rest of the run. Tests that make their own application
// when there is none still can when they run alone.
inline void ensureApplication() {
    if (QCoreApplication::instance()) return;
    // The two offscreen screens, also when the runner did not set the platform.
    ::setenv("QT_QPA_PLATFORM",
             "offscreen:configfile=" MS_SOURCE_DIR "/tests/offscreen-two-screens.json", 0);
    static int argc = 1;
    static char name[] = "ms-gui-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    (void)app;
}
