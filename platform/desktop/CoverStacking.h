#pragma once

#include <QObject>

namespace desktop {

// Keeps the cover windows above every other window of the application while they are up. A
// window manager stacks a new window under override-redirect covers, but without one (kiosk
// sessions often run X alone) each newly mapped window lands on top: so when another window of
// ours is shown or activated while a cover is visible, the covers are raised again. The keyboard
// goes back to a cover only when the window that has it cannot be seen, its centre lying on a
// cover (checked again when that window moves), or when no window of ours has it: a window on a
// monitor without a cover, and the dialogs it opens there, keep it. Popups and tooltips are left
// alone (a popup holds a grab that an unseen menu must not keep). Main thread.
class CoverStacking final : public QObject {
    Q_OBJECT

  public:
    // Watches the application's windows from now on; once per application.
    static void install();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit CoverStacking(QObject* parent);
    // Raises the visible covers and gives one of them the focus when the active window is hidden
    // by one or there is none, after the window that called for it is mapped.
    void restackSoon();
    void restack();

    bool pending_ = false;
};

}  // namespace desktop
