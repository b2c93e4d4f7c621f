#include "app/KeyEquivalents.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

#include "platform/desktop/CoverWindow.h"

namespace mantleshade {

KeyEquivalents::KeyEquivalents(QObject* parent) : QObject(parent) {
    if (qApp) qApp->installEventFilter(this);
}

KeyEquivalents::~KeyEquivalents() {
    if (qApp) qApp->removeEventFilter(this);
}

void KeyEquivalents::add(QAction* action) {
    if (action) actions_.emplace_back(action);
}

bool KeyEquivalents::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const QKeySequence pressed(key->keyCombination());
    auto* window = static_cast<QWidget*>(watched)->window();
    if (qobject_cast<desktop::CoverWindow*>(window)) return false;
    for (const QPointer<QAction>& action : actions_) {
        if (!action || !action->isEnabled() || action->shortcut().isEmpty() ||
            action->shortcut() != pressed)
            continue;
        // The menu goes before the action runs: a window it opens must not sit under the popup.
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        action->trigger();
        return true;
    }
    return false;
}

}  // namespace mantleshade
