#include "platform/desktop/PipelineRun.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <malloc.h>

#include <algorithm>
#include <condition_variable>
#include <utility>

#include <QFile>
#include <QMetaObject>

#include "platform/desktop/VideoPipeline.h"

namespace desktop {

namespace {

using std::chrono::nanoseconds;

std::atomic<std::size_t> gLiveGraphs{0};
std::atomic<std::size_t> gLiveRuns{0};
constexpr std::chrono::seconds kTrimDelay{1};

struct TearDowns {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t pending = 0;
    bool held = false;
};

// Never destroyed: a tear-down may finish on a worker while the process exits.
TearDowns& tearDowns() {
    static auto* state = new TearDowns;
    return *state;
}

// What a graph freed stays with malloc until trimmed. Given back once tear-downs have stopped for
// a while: trimming holds the arena's lock, which would slow the next cue of a burst.
void trimMallocWhenQuiet() {
#ifdef __GLIBC__
    static std::atomic<std::uint64_t> latest{0};
    const std::uint64_t mine = ++latest;
    dispatch::Queue::global(dispatch::QoS::low)->asyncAfter(kTrimDelay, [mine] {
        if (latest.load() == mine) malloc_trim(0);
    });
#endif
}

// What GStreamer's callbacks hold: the run while it lives, without keeping it alive.
struct Link {
    std::weak_ptr<PipelineRun> run;
};

void freeLink(gpointer link) {
    delete static_cast<Link*>(link);
}

gboolean continuesUnlessAudio(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    if (!caps || gst_caps_get_size(caps) == 0) return TRUE;
    return !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

bool isRawVideo(GstPad* pad) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const bool video =
        caps && gst_caps_get_size(caps) > 0 &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/x-raw");
    if (caps) gst_caps_unref(caps);
    return video;
}

}  // namespace

ClipTiming ClipTiming::from(nanoseconds frame, nanoseconds length) {
    ClipTiming timing;
    timing.frame = frame > nanoseconds(0) ? frame : nanoseconds(0);
    timing.length = length >= nanoseconds(0) ? length : nanoseconds(-1);
    // Shorter than one and a half frames: a single frame, or none with a length at all.
    timing.still = timing.length == nanoseconds(0) ||
                   (timing.frame > nanoseconds(0) && timing.length > nanoseconds(0) &&
                    timing.length < timing.frame * 3 / 2);
    return timing;
}

void PipelineRun::shareOneMallocArena() {
#ifdef __GLIBC__
    // Each thread that allocates takes a malloc arena of its own, up to eight per core, and a
    // thread's arena keeps the free memory at its top (up to twice the largest block freed, 64 MiB
    // for large frames) where malloc_trim cannot reach it. Streaming threads come and go with
    // every graph, so while cues move between videos ever more arenas hold frames' memory, and
    // the process grows. In the one main arena, a trim gives all free memory back.
    mallopt(M_ARENA_MAX, 1);
#endif
}

PipelineRun::PipelineRun(QString path)
    : path_(std::move(path)), queue_(dispatch::Queue::createSerial("video-pipeline")) {
    gLiveRuns.fetch_add(1);
}

PipelineRun::~PipelineRun() {
    gLiveRuns.fetch_sub(1);
}

void PipelineRun::start(VideoPipeline* owner) {
    {
        std::lock_guard lock(mutex_);
        owner_ = owner;
    }
    queue_->async([self = shared_from_this()] { self->build(); });
}

void PipelineRun::setPlaying(bool play) {
    queue_->async([self = shared_from_this(), play] {
        self->wantPlay_ = play;
        self->applyState();
    });
}

void PipelineRun::tearDown() {
    {
        std::lock_guard lock(mutex_);
        owner_ = nullptr;
        frame_ = {};
    }
    {
        std::lock_guard lock(tearDowns().mutex);
        ++tearDowns().pending;
    }
    queue_->async([self = shared_from_this()] {
        TearDowns& state = tearDowns();
        {
            std::unique_lock lock(state.mutex);
            state.changed.wait(lock, [&] { return !state.held; });
        }
        self->freeGraph();
        std::lock_guard lock(state.mutex);
        --state.pending;
        state.changed.notify_all();
    });
}

QImage PipelineRun::takeFrame() {
    std::lock_guard lock(mutex_);
    framePosted_ = false;
    return frame_;
}

std::size_t PipelineRun::liveGraphs() {
    return gLiveGraphs.load();
}

std::size_t PipelineRun::liveRuns() {
    return gLiveRuns.load();
}

bool PipelineRun::waitForTearDowns(std::chrono::milliseconds timeout) {
    TearDowns& state = tearDowns();
    std::unique_lock lock(state.mutex);
    return state.changed.wait_for(lock, timeout, [&] { return state.pending == 0; });
}

void PipelineRun::holdTearDowns(bool hold) {
    TearDowns& state = tearDowns();
    std::lock_guard lock(state.mutex);
    state.held = hold;
    state.changed.notify_all();
}

void PipelineRun::build() {
    if (closed_) return;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decode = gst_element_factory_make("decodebin", nullptr);
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!pipeline || !source || !decode || !convert || !sink) {
        for (GstElement* e : {pipeline, source, decode, convert, sink})
            if (e) gst_object_unref(e);
        report({RunEvent::Kind::failed, {}, "GStreamer elements are missing", true});
        return;
    }
    gLiveGraphs.fetch_add(1);
    g_object_weak_ref(
        G_OBJECT(pipeline), [](gpointer, GObject*) { gLiveGraphs.fetch_sub(1); }, nullptr);
    const QByteArray location = QFile::encodeName(path_);
    g_object_set(source, "location", location.constData(), nullptr);
    // Only the video is decoded: audio stops at its compressed caps and is never linked, so the
    // cover is muted at no cost.
    g_signal_connect(decode, "autoplug-continue", G_CALLBACK(continuesUnlessAudio), nullptr);
    // BGRx is QImage::Format_RGB32 on little-endian machines, xRGB on big-endian ones.
    GstCaps* frameCaps = gst_caps_from_string(
        G_BYTE_ORDER == G_LITTLE_ENDIAN ? "video/x-raw,format=BGRx" : "video/x-raw,format=xRGB");
    g_object_set(sink, "caps", frameCaps, "sync", TRUE, "enable-last-sample", FALSE, "max-buffers",
                 2u, nullptr);
    gst_caps_unref(frameCaps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer link) {
        return static_cast<GstFlowReturn>(onSample(s, link, false));
    };
    callbacks.new_preroll = [](GstAppSink* s, gpointer link) {
        return static_cast<GstFlowReturn>(onSample(s, link, true));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new Link{weak_from_this()},
                               freeLink);

