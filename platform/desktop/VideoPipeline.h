#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "platform/desktop/LoopWatchdog.h"

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstBus GstBus;
typedef struct _GstAppSink GstAppSink;

namespace desktop {

class VideoView;

// One GStreamer pipeline for one video file: decoded once, muted, looping without a gap by
// segment seeks, every frame handed to each attached view. Its bus is watched for errors and end
// of stream, and a watchdog restarts it when no frame has arrived for a while although it should
// be playing. Main thread only, except the streaming-thread callbacks inside.
class VideoPipeline final : public QObject {
    Q_OBJECT

  public:
    // `clock` drives the watchdog (tests); null means the steady clock.
    explicit VideoPipeline(const QString& path, LoopWatchdog::Clock clock = {},
                           std::chrono::milliseconds stallTimeout = LoopWatchdog::kDefaultTimeout);
    // Stops the pipeline (state NULL) before anything else goes.
    ~VideoPipeline() override;
    VideoPipeline(const VideoPipeline&) = delete;
    VideoPipeline& operator=(const VideoPipeline&) = delete;

    const QString& path() const { return path_; }

    // Views to paint into. A pipeline left without a view stops (state NULL) at once.
    void addOutput(VideoView* view);
    void removeOutput(VideoView* view);
    std::size_t outputCount() const;

    // Playing while at least one holder wants it to.
    void retainPlay();
    void releasePlay();
    bool shouldPlay() const { return playHolds_ > 0; }

    // Runs the watchdog once now (it also runs on a timer).
    void checkWatchdog();

    // Figures for tests and benchmarks.
    std::uint64_t framesDelivered() const { return framesDelivered_; }
    std::uint64_t loopsCompleted() const { return loops_; }
    std::uint64_t restarts() const { return restarts_; }
    bool isRunning() const { return pipeline_ != nullptr; }

  signals:
    void frameDelivered();

  private:
    static int onBusMessage(GstBus* bus, GstMessage* message, void* self);
    static int onNewSample(GstAppSink* sink, void* self);
    static int onNewPreroll(GstAppSink* sink, void* self);

    bool start();
    void stop();
    void restart();
    void applyPlayState();
    void handleMessage(GstMessage* message, std::uint64_t generation);
    void seekToStart(bool flush);
    static void seekToStart(GstElement* pipeline, bool flush);
    void takeFrame(GstAppSink* sink, bool preroll);
    void deliverFrame();

    QString path_;
    bool playable_ = false;
    GstElement* pipeline_ = nullptr;
    std::vector<QPointer<VideoView>> outputs_;
    int playHolds_ = 0;
    // Bumped at every stop, so messages of an earlier run are ignored.
    std::atomic<std::uint64_t> generation_{0};
    bool prerolled_ = false;
    bool reportedError_ = false;

    // The latest frame, from the streaming thread to the main thread; newer frames replace it.
    std::mutex frameMutex_;
    QImage pendingFrame_;
    bool deliveryPosted_ = false;

    LoopWatchdog watchdog_;
    QTimer watchdogTimer_;
    std::uint64_t framesDelivered_ = 0;
    std::uint64_t loops_ = 0;
    std::uint64_t restarts_ = 0;
};

}  // namespace desktop
