#include "platform/desktop/VideoView.h"

#include <QMediaPlayer>
#include <QPainter>
#include <QVideoFrame>

namespace desktop {

VideoView::VideoView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(&sink_, &QVideoSink::videoFrameChanged, this, &VideoView::takeFrame);
}

VideoView::~VideoView() {
    if (player_ && player_->videoSink() == &sink_) player_->setVideoSink(nullptr);
}

void VideoView::attach(QMediaPlayer* player) {
    player_ = player;
    if (player) player->setVideoSink(&sink_);
}

QRect VideoView::filledRect(const QSize& frameSize, const QSize& size) {
    if (frameSize.isEmpty() || size.isEmpty()) return {};
    QSize filled = frameSize.scaled(size, Qt::KeepAspectRatioByExpanding);
    return QRect(QPoint((size.width() - filled.width()) / 2, (size.height() - filled.height()) / 2),
                 filled);
}

void VideoView::takeFrame(const QVideoFrame& frame) {
    if (!frame.isValid()) return;
    QImage image = frame.toImage();
    if (image.isNull()) return;
    showFrame(image);
}

void VideoView::showFrame(const QImage& frame) {
    frame_ = frame;
    ++framesShown_;
    update();
    emit frameShown();
}

void VideoView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QRect target = filledRect(frame_.size(), size());
    if (target.isEmpty()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, frame_);
}

}  // namespace desktop