    gst_bin_add_many(GST_BIN(pipeline), source, decode, convert, sink, nullptr);
    pipeline_ = pipeline;
    convert_ = convert;
    sink_ = sink;
    if (!gst_element_link(source, decode) || !gst_element_link(convert, sink)) {
        report({RunEvent::Kind::failed, {}, "its elements could not be linked", true});
        return;
    }
    g_signal_connect(decode, "pad-added", G_CALLBACK(onPadAdded), this);

    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus*, GstMessage* m, gpointer link) {
            return static_cast<GstBusSyncReply>(onBusMessage(m, link));
        },
        new Link{weak_from_this()}, freeLink);
    gst_object_unref(bus);

    // Prerolls first; the first segment seek and PLAYING follow once it has.
    if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
        report({RunEvent::Kind::failed, {}, "the file could not be opened", false});
}

// Links the first raw video pad the decoder exposes to the converter; anything else stays
// unlinked. Never once the tear-down has begun: a link made while the bin changes state corrupts
// the bin's ordering of its elements ("loop detected in the graph of bin").
void PipelineRun::onPadAdded(GstElement*, GstPad* pad, void* data) {
    auto* self = static_cast<PipelineRun*>(data);
    if (!isRawVideo(pad)) return;
    std::lock_guard lock(self->linkMutex_);
    if (self->linkClosed_) return;
    GstPad* sinkPad = gst_element_get_static_pad(self->convert_, "sink");
    if (!gst_pad_is_linked(sinkPad)) gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

void PipelineRun::applyState() {
    if (!pipeline_ || !prerolled_ || closed_) return;
    const bool play = wantPlay_ && !still_;
    gst_element_set_state(pipeline_, play ? GST_STATE_PLAYING : GST_STATE_PAUSED);
    // A loop that ended while paused starts over now.
    if (play && std::exchange(loopSkipped_, false)) seekToStart(true);
}

void PipelineRun::prerolled() {
    if (!pipeline_ || prerolled_ || closed_) return;
    prerolled_ = true;
    const ClipTiming timing = measure();
    still_ = timing.still;
    if (!still_) seekToStart(true);
    report({RunEvent::Kind::prerolled, timing, {}, false});
    applyState();
}

void PipelineRun::segmentDone(bool endOfStream) {
    // The end of the stream reached while prerolling: the first seek starts it over anyway.
    if (!pipeline_ || closed_ || !prerolled_) return;
    report({RunEvent::Kind::loopDone, {}, {}, false});
    if (still_) return;
    // A non-flushing seek sent while paused would wait on the streaming thread held in
    // preroll: it is sent, flushing, when play resumes instead.
    if (!wantPlay_) {
        loopSkipped_ = true;
        return;
    }
    // A demuxer that ignored the segment flag ends the stream: start over the plain way.
    seekToStart(endOfStream);
}

void PipelineRun::seekToStart(bool flush) {
    // A segment seek ends in SEGMENT_DONE instead of end of stream, and the next one joins on
    // without a flush, so the loop has no gap.
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_SEGMENT |
                                           (flush ? GST_SEEK_FLAG_FLUSH : GST_SEEK_FLAG_NONE));
    if (flush) {
        gst_element_seek(pipeline_, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0,
                         GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
        return;
    }
    // A seek sent to an element holds the element's state lock until the demuxer's streaming
    // thread lets go, and that thread may wait in the sink for the pipeline to finish going to
    // PLAYING, which needs the same lock: sent upstream from the sink's pad, it holds none.
    GstEvent* seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0,
                                        GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    gst_pad_push_event(pad, seek);
    gst_object_unref(pad);
}

ClipTiming PipelineRun::measure() {
    gint64 length = -1;
    if (!gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &length)) length = -1;
    nanoseconds frame{0};
    GstPad* pad = gst_element_get_static_pad(sink_, "sink");
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
        gint num = 0, den = 1;
        if (gst_caps_get_size(caps) > 0 &&
            gst_structure_get_fraction(gst_caps_get_structure(caps, 0), "framerate", &num, &den) &&
            num > 0 && den > 0)
            frame = nanoseconds(gst_util_uint64_scale_int(GST_SECOND, den, num));
        gst_caps_unref(caps);
    }
    gst_object_unref(pad);
    // A variable frame rate: the prerolled frame's own duration.
    if (frame == nanoseconds(0)) frame = longestFrame();
    return ClipTiming::from(frame, nanoseconds(length));
}

