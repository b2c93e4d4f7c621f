#include "platform/desktop/CoverWindowPool.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include "platform/desktop/CoverWindow.h"
#include "platform/dispatch/Queue.h"

namespace desktop {

CoverWindowPool::CoverWindowPool() = default;

CoverWindowPool::~CoverWindowPool() {
    QObject::disconnect(added_);
    QObject::disconnect(removed_);
    auto* app = QCoreApplication::instance();
    if (!app) {
        // The application is gone and its widgets with their native windows; nothing to free.
        for (auto& window : kept_) (void)window.release();
        return;
    }
    if (QThread::currentThread() == app->thread()) return;  // kept_ deletes them here
    // Widgets go on the main thread only.
    auto windows = std::make_shared<std::vector<std::unique_ptr<CoverWindow>>>(std::move(kept_));
    dispatch::Queue::main()->async([windows] { windows->clear(); });
}

bool CoverWindowPool::has(QScreen* screen) const {
    for (const auto& window : kept_)
        if (window->coverScreen() == screen) return true;
    return false;
}

void CoverWindowPool::prune(QScreen* leaving) {
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::erase_if(kept_, [&](const std::unique_ptr<CoverWindow>& window) {
        QScreen* screen = window->coverScreen();
        return !screen || screen == leaving || !screens.contains(screen);
    });
}

std::unique_ptr<CoverWindow> CoverWindowPool::take(const Screen& screen) {
    if (!screen.qscreen) return nullptr;
    prune();
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if ((*it)->coverScreen() != screen.qscreen) continue;
        auto window = std::move(*it);
        kept_.erase(it);
        return window;
    }
    return nullptr;
}

void CoverWindowPool::put(std::unique_ptr<CoverWindow> window) {
    if (!window) return;
    window->setEventHandler(nullptr);
    if (window->isVisible()) window->orderOut();
    prune();
    QScreen* screen = window->coverScreen();
    if (!screen || !QGuiApplication::screens().contains(screen) || has(screen)) return;
    // Nothing of the last show stays, neither the content view nor its pixels in the backing
    // store: should anything put the store on screen before the next show paints, it is black.
    window->setBlackoutContent();
    window->prepareOffscreen();
    kept_.push_back(std::move(window));
}

void CoverWindowPool::prepare(const std::vector<Screen>& screens) {
    prune();
    for (const Screen& screen : screens) {
        if (!screen.qscreen || has(screen.qscreen)) continue;
        auto window = std::make_unique<CoverWindow>(screen);
        window->prepareOffscreen();
        kept_.push_back(std::move(window));
    }
    if (prepared_) return;
    prepared_ = true;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return;
    // Rebuilt only when the screen set changes: a screen that goes takes its window along, one
    // that comes gets one.
    removed_ = QObject::connect(app, &QGuiApplication::screenRemoved,
                                [this](QScreen* screen) { prune(screen); });
    added_ = QObject::connect(app, &QGuiApplication::screenAdded,
                              [this](QScreen*) { prepare(Screens::system()->screens()); });
}

}  // namespace desktop
