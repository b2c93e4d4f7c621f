#include "platform/desktop/StatusItem.h"

#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace desktop {

namespace {

// A monitor on a stand with a small landscape on its screen, in the symbol's spirit.
QIcon drawnPhotoTv() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 32.0;
        QPen pen(QColor(0x20, 0x20, 0x20));
        pen.setWidthF(2.0 * s);
        p.setPen(pen);
        p.setBrush(QColor(0xf4, 0xf4, 0xf4));
        p.drawRoundedRect(QRectF(2 * s, 4 * s, 28 * s, 19 * s), 2.5 * s, 2.5 * s);
        p.drawLine(QPointF(10 * s, 28 * s), QPointF(22 * s, 28 * s));
        p.drawLine(QPointF(16 * s, 23 * s), QPointF(16 * s, 28 * s));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x20, 0x20, 0x20));
        QPainterPath hills;
        hills.moveTo(6 * s, 20 * s);
        hills.lineTo(13 * s, 12 * s);
        hills.lineTo(18 * s, 17 * s);
        hills.lineTo(21 * s, 14 * s);
        hills.lineTo(26 * s, 20 * s);
        hills.closeSubpath();
        p.drawPath(hills);
        p.drawEllipse(QPointF(22 * s, 9.5 * s), 2 * s, 2 * s);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

std::unique_ptr<StatusItem> StatusItem::create(Length length) {
    return std::unique_ptr<StatusItem>(new StatusItem(length));
}

StatusItem::StatusItem(Length length)
    : length_(length), tray_(std::make_unique<QSystemTrayIcon>()) {
    tray_->setIcon(systemSymbolImage(QString()));
    // Qt shows the icon when a tray (or a StatusNotifier host) exists or appears later.
    tray_->show();
}

StatusItem::~StatusItem() {
    if (tray_) {
        tray_->setContextMenu(nullptr);
        tray_->hide();
    }
}

bool StatusItem::hasButton() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::setButtonImage(const QIcon& image, const QString& accessibilityDescription) {
    image_ = image;
    accessibilityDescription_ = accessibilityDescription;
    tray_->setIcon(image.isNull() ? systemSymbolImage(QString()) : image);
    tray_->setToolTip(accessibilityDescription);
}

void StatusItem::setMenu(QMenu* menu) {
    menu_ = menu;
    tray_->setContextMenu(menu);
    // A left click opens the same menu, as a status-bar item does.
    disconnect(tray_.get(), &QSystemTrayIcon::activated, this, nullptr);
    connect(tray_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && menu_) menu_->popup(QCursor::pos());
            });
}

QIcon StatusItem::systemSymbolImage(const QString& symbolName) {
    static const QIcon drawn = drawnPhotoTv();
    if (symbolName == "photo.tv") {
        return QIcon::fromTheme("video-display", drawn);
    }
    return drawn;
}

}  // namespace desktop
