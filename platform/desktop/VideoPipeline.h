#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "platform/desktop/LoopWatchdog.h"

namespace desktop {

class PipelineRun;
struct RunEvent;
class VideoView;

// One GStreamer pipeline for one video file: decoded once, muted, looping without a gap by
// segment seeks, every frame handed to each attached view; a clip of a single frame is shown and
// held. Its errors and ends of stream are handled, and a watchdog restarts it when no frame has
// arrived for a while (a few of the clip's frame durations) although it should be playing.
// Main thread only: the GStreamer side, its state changes and its tear-down run in a
// PipelineRun, off the main thread.
class VideoPipeline final : public QObject {
    Q_OBJECT

  public:
    // `clock` drives the watchdog (tests); null means the steady clock.
    explicit VideoPipeline(const QString& path, LoopWatchdog::Clock clock = {},
                           std::chrono::milliseconds stallTimeout = LoopWatchdog::kDefaultTimeout);
    // Lets the pipeline go; it is set to NULL and freed in the background.
    ~VideoPipeline() override;
    VideoPipeline(const VideoPipeline&) = delete;
    VideoPipeline& operator=(const VideoPipeline&) = delete;

    const QString& path() const { return path_; }

    // Views to paint into. A pipeline left without a view stops at once.
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
    bool isRunning() const { return run_ != nullptr; }
    // The clip is a single frame, shown and held.
    bool isStill() const { return still_; }
    std::chrono::milliseconds stallLimit() const { return watchdog_.timeout(); }
    // GStreamer pipelines of any VideoPipeline not yet freed.
    static std::size_t liveGStreamerPipelines();
    // Waits up to `timeout` for the pipelines let go so far to be freed.
    static bool waitForTearDowns(std::chrono::milliseconds timeout);

  signals:
    void frameDelivered();

  private:
    friend class PipelineRun;
    void onRunFrame(PipelineRun& run);
    void onRunEvent(PipelineRun& run, const RunEvent& event);

    void start();
    void stop();
    void restart();
    void applyPlayState();
    void followFrameDuration(std::chrono::nanoseconds frame);

    QString path_;
    bool playable_ = false;
    std::shared_ptr<PipelineRun> run_;
    // What the run was last told.
    bool runPlaying_ = false;
    bool still_ = false;
    std::vector<QPointer<VideoView>> outputs_;
    int playHolds_ = 0;
    bool reportedError_ = false;
    QImage lastFrame_;

    std::chrono::milliseconds baseStallTimeout_;
    LoopWatchdog watchdog_;
    QTimer watchdogTimer_;
    std::uint64_t framesDelivered_ = 0;
    std::uint64_t loops_ = 0;
    std::uint64_t restarts_ = 0;
};

}  // namespace desktop
