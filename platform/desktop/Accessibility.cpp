#include "platform/desktop/Accessibility.h"

#include <atomic>

#include <QGuiApplication>

namespace desktop {

namespace {
std::atomic<bool> lastGrabFailed{false};
}

bool Accessibility::isProcessTrusted() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    return !lastGrabFailed.load();
}

bool Accessibility::isProcessTrustedWithPrompt(bool) {
    return isProcessTrusted();
}

void Accessibility::noteKeyboardGrabResult(bool succeeded) {
    lastGrabFailed.store(!succeeded);
}

}  // namespace desktop
