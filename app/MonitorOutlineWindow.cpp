#include "app/MonitorOutlineWindow.h"

#include <QPainter>
#include <QRegion>

namespace mantleshade {

MonitorOutlineWindow::MonitorOutlineWindow(const QRect& screenFrame)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                           Qt::X11BypassWindowManagerHint) {
    // Bypassing the window manager keeps it on every virtual desktop and above other windows.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setObjectName("MonitorOutlineWindow");
    setGeometry(screenFrame);
    setMask(bandRegion(screenFrame.size()));
}

QRegion MonitorOutlineWindow::bandRegion(const QSize& size) {
    const QRect outer(QPoint(0, 0), size);
    const QRect inner = outer.adjusted(kLineWidth, kLineWidth, -kLineWidth, -kLineWidth);
    QRegion band(outer);
    if (inner.isValid()) band -= QRegion(inner);
    return band;
}

void MonitorOutlineWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    setMask(bandRegion(size()));
}

void MonitorOutlineWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Stroked inside the edge: the whole band lies within the screen.
    QPen pen(Qt::red, kLineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal half = kLineWidth / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
}

}  // namespace mantleshade
