// Test helper: another X client that holds the keyboard. Grabs it on the root window, prints
// "held" once the grab is in force, keeps it until its standard input ends, then lets go and
// prints "released". Exits 1 when the keyboard cannot be taken.
#include <X11/Xlib.h>

#include <unistd.h>
#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    int status = GrabNotViewable;
    for (int attempt = 0; attempt < 100 && status != GrabSuccess; ++attempt) {
        status = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                               GrabModeAsync, CurrentTime);
        if (status != GrabSuccess) usleep(20000);
    }
    if (status != GrabSuccess) return 1;
    XSync(display, False);
    std::printf("held\n");
    std::fflush(stdout);
    char buffer[64];
    while (read(0, buffer, sizeof buffer) > 0) {
    }
    XUngrabKeyboard(display, CurrentTime);
    XSync(display, False);
    std::printf("released\n");
    std::fflush(stdout);
    XCloseDisplay(display);
    return 0;
}