void PipelineRun::freeGraph() {
    closed_ = true;
    if (!pipeline_) return;
    {
        std::lock_guard lock(linkMutex_);
        linkClosed_ = true;
    }
    // NULL waits for the streaming threads to end; none of them waits on a lock of ours.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
    pipeline_ = convert_ = sink_ = nullptr;
    trimMallocWhenQuiet();
}

int PipelineRun::onBusMessage(GstMessage* message, void* data) {
    // A message the handler drops is the handler's to free; one left unfreed holds its source,
    // and with it the whole pipeline and its wake-up descriptors.
    std::unique_ptr<GstMessage, void (*)(GstMessage*)> dropped(
        message, [](GstMessage* m) { gst_message_unref(m); });
    std::shared_ptr<PipelineRun> self = static_cast<Link*>(data)->run.lock();
    if (!self) return GST_BUS_DROP;
    const bool fromPipeline = GST_IS_PIPELINE(GST_MESSAGE_SRC(message));
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            self->report({RunEvent::Kind::failed,
                          {},
                          QString::fromUtf8(error ? error->message : "unknown error"),
                          false});
            if (error) g_error_free(error);
            break;
        }
        case GST_MESSAGE_EOS:
            self->queue_->async([self] { self->segmentDone(true); });
            break;
        case GST_MESSAGE_SEGMENT_DONE:
            // The pipeline's own message, once every stream is done: the next seek goes out
            // from the run's queue right away, so the loop never waits on a busy main thread.
            if (fromPipeline) self->queue_->async([self] { self->segmentDone(false); });
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (fromPipeline) self->queue_->async([self] { self->prerolled(); });
            break;
        default:
            break;
    }
    return GST_BUS_DROP;
}

int PipelineRun::onSample(GstAppSink* sink, void* data, bool preroll) {
    if (std::shared_ptr<PipelineRun> self = static_cast<Link*>(data)->run.lock())
        self->takeSample(sink, preroll);
    return GST_FLOW_OK;
}

void PipelineRun::takeSample(GstAppSink* sink, bool preroll) {
    GstSample* sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
    if (!sample) return;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    QImage image;
    if (buffer && GST_BUFFER_DURATION_IS_VALID(buffer)) {
        const auto duration = static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer));
        std::int64_t longest = longestFrameNs_.load(std::memory_order_relaxed);
        while (duration > longest && !longestFrameNs_.compare_exchange_weak(longest, duration)) {
        }
    }
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const auto stride = static_cast<qsizetype>(GST_VIDEO_INFO_PLANE_STRIDE(&info, 0));
        const auto width = GST_VIDEO_INFO_WIDTH(&info);
        const auto height = GST_VIDEO_INFO_HEIGHT(&info);
        if (width > 0 && height > 0 && map.size >= static_cast<gsize>(stride) * height)
            // Copied, so no buffer of the pipeline's pool is held while the frame is on screen.
            image = QImage(map.data, width, height, stride, QImage::Format_RGB32).copy();
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    if (image.isNull()) return;
    std::lock_guard lock(mutex_);
    if (!owner_) return;
    frame_ = std::move(image);
    if (std::exchange(framePosted_, true)) return;
    // Posting only queues an event; the owner clears itself under this lock before it goes.
    QMetaObject::invokeMethod(
        owner_, [owner = owner_, self = shared_from_this()] { owner->onRunFrame(*self); },
        Qt::QueuedConnection);
}

void PipelineRun::report(RunEvent event) {
    std::lock_guard lock(mutex_);
    if (!owner_) return;
    QMetaObject::invokeMethod(
        owner_,
        [owner = owner_, self = shared_from_this(), event = std::move(event)] {
            owner->onRunEvent(*self, event);
        },
        Qt::QueuedConnection);
}

}  // namespace desktop
