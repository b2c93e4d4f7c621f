#pragma once

// Clips made at test time with GStreamer's own elements.

#include <gst/gst.h>

#include <string>

namespace testclips {

// Runs `description` (gst-launch syntax) to its end; false on any error.
inline bool run(const std::string& description) {
    gst_init(nullptr, nullptr);
    GError* error = nullptr;
    GstElement* make = gst_parse_launch(description.c_str(), &error);
    if (error) g_error_free(error);
    if (!make) return false;
    gst_element_set_state(make, GST_STATE_PLAYING);
    GstMessage* done = gst_bus_timed_pop_filtered(
        GST_ELEMENT_BUS(make), 30 * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    gst_element_set_state(make, GST_STATE_NULL);
    gst_object_unref(make);
    if (done) gst_message_unref(done);
    return ok;
}

// `frames` frames of a moving ball at `rate` (a caps fraction, "25/1"), encoded by `encoder`
// ("jpegenc ! avimux", "x264enc ! mp4mux"), written to `path`.
inline bool write(const std::string& path, int frames, const std::string& rate,
                  const std::string& encoder, int width = 320, int height = 180) {
    return run("videotestsrc num-buffers=" + std::to_string(frames) +
               " pattern=ball ! video/x-raw,format=I420,width=" + std::to_string(width) +
               ",height=" + std::to_string(height) + ",framerate=" + rate + " ! " + encoder +
               " ! filesink location=\"" + path + "\"");
}

inline const char* const kMjpegAvi = "jpegenc ! avimux";
inline const char* const kH264Mp4 = "x264enc speed-preset=ultrafast ! mp4mux";

}  // namespace testclips
