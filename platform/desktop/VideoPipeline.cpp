#include "platform/desktop/VideoPipeline.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

#include <QFileInfo>

#include "platform/desktop/VideoView.h"

namespace desktop {

namespace {

constexpr int kWatchdogPeriodMs = 250;

bool initGStreamer() {
    static const bool ok = [] {
        GError* error = nullptr;
        if (gst_init_check(nullptr, nullptr, &error)) return true;
        std::fprintf(stderr, "GStreamer could not start: %s\n",
                     error ? error->message : "unknown error");
        if (error) g_error_free(error);
        return false;
    }();
    return ok;
}

// Links the first raw video pad decodebin exposes to the converter; anything else stays unlinked.
void onPadAdded(GstElement*, GstPad* pad, gpointer convert) {
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const bool video = caps && gst_caps_get_size(caps) > 0 &&
                       g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)),
                                        "video/x-raw");
    if (caps) gst_caps_unref(caps);
    if (!video) return;
    GstPad* sinkPad = gst_element_get_static_pad(static_cast<GstElement*>(convert), "sink");
    if (!gst_pad_is_linked(sinkPad)) gst_pad_link(pad, sinkPad);
    gst_object_unref(sinkPad);
}

// Whether the loop's next segment seek may go out, shared with the GStreamer thread that sends
// it. A non-flushing seek sent while the pipeline is paused waits, holding the pipeline's state
// lock, on a streaming thread held in preroll: the next state change would then hang the main
// thread. Such a seek is skipped instead, and a flushing one is sent when play resumes.
struct LoopGate {
    std::mutex mutex;
    bool play = false;
    bool skipped = false;
};

constexpr const char* kLoopGateKey = "mantleshade-loop-gate";

LoopGate* loopGate(GstElement* pipeline) {
    return static_cast<LoopGate*>(g_object_get_data(G_OBJECT(pipeline), kLoopGateKey));
}

gboolean continuesUnlessAudio(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    if (!caps || gst_caps_get_size(caps) == 0) return TRUE;
    return !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

LoopWatchdog::Clock orSteadyClock(LoopWatchdog::Clock clock) {
    if (clock) return clock;
    return [] { return std::chrono::steady_clock::now(); };
}

}  // namespace

VideoPipeline::VideoPipeline(const QString& path, LoopWatchdog::Clock clock,
                             std::chrono::milliseconds stallTimeout)
    : path_(path), watchdog_(orSteadyClock(std::move(clock)), stallTimeout) {
    // Only regular files: opening a FIFO or a device would block the main thread.
    playable_ = QFileInfo(path).isFile() && initGStreamer();
    watchdogTimer_.setInterval(kWatchdogPeriodMs);
    connect(&watchdogTimer_, &QTimer::timeout, this, &VideoPipeline::checkWatchdog);
}

VideoPipeline::~VideoPipeline() {
    watchdogTimer_.stop();
    stop();
}

