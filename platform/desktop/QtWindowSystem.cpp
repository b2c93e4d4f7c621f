#include "platform/desktop/QtWindowSystem.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/QtLoopingPlayer.h"
#include "platform/desktop/X11KeyboardTap.h"

namespace desktop {

std::shared_ptr<WindowSystem> WindowSystem::qt() {
    return std::make_shared<QtWindowSystem>();
}

std::vector<Screen> QtWindowSystem::screens() const {
    return Screens::system()->screens();
}

std::unique_ptr<Window> QtWindowSystem::createWindow(const Screen& screen) {
    return std::make_unique<CoverWindow>(screen);
}

std::shared_ptr<LoopingPlayer> QtWindowSystem::createLoopingPlayer(const foundation::URL& url) {
    return std::make_shared<QtLoopingPlayer>(url);
}

QImage QtWindowSystem::loadImage(const foundation::URL& url) {
    if (!url.isFileURL()) return {};
    QString path = QString::fromStdString(url.path());
    // Only regular files: opening a FIFO or a device would block the main thread.
    if (!QFileInfo(path).isFile()) return {};
    // QImageReader refuses images past its allocation limit, so a hostile file stays black.
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

void QtWindowSystem::activateIgnoringOtherApps() {
    // Nothing to do on X11: each cover window activates itself as it is ordered front.
}

std::unique_ptr<KeyboardTap> QtWindowSystem::createKeyboardTap(KeyboardTap::Callback callback,
                                                               KeyboardTapFailure* failure) {
    return X11KeyboardTap::create(std::move(callback), failure);
}

bool QtWindowSystem::isProcessTrusted() {
    return Accessibility::isProcessTrusted();
}

}  // namespace desktop
