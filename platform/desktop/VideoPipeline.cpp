#include "platform/desktop/VideoPipeline.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include <QCoreApplication>
#include <QFileInfo>

#include "platform/desktop/PipelineRun.h"
#include "platform/desktop/VideoView.h"

namespace desktop {

namespace {

constexpr int kWatchdogPeriodMs = 250;
// How long the application waits, as it quits, for pipelines still being freed.
constexpr std::chrono::milliseconds kQuitTearDownBound{2000};

bool initGStreamer() {
    static const bool ok = [] {
        // Late for threads that already have an arena, but no new one is made.
        PipelineRun::shareOneMallocArena();
        GError* error = nullptr;
        if (gst_init_check(nullptr, nullptr, &error)) {
            // Pipelines let go just before the application quits are freed before it ends.
            if (QCoreApplication::instance())
                qAddPostRoutine([] { PipelineRun::waitForTearDowns(kQuitTearDownBound); });
            return true;
        }
        std::fprintf(stderr, "GStreamer could not start: %s\n",
                     error ? error->message : "unknown error");
        if (error) g_error_free(error);
        return false;
    }();
    return ok;
}

LoopWatchdog::Clock orSteadyClock(LoopWatchdog::Clock clock) {
    if (clock) return clock;
    return [] { return std::chrono::steady_clock::now(); };
}

}  // namespace

VideoPipeline::VideoPipeline(const QString& path, LoopWatchdog::Clock clock,
                             std::chrono::milliseconds stallTimeout)
    : path_(path),
      baseStallTimeout_(stallTimeout),
      watchdog_(orSteadyClock(std::move(clock)), stallTimeout) {
    // Only regular files: opening a FIFO or a device would block.
    playable_ = QFileInfo(path).isFile() && initGStreamer();
    watchdogTimer_.setInterval(kWatchdogPeriodMs);
    connect(&watchdogTimer_, &QTimer::timeout, this, &VideoPipeline::checkWatchdog);
}

VideoPipeline::~VideoPipeline() {
    watchdogTimer_.stop();
    stop();
}

std::size_t VideoPipeline::liveGStreamerPipelines() {
    return PipelineRun::liveGraphs();
}

bool VideoPipeline::waitForTearDowns(std::chrono::milliseconds timeout) {
    return PipelineRun::waitForTearDowns(timeout);
}

void VideoPipeline::addOutput(VideoView* view) {
    if (!view) return;
    if (std::find(outputs_.begin(), outputs_.end(), view) == outputs_.end())
        outputs_.emplace_back(view);
    // A view added later starts with the picture the others show.
    if (!lastFrame_.isNull()) view->showFrame(lastFrame_);
    if (!run_) start();
    applyPlayState();
}

void VideoPipeline::removeOutput(VideoView* view) {
    std::erase_if(outputs_, [&](const QPointer<VideoView>& o) { return o.isNull() || o == view; });
    if (outputs_.empty()) stop();
}

std::size_t VideoPipeline::outputCount() const {
    return static_cast<std::size_t>(
        std::count_if(outputs_.begin(), outputs_.end(), [](const auto& o) { return !o.isNull(); }));
}

void VideoPipeline::retainPlay() {
    if (++playHolds_ == 1) applyPlayState();
}

void VideoPipeline::releasePlay() {
    if (playHolds_ == 0) return;
    if (--playHolds_ == 0) applyPlayState();
}

void VideoPipeline::start() {
    if (run_ || !playable_) return;
    run_ = std::make_shared<PipelineRun>(path_);
    runPlaying_ = false;
    still_ = false;
    watchdog_.setTimeout(baseStallTimeout_);
    run_->start(this);
}

void VideoPipeline::stop() {
    if (!run_) return;
    // Returns at once: the run stops and frees its pipeline on a queue of its own, so the next
    // cue is not held up, and the same file may start again meanwhile in a pipeline of its own.
    std::exchange(run_, nullptr)->tearDown();
    runPlaying_ = false;
    lastFrame_ = {};
}

void VideoPipeline::restart() {
    ++restarts_;
    if (restarts_ == 1)
        std::fprintf(stderr, "Video %s stopped moving; restarting its player\n", qPrintable(path_));
    stop();
    start();
    watchdog_.start();
    applyPlayState();
}

void VideoPipeline::applyPlayState() {
    const bool play = shouldPlay() && playable_;
    // A still cannot stall: there is nothing to watch.
    const bool watch = play && !still_;
    if (watch && !watchdog_.isRunning()) {
        watchdog_.start();
        watchdogTimer_.start();
    } else if (!watch) {
        watchdog_.stop();
        watchdogTimer_.stop();
    }
    if (play && !run_ && !outputs_.empty()) start();
    if (run_ && play != runPlaying_) {
        runPlaying_ = play;
        run_->setPlaying(play);
    }
}

void VideoPipeline::checkWatchdog() {
    if (!shouldPlay() || outputCount() == 0 || !playable_ || still_) return;
    if (watchdog_.isDue()) restart();
}

void VideoPipeline::followFrameDuration(std::chrono::nanoseconds frame) {
    const auto limit = LoopWatchdog::limitFor(baseStallTimeout_, frame);
    if (limit > watchdog_.timeout()) watchdog_.setTimeout(limit);
}

void VideoPipeline::onRunEvent(PipelineRun& run, const RunEvent& event) {
    if (&run != run_.get()) return;
    switch (event.kind) {
        case RunEvent::Kind::prerolled:
            followFrameDuration(event.timing.frame);
            if (event.timing.still) {
                still_ = true;
                applyPlayState();
            }
            break;
        case RunEvent::Kind::loopDone:
            ++loops_;
            break;
        case RunEvent::Kind::failed:
            if (!reportedError_)
                std::fprintf(stderr, "Video %s cannot play: %s\n", qPrintable(path_),
                             qPrintable(event.error));
            reportedError_ = true;
            if (event.permanent) playable_ = false;
            // Stopped; the watchdog tries again while the cover should play.
            stop();
            break;
    }
}

void VideoPipeline::onRunFrame(PipelineRun& run) {
    if (&run != run_.get()) return;
    QImage frame = run.takeFrame();
    if (frame.isNull()) return;
    lastFrame_ = frame;
    ++framesDelivered_;
    followFrameDuration(run.longestFrame());
    watchdog_.frameArrived();
    for (const QPointer<VideoView>& view : outputs_)
        if (view) view->showFrame(frame);
    emit frameDelivered();
}

}  // namespace desktop
