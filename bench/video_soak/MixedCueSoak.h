#pragma once

// The mixed-cue soak (bench_video_soak --mixed): the real application on a private X server
// with two monitors, fed an installation's cue mix over OSC, its memory read once a minute.

#include <string>

namespace videosoak {

struct MixedCueOptions {
    int minutes = 0;
    unsigned seed = 1;
    std::string app;  // the mantleshade binary
    std::string log;  // where to keep the application's output; empty: not kept
};

// Prints a line per minute and the verdict; answers the exit status (0 once the run completed,
// 1 when it could not run or the application ended on its own).
int runMixedCueSoak(const MixedCueOptions& options);

}  // namespace videosoak
