#pragma once

#include <cstdint>

#include <QImage>
#include <QPointer>
#include <QVideoSink>
#include <QWidget>

class QMediaPlayer;

namespace desktop {

// Paints the frames of a video (a VideoPipeline's, or a QMediaPlayer's) in aspect fill: scaled to cover the view, centred, the
// overflow cropped.
class VideoView : public QWidget {
    Q_OBJECT

  public:
    explicit VideoView(QWidget* parent = nullptr);
    // Detaches the player first if it still renders into this view.
    ~VideoView() override;

    // Makes `player` render into this view.
    void attach(QMediaPlayer* player);
    // Shows `frame` next (frames handed over by a VideoPipeline).
    void showFrame(const QImage& frame);

    QVideoSink* sink() { return &sink_; }
    std::uint64_t framesShown() const { return framesShown_; }
    const QImage& currentFrame() const { return frame_; }
    // The part of a frame of `frameSize` that aspect fill puts in the view, in view coordinates.
    static QRect filledRect(const QSize& frameSize, const QSize& size);

  signals:
    void frameShown();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void takeFrame(const QVideoFrame& frame);

    QVideoSink sink_;
    QPointer<QMediaPlayer> player_;
    QImage frame_;
    std::uint64_t framesShown_ = 0;
};

}  // namespace desktop
