#include "bench/video_soak/Clip.h"

#include <gst/gst.h>

#include <cstdio>

namespace videosoak {

bool makeClip(const ClipFormat& format, const std::string& path, int width, int height) {
    const std::string description =
        "videotestsrc num-buffers=50 pattern=ball ! video/x-raw,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) + ",framerate=25/1 ! videoconvert ! " + format.encoder +
        " ! filesink location=\"" + path + "\"";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        std::fprintf(stderr, "video-soak: cannot make the %s clip: %s\n", format.name.c_str(),
                     error ? error->message : "?");
        if (error) g_error_free(error);
        if (pipeline) gst_object_unref(pipeline);
        return false;
    }
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, 60 * GST_SECOND, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
    if (!ok)
        std::fprintf(stderr, "video-soak: cannot make the %s clip: %s\n", format.name.c_str(),
                     message ? "the pipeline failed" : "timed out");
    if (message) gst_message_unref(message);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return ok;
}

}  // namespace videosoak