void VideoPipeline::addOutput(VideoView* view) {
    if (!view) return;
    if (std::find(outputs_.begin(), outputs_.end(), view) == outputs_.end())
        outputs_.emplace_back(view);
    {
        // A view added later starts with the picture the others show.
        std::lock_guard lock(frameMutex_);
        if (!pendingFrame_.isNull()) view->showFrame(pendingFrame_);
    }
    if (!pipeline_) start();
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

bool VideoPipeline::start() {
    if (pipeline_ || !playable_) return pipeline_ != nullptr;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* decode = gst_element_factory_make("decodebin", nullptr);
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!pipeline || !source || !decode || !convert || !sink) {
        for (GstElement* e : {pipeline, source, decode, convert, sink})
            if (e) gst_object_unref(e);
        if (!reportedError_)
            std::fprintf(stderr, "Video %s cannot play: GStreamer elements are missing\n",
                         qPrintable(path_));
        reportedError_ = true;
        playable_ = false;
        return false;
    }
    const QByteArray location = QFile::encodeName(path_);
    g_object_set(source, "location", location.constData(), nullptr);
    // Only the video is decoded: audio stops at its compressed caps and is never linked, so the
    // cover is muted at no cost.
    g_signal_connect(decode, "autoplug-continue", G_CALLBACK(continuesUnlessAudio), nullptr);
    // BGRx is QImage::Format_RGB32 on little-endian machines, xRGB on big-endian ones.
    GstCaps* frameCaps = gst_caps_from_string(G_BYTE_ORDER == G_LITTLE_ENDIAN
                                                  ? "video/x-raw,format=BGRx"
                                                  : "video/x-raw,format=xRGB");
    g_object_set(sink, "caps", frameCaps, "sync", TRUE, "enable-last-sample", FALSE,
                 "max-buffers", 2u, nullptr);
    gst_caps_unref(frameCaps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* s, gpointer self) {
        return static_cast<GstFlowReturn>(onNewSample(s, self));
    };
    callbacks.new_preroll = [](GstAppSink* s, gpointer self) {
        return static_cast<GstFlowReturn>(onNewPreroll(s, self));
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);

    gst_bin_add_many(GST_BIN(pipeline), source, decode, convert, sink, nullptr);
    if (!gst_element_link(source, decode) || !gst_element_link(convert, sink)) {
        gst_object_unref(pipeline);
        return false;
    }
    g_signal_connect(decode, "pad-added", G_CALLBACK(onPadAdded), convert);

    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(
        bus,
        [](GstBus* b, GstMessage* m, gpointer self) {
            return static_cast<GstBusSyncReply>(onBusMessage(b, m, self));
        },
        this, nullptr);
    gst_object_unref(bus);

    g_object_set_data_full(G_OBJECT(pipeline), kLoopGateKey, new LoopGate,
                           [](gpointer gate) { delete static_cast<LoopGate*>(gate); });
    pipeline_ = pipeline;
    prerolled_ = false;
    // Prerolls first; the first segment seek and PLAYING follow once it has.
    if (gst_element_set_state(pipeline_, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        if (!reportedError_)
            std::fprintf(stderr, "Video %s cannot play: the file could not be opened\n",
                         qPrintable(path_));
        reportedError_ = true;
        stop();
        return false;
    }
    return true;
}

void VideoPipeline::stop() {
    if (!pipeline_) return;
    {
        // After this no loop seek starts, and one under way has finished.
        LoopGate* gate = loopGate(pipeline_);
        std::lock_guard lock(gate->mutex);
        gate->play = false;
    }
    // NULL waits for the streaming threads to end; none of them waits on this thread.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline_);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    prerolled_ = false;
    ++generation_;
    std::lock_guard lock(frameMutex_);
    deliveryPosted_ = false;
}

void VideoPipeline::restart() {
    ++restarts_;
    if (restarts_ == 1)
        std::fprintf(stderr, "Video %s stopped moving; restarting its player\n",
                     qPrintable(path_));
    stop();
    start();
    watchdog_.start();
}

void VideoPipeline::applyPlayState() {
    const bool play = shouldPlay() && playable_;
    if (play && !watchdog_.isRunning()) {
        watchdog_.start();
        watchdogTimer_.start();
    } else if (!play) {
        watchdog_.stop();
        watchdogTimer_.stop();
    }
    if (play && !pipeline_ && !outputs_.empty()) start();
    // Until the first segment seek, the pipeline stays paused.
    if (!pipeline_ || !prerolled_) return;
    LoopGate* gate = loopGate(pipeline_);
    std::lock_guard lock(gate->mutex);
    gate->play = play;
    gst_element_set_state(pipeline_, play ? GST_STATE_PLAYING : GST_STATE_PAUSED);
    if (play && std::exchange(gate->skipped, false)) seekToStart(true);
}

void VideoPipeline::checkWatchdog() {
    if (!shouldPlay() || outputCount() == 0 || !playable_) return;
    if (watchdog_.isDue()) restart();
}

void VideoPipeline::seekToStart(bool flush) {
    if (pipeline_) seekToStart(pipeline_, flush);
}

void VideoPipeline::seekToStart(GstElement* pipeline, bool flush) {
    // A segment seek ends in SEGMENT_DONE instead of end of stream, and the next one joins on
    // without a flush, so the loop has no gap.
    auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_SEGMENT |
                                           (flush ? GST_SEEK_FLAG_FLUSH : GST_SEEK_FLAG_NONE));
    gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET, 0,
                     GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
}

