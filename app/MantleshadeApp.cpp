#include "app/MantleshadeApp.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/AppDelegate.h"
#include "app/TerminationSignals.h"
#include "platform/desktop/MainQueuePump.h"
#include "platform/desktop/SingleInstance.h"

#ifndef MANTLESHADE_VERSION
#define MANTLESHADE_VERSION "0.0.0"
#endif

namespace mantleshade {

int MantleshadeApp::main(int argc, char** argv, desktop::SingleInstance* instance) {
    // Diagnostics are read line by line (logs, tests): flush each one.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!std::getenv("QT_MEDIA_BACKEND")) ::setenv("QT_MEDIA_BACKEND", "gstreamer", 0);

    QApplication application(argc, argv);
    QApplication::setApplicationName("Mantleshade");
    QApplication::setOrganizationDomain("quorvanesoftware.com");
    QApplication::setApplicationVersion(MANTLESHADE_VERSION);
    // The status item and the covers are not main windows: closing Preferences must not quit.
    QApplication::setQuitOnLastWindowClosed(false);
    desktop::MainQueuePump::install();

    int exitCode = 0;
    {
        AppDelegate delegate;
        QObject::connect(&delegate, &AppDelegate::terminated, &application,
                         [] { QCoreApplication::exit(0); });
        TerminationSignals termination([&delegate](int) { delegate.terminate(); });
        // A session ending (logout) quits the event loop without our action.
        QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate,
                         [&delegate] { delegate.applicationWillTerminate(); });
        QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
        if (instance) {
            QObject::connect(instance, &desktop::SingleInstance::activationRequested, &delegate,
                             &AppDelegate::openPreferences);
            instance->listen();
        }
        exitCode = QApplication::exec();
        delegate.applicationWillTerminate();
    }
    return exitCode;
}

}  // namespace mantleshade
