#include "platform/desktop/DisplayEnvironment.h"

#include <cstdlib>
#include <cstring>

namespace desktop {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Anything but letters, digits, '.', '_' and '-' becomes '_' (no '/' may reach a file name).
std::string fileNameSafe(const std::string& text) {
    std::string safe = text;
    for (char& c : safe) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        if (!plain) c = '_';
    }
    return safe;
}

}  // namespace

bool hasDisplay(int argc, char** argv) {
    if (!environment("QT_QPA_PLATFORM").empty()) return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    return !environment("DISPLAY").empty() || !environment("WAYLAND_DISPLAY").empty();
}

std::string displayKey() {
    std::string x11 = environment("DISPLAY");
    if (!x11.empty()) {
        const std::size_t colon = x11.rfind(':');
        if (colon != std::string::npos) {
            const std::size_t dot = x11.find('.', colon);
            if (dot != std::string::npos) x11.erase(dot);
        }
        return fileNameSafe(x11);
    }
    const std::string wayland = environment("WAYLAND_DISPLAY");
    if (!wayland.empty()) return fileNameSafe(wayland);
    const std::string platform = environment("QT_QPA_PLATFORM");
    return fileNameSafe(platform.substr(0, platform.find(':')));
}

}  // namespace desktop
