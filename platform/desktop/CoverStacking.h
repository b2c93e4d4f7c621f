#pragma once

#include <QObject>

namespace desktop {

// Keeps the cover windows above every other window of the application while they are up, and
// the keyboard on them. A window manager stacks a new window under override-redirect covers, but
// without one (kiosk sessions often run X alone) each newly mapped window lands on top: so when
// another window of ours is shown or activated while a cover is visible, the covers are raised
// again and a cover takes the focus back. Popups and tooltips are left alone (a popup holds a
// grab that an unseen menu must not keep). Main thread.
class CoverStacking final : public QObject {
    Q_OBJECT

  public:
    // Watches the application's windows from now on; once per application.
    static void install();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    explicit CoverStacking(QObject* parent);
    // Raises the visible covers and gives one of them the focus, after the window that called
    // for it is mapped.
    void restackSoon();
    void restack();

    bool pending_ = false;
};

}  // namespace desktop