int VideoPipeline::onBusMessage(GstBus*, GstMessage* message, void* data) {
    auto* self = static_cast<VideoPipeline*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ERROR:
        case GST_MESSAGE_EOS:
            break;
        case GST_MESSAGE_SEGMENT_DONE:
            // The pipeline's own message, once every stream is done. The next segment seek goes
            // out from a GStreamer thread right away, so the loop never waits on a busy main thread.
            if (!GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) return GST_BUS_DROP;
            gst_element_call_async(
                GST_ELEMENT(GST_MESSAGE_SRC(message)),
                [](GstElement* pipeline, gpointer) {
                    LoopGate* gate = loopGate(pipeline);
                    std::lock_guard lock(gate->mutex);
                    if (gate->play) {
                        seekToStart(pipeline, false);
                    } else {
                        gate->skipped = true;
                    }
                },
                nullptr, nullptr);
            break;
        case GST_MESSAGE_ASYNC_DONE:
            if (!GST_IS_PIPELINE(GST_MESSAGE_SRC(message))) return GST_BUS_DROP;
            break;
        default:
            return GST_BUS_DROP;
    }
    // Handled on the main thread, tagged with the run it belongs to.
    const std::uint64_t generation = self->generation_.load();
    gst_message_ref(message);
    QMetaObject::invokeMethod(
        self, [self, message, generation] { self->handleMessage(message, generation); },
        Qt::QueuedConnection);
    return GST_BUS_DROP;
}

void VideoPipeline::handleMessage(GstMessage* message, std::uint64_t generation) {
    if (generation != generation_.load() || !pipeline_) {
        gst_message_unref(message);
        return;
    }
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_ASYNC_DONE:
            if (!prerolled_) {
                prerolled_ = true;
                seekToStart(true);
                applyPlayState();
            }
            break;
        case GST_MESSAGE_SEGMENT_DONE:
            ++loops_;
            break;
        case GST_MESSAGE_EOS:
            // A demuxer that ignored the segment flag: start over the plain way.
            ++loops_;
            seekToStart(true);
            break;
        case GST_MESSAGE_ERROR: {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            if (!reportedError_)
                std::fprintf(stderr, "Video %s cannot play: %s\n", qPrintable(path_),
                             error ? error->message : "unknown error");
            reportedError_ = true;
            if (error) g_error_free(error);
            // Stopped; the watchdog tries again while the cover should play.
            stop();
            break;
        }
        default:
            break;
    }
    gst_message_unref(message);
}

int VideoPipeline::onNewSample(GstAppSink* sink, void* self) {
    static_cast<VideoPipeline*>(self)->takeFrame(sink, false);
    return GST_FLOW_OK;
}

int VideoPipeline::onNewPreroll(GstAppSink* sink, void* self) {
    static_cast<VideoPipeline*>(self)->takeFrame(sink, true);
    return GST_FLOW_OK;
}

void VideoPipeline::takeFrame(GstAppSink* sink, bool preroll) {
    GstSample* sample = preroll ? gst_app_sink_pull_preroll(sink) : gst_app_sink_pull_sample(sink);
    if (!sample) return;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    QImage image;
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
    std::lock_guard lock(frameMutex_);
    pendingFrame_ = std::move(image);
    if (deliveryPosted_) return;
    deliveryPosted_ = true;
    QMetaObject::invokeMethod(this, &VideoPipeline::deliverFrame, Qt::QueuedConnection);
}

void VideoPipeline::deliverFrame() {
    QImage frame;
    {
        std::lock_guard lock(frameMutex_);
        deliveryPosted_ = false;
        frame = pendingFrame_;
    }
    if (frame.isNull()) return;
    ++framesDelivered_;
    watchdog_.frameArrived();
    for (const QPointer<VideoView>& view : outputs_)
        if (view) view->showFrame(frame);
    emit frameDelivered();
}

}  // namespace desktop
