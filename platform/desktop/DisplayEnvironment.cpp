#include "platform/desktop/DisplayEnvironment.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <QDir>
#include <QLibraryInfo>

// Last: Xlib's macros (Status, Bool) break Qt's headers.
#include <X11/Xlib.h>

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

// The platform named on the command line or in QT_QPA_PLATFORM, without its options.
std::string namedPlatform(int argc, char** argv) {
    std::string platform = environment("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            platform = argv[i + 1];
    }
    return platform.substr(0, platform.find(':'));
}

bool x11DisplayOpens(const std::string& name) {
    Display* display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

bool waylandPluginInstalled() {
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
    return !platforms.entryList({"libqwayland*"}, QDir::Files).isEmpty();
}

bool waylandSocketAnswers(const std::string& name) {
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        const std::string runtime = environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) return false;
        path = runtime + "/" + name;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string displayProblem(int argc, char** argv) {
    const std::string platform = namedPlatform(argc, argv);
    if (!platform.empty() && platform != "xcb") return {};
    const std::string x11 = environment("DISPLAY");
    const std::string wayland = environment("WAYLAND_DISPLAY");
    if (!x11.empty()) {
        if (x11DisplayOpens(x11)) return {};
        // Qt tries Wayland first when asked to, but xcb when nothing is named.
        return "mantleshade: no display: cannot open DISPLAY=" + x11 +
               " (no X server answers there); start it inside a desktop session";
    }
    if (!wayland.empty() && platform.empty()) {
        if (!waylandPluginInstalled())
            return "mantleshade: no display: cannot open WAYLAND_DISPLAY=" + wayland +
                   " (Qt's Wayland platform plug-in is not installed) and DISPLAY is unset; "
                   "start it inside an X11 session";
        if (!waylandSocketAnswers(wayland))
            return "mantleshade: no display: cannot open WAYLAND_DISPLAY=" + wayland +
                   " (no Wayland compositor answers there); start it inside a desktop session";
        return {};
    }
    return "mantleshade: no display: DISPLAY is unset; start it inside a desktop session";
}

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
