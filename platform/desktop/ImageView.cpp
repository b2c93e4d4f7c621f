#include "platform/desktop/ImageView.h"

#include <QPainter>

#include "platform/desktop/ImageCache.h"

namespace desktop {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageView::setImage(const QImage& image) {
    image_ = image;
    scaled_ = QImage();
    update();
}

QRect ImageView::fittedRect(const QSize& imageSize, const QSize& size) {
    if (imageSize.isEmpty() || size.isEmpty()) return {};
    QSize fitted = imageSize.scaled(size, Qt::KeepAspectRatio);
    return QRect(QPoint((size.width() - fitted.width()) / 2, (size.height() - fitted.height()) / 2),
                 fitted);
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect target = fittedRect(image_.size(), size());
    if (!target.isEmpty() && scaled_.size() != target.size())
        scaled_ = ImageCache::shared().scaled(image_, target.size());
    if (target.isEmpty() || scaled_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Black only around the picture: the picture itself is opaque.
    for (const QRect& border : QRegion(rect()).subtracted(QRegion(target)))
        painter.fillRect(border, Qt::black);
    painter.drawImage(target.topLeft(), scaled_);
}

}  // namespace desktop
