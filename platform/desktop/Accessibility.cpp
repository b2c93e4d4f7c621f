#include "platform/desktop/Accessibility.h"

#include <QGuiApplication>

namespace desktop {

bool Accessibility::isProcessTrusted() {
    return qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb");
}

bool Accessibility::isProcessTrustedWithPrompt(bool) {
    return isProcessTrusted();
}

}  // namespace desktop
