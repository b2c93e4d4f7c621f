#pragma once

#include <QObject>
#include <QPointer>
#include <vector>

class QAction;

namespace mantleshade {

// The status menu's key equivalents, made to work wherever the application has the keyboard:
// in the open menu and in any of its windows (cover windows excepted, whose keys belong to the
// covers). Qt matches a menu action's shortcut only inside a window that shows the menu, and the
// status menu lives in no window, so the keys are caught here on their way to the focus widget.
class KeyEquivalents : public QObject {
    Q_OBJECT

  public:
    explicit KeyEquivalents(QObject* parent = nullptr);
    ~KeyEquivalents() override;

    // Triggers `action` on its shortcut; the open menu closes first.
    void add(QAction* action);

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::vector<QPointer<QAction>> actions_;
};

}  // namespace mantleshade
