#pragma once

#include <QImage>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "platform/desktop/PlayerSettling.h"

class QMediaPlayer;
class QVideoFrame;
class QVideoSink;

namespace mantleshade {

// The first frame of a video, made asynchronously at most 96 by 96 and shown at 48 by 48 (scaled
// to fill). Until a frame is made, and for good when making it fails (file missing, not a video),
// it shows the "film" symbol. The failure is silent.
class VideoThumbnailView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kShownSize = 48;
    static constexpr int kMaximumFrameSize = 96;
    // A file that gives no frame in this time counts as failed.
    static constexpr int kTimeoutMs = 15000;

    explicit VideoThumbnailView(const QString& path, QWidget* parent = nullptr);
    ~VideoThumbnailView() override;

    const QString& path() const { return path_; }
    const std::optional<QImage>& thumbnail() const { return thumbnail_; }
    // True once the attempt ended, with or without a frame.
    bool isFinished() const { return finished_; }

    // A frame scaled down to fit within 96 by 96, upright.
    static QImage thumbnailImage(const QVideoFrame& frame);

    QSize sizeHint() const override { return {kShownSize, kShownSize}; }

  signals:
    void finished();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void generateThumbnail();
    void frameArrived(const QVideoFrame& frame);
    void finish(std::optional<QImage> image);
    // Pauses, detaches and deletes the player, waiting at most a short bound.
    void releasePlayer();

    QString path_;
    std::optional<QImage> thumbnail_;
    bool finished_ = false;
    QMediaPlayer* player_ = nullptr;
    QVideoSink* sink_ = nullptr;
    QTimer timeout_;
    desktop::PlayerSettling settling_;
};

}  // namespace mantleshade
