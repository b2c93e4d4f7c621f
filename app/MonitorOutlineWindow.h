#pragma once

#include <QRect>
#include <QWidget>

namespace mantleshade {

// The red band that identifies one screen: a frameless window over the whole screen that stays on
// top, takes no clicks and no focus, and is shaped to the 20-point band inside the screen's edge
// (without a compositor a translucent window would show black).
class MonitorOutlineWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kLineWidth = 20;

    explicit MonitorOutlineWindow(const QRect& screenFrame);

    // The band as a region in window coordinates for a window of `size`.
    static QRegion bandRegion(const QSize& size);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

}  // namespace mantleshade
