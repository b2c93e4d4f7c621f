#include <cstdio>
#include <string>

#include "app/MantleshadeApp.h"
#include "platform/desktop/DisplayEnvironment.h"
#include "platform/desktop/PipelineRun.h"
#include "platform/desktop/SingleInstance.h"

#ifndef MANTLESHADE_APP_ID
#define MANTLESHADE_APP_ID "com.quorvanesoftware.mantleshade"
#endif

int main(int argc, char** argv) {
    // Before any thread starts, so that no thread keeps a malloc arena of its own.
    desktop::PipelineRun::shareOneMallocArena();
    // Without a display Qt aborts in its platform plugin: say what is missing instead.
    if (!desktop::hasDisplay(argc, argv)) {
        std::fputs(
            "mantleshade: no display: DISPLAY and WAYLAND_DISPLAY are unset; start it inside a "
            "desktop session\n",
            stderr);
        return 1;
    }
    // A display that is named but cannot be opened would end in Qt's abort as well.
    if (const std::string problem = desktop::displayProblem(argc, argv); !problem.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    // One running copy per user and display; a second launch shows the first one's Preferences.
    desktop::SingleInstance instance(MANTLESHADE_APP_ID, desktop::displayKey());
    std::string problem;
    switch (instance.start(&problem)) {
        case desktop::SingleInstance::Outcome::handedOver:
            std::puts("Mantleshade is already running; showing its Preferences.");
            return 0;
        case desktop::SingleInstance::Outcome::unreachable:
            std::fprintf(stderr, "mantleshade: %s\n", problem.c_str());
            return 1;
        case desktop::SingleInstance::Outcome::primary:
            if (!problem.empty()) std::fprintf(stderr, "mantleshade: %s\n", problem.c_str());
            break;
    }
    return mantleshade::MantleshadeApp::main(argc, argv, &instance);
}
