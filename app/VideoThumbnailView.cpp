#include "app/VideoThumbnailView.h"

#include <QFileInfo>
#include <QMediaPlayer>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>

#include "app/SystemSymbol.h"

namespace mantleshade {

VideoThumbnailView::VideoThumbnailView(const QString& path, QWidget* parent)
    : QWidget(parent), path_(path) {
    setObjectName("VideoThumbnailView");
    setFixedSize(kShownSize, kShownSize);
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, [this] { finish(std::nullopt); });
    // Started from the event loop, so building a row never waits on the media framework.
    QTimer::singleShot(0, this, [this] { generateThumbnail(); });
}

VideoThumbnailView::~VideoThumbnailView() {
    releasePlayer();
}

void VideoThumbnailView::releasePlayer() {
    if (!player_) return;
    // Paused and settled before it is detached: stopping a playing player waits on the main
    // thread (see desktop::PlayerSettling).
    settling_.pause(*player_);
    settling_.settle();
    player_->setVideoOutput(nullptr);
    delete player_;
    delete sink_;
    player_ = nullptr;
    sink_ = nullptr;
}

void VideoThumbnailView::generateThumbnail() {
    if (finished_ || player_) return;
    if (!QFileInfo(path_).isFile()) {
        finish(std::nullopt);
        return;
    }
    // No audio output is attached: decoding the first frame makes no sound.
    player_ = new QMediaPlayer(this);
    sink_ = new QVideoSink(this);
    player_->setVideoOutput(sink_);
    connect(sink_, &QVideoSink::videoFrameChanged, this, &VideoThumbnailView::frameArrived);
    connect(player_, &QMediaPlayer::errorOccurred, this, [this] { finish(std::nullopt); });
    connect(player_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::InvalidMedia || status == QMediaPlayer::EndOfMedia)
                    finish(std::nullopt);
                else if (status == QMediaPlayer::LoadedMedia && !player_->hasVideo())
                    finish(std::nullopt);
            });
    timeout_.start(kTimeoutMs);
    player_->setSource(QUrl::fromLocalFile(path_));
    player_->play();
}

void VideoThumbnailView::frameArrived(const QVideoFrame& frame) {
    if (finished_ || !frame.isValid()) return;
    QImage image = thumbnailImage(frame);
    if (image.isNull()) return;
    finish(std::move(image));
}

QImage VideoThumbnailView::thumbnailImage(const QVideoFrame& frame) {
    QImage image = frame.toImage();
    if (image.isNull()) return image;
    if (frame.mirrored()) image = image.mirrored(true, false);
    const int angle = static_cast<int>(frame.rotationAngle());
    if (angle != 0) image = image.transformed(QTransform().rotate(angle));
    if (image.width() > kMaximumFrameSize || image.height() > kMaximumFrameSize)
        image = image.scaled(kMaximumFrameSize, kMaximumFrameSize, Qt::KeepAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}

void VideoThumbnailView::finish(std::optional<QImage> image) {
    if (finished_) return;
    finished_ = true;
    timeout_.stop();
    thumbnail_ = std::move(image);
    if (player_) {
        disconnect(sink_, nullptr, this, nullptr);
        disconnect(player_, nullptr, this, nullptr);
        // Released from the event loop: this may run inside the sink's own frame hand-over,
        // which must return before the pipeline can pause.
        settling_.pause(*player_);
        QTimer::singleShot(0, this, [this] { releasePlayer(); });
    }
    update();
    emit finished();
}

void VideoThumbnailView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (thumbnail_) {
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 4, 4);
        painter.setClipPath(clip);
        const QImage filled =
            thumbnail_->scaled(size(), Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        const QPoint origin((width() - filled.width()) / 2, (height() - filled.height()) / 2);
        painter.drawImage(origin, filled);
        return;
    }
    painter.setOpacity(0.6);  // the secondary style
    const int side = 24;
    SystemSymbol::icon("film").paint(
        &painter, QRect((width() - side) / 2, (height() - side) / 2, side, side));
}

}  // namespace mantleshade
