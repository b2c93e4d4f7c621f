#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include <QImage>
#include <QString>

#include "platform/dispatch/Queue.h"

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;
typedef struct _GstAppSink GstAppSink;
typedef struct _GstPad GstPad;

namespace desktop {

class VideoPipeline;

// How long a clip's frames and the clip itself last, once it has prerolled. A clip of a single
// frame is a still: it is shown and held, never looped.
struct ClipTiming {
    std::chrono::nanoseconds frame{0};    // zero when unknown
    std::chrono::nanoseconds length{-1};  // negative when unknown
    bool still = false;

    static ClipTiming from(std::chrono::nanoseconds frame, std::chrono::nanoseconds length);
};

// What a run tells its VideoPipeline on the main thread.
struct RunEvent {
    enum class Kind { prerolled, loopDone, failed };
    Kind kind = Kind::failed;
    ClipTiming timing;
    QString error;
    // The run can never play (GStreamer's elements are missing): no retry helps.
    bool permanent = false;
};

// One start of a VideoPipeline's GStreamer graph, from building it to freeing it. Every state
// change and seek of it runs in order on a serial queue of its own, never on the main thread, and
// no lock of ours is held across a call into GStreamer, so a streaming thread that waits inside
// GStreamer can never wait on the main thread as well. GStreamer's threads reach the main thread
// only through the owner, which is cleared before the graph is torn down.
class PipelineRun : public std::enable_shared_from_this<PipelineRun> {
  public:
    explicit PipelineRun(QString path);
    ~PipelineRun();
    PipelineRun(const PipelineRun&) = delete;
    PipelineRun& operator=(const PipelineRun&) = delete;

    // Main thread. Builds and prerolls the graph; frames and events go to `owner` from now on.
    void start(VideoPipeline* owner);
    // Main thread. Playing or paused once prerolled (a still stays paused on its frame).
    void setPlaying(bool play);
    // Main thread. Nothing more reaches the owner; the graph is set to NULL and freed in the
    // background. The run may be dropped right after.
    void tearDown();
    // Main thread: the latest frame; the next one is posted again.
    QImage takeFrame();
    // The longest frame duration seen so far (zero while unknown). Any thread.
    std::chrono::nanoseconds longestFrame() const {
        return std::chrono::nanoseconds(longestFrameNs_.load(std::memory_order_relaxed));
    }

    // GStreamer graphs built and not yet freed, process-wide.
    static std::size_t liveGraphs();
    // Runs not yet destroyed, process-wide: one kept alive by a callback holds its frames.
    static std::size_t liveRuns();
    // Waits up to `timeout` for every tear-down asked for so far to finish.
    static bool waitForTearDowns(std::chrono::milliseconds timeout);
    // Every thread allocates from one malloc arena from now on, so that freed frames can be given
    // back. Best called before any other thread starts; GStreamer's set-up calls it as well.
    static void shareOneMallocArena();
    // Tests: while held, tear-downs wait before they start.
    static void holdTearDowns(bool hold);

  private:
    static int onBusMessage(GstMessage* message, void* link);
    static void onPadAdded(GstElement* decode, GstPad* pad, void* self);
    static int onSample(GstAppSink* sink, void* link, bool preroll);

    // On the run's queue.
    void build();
    void applyState();
    void prerolled();
    void segmentDone(bool endOfStream);
    void seekToStart(bool flush);
    void freeGraph();
    ClipTiming measure();

    void takeSample(GstAppSink* sink, bool preroll);
    void report(RunEvent event);

    const QString path_;
    const std::shared_ptr<dispatch::Queue> queue_;

    // The run's queue only.
    GstElement* pipeline_ = nullptr;
    GstElement* convert_ = nullptr;
    GstElement* sink_ = nullptr;
    bool wantPlay_ = false;
    bool prerolled_ = false;
    bool loopSkipped_ = false;
    bool still_ = false;
    bool closed_ = false;

    // Held only for bookkeeping, never across a call into GStreamer.
    std::mutex mutex_;
    VideoPipeline* owner_ = nullptr;
    QImage frame_;
    bool framePosted_ = false;

    // Held by the streaming thread while it links the decoder's output, and once by the tear-down
    // to close linking before the graph goes to NULL.
    std::mutex linkMutex_;
    bool linkClosed_ = false;

    std::atomic<std::int64_t> longestFrameNs_{0};
};

}  // namespace desktop
