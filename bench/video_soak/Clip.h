#pragma once

// Short looping clips for the soaks, made with GStreamer at start so that no media ship with the
// benchmark.

#include <string>

namespace videosoak {

struct ClipFormat {
    std::string name;
    std::string encoder;  // gst-launch syntax, after the raw test pattern
    std::string extension;
};

// A 2 s, 25 fps clip of a moving ball; false (with a line on stderr) when an element is missing
// or encoding fails. Needs gst_init.
bool makeClip(const ClipFormat& format, const std::string& path, int width = 640, int height = 360);

}  // namespace videosoak
