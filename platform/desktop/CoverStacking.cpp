#include "platform/desktop/CoverStacking.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "platform/desktop/CoverWindow.h"

namespace desktop {

namespace {

QPointer<CoverStacking> gInstalled;

std::vector<CoverWindow*> visibleCovers() {
    std::vector<CoverWindow*> covers;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* cover = qobject_cast<CoverWindow*>(widget); cover && cover->isVisible())
            covers.push_back(cover);
    return covers;
}

}  // namespace

CoverStacking::CoverStacking(QObject* parent) : QObject(parent) {}

void CoverStacking::install() {
    auto* app = QCoreApplication::instance();
    if (!app || gInstalled) return;
    // A child of the application: it goes with it, and a later application gets its own.
    gInstalled = new CoverStacking(app);
    app->installEventFilter(gInstalled.data());
}

bool CoverStacking::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::Show && type != QEvent::WindowActivate && type != QEvent::Move)
        return QObject::eventFilter(watched, event);
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow() || qobject_cast<CoverWindow*>(widget))
        return QObject::eventFilter(watched, event);
    // A move matters only to the window that has the keyboard: it may go under a cover.
    if (type == QEvent::Move && widget != QApplication::activeWindow())
        return QObject::eventFilter(watched, event);
    const Qt::WindowType kind = widget->windowType();
    if (kind == Qt::Popup || kind == Qt::ToolTip || kind == Qt::Desktop)
        return QObject::eventFilter(watched, event);
    if (!visibleCovers().empty()) restackSoon();
    return QObject::eventFilter(watched, event);
}

void CoverStacking::restackSoon() {
    if (pending_) return;
    pending_ = true;
    // Queued: the window is mapped (and put on top) only after its show event.
    QMetaObject::invokeMethod(this, &CoverStacking::restack, Qt::QueuedConnection);
}

void CoverStacking::restack() {
    pending_ = false;
    const std::vector<CoverWindow*> covers = visibleCovers();
    if (covers.empty()) return;
    // The offscreen platform has no stacking order.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        for (CoverWindow* cover : covers) cover->raise();
    QWidget* active = QApplication::activeWindow();
    auto* activeCover = qobject_cast<CoverWindow*>(active);
    if (activeCover && activeCover->isVisible()) return;
    if (!active || activeCover) {
        covers.front()->activateWindow();
        return;
    }
    // Another window of ours keeps the keyboard where it can be seen; under a cover it could
    // only be typed into blind, so that cover takes the keyboard.
    const QPoint centre = active->frameGeometry().center();
    for (CoverWindow* cover : covers) {
        if (cover->geometry().contains(centre)) {
            cover->activateWindow();
            return;
        }
    }
}

}  // namespace desktop
