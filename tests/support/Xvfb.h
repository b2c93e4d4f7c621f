#pragma once

// A private X server for end-to-end tests: Xvfb on a free display number, two monitors made with
// `xrandr --setmonitor`, DISPLAY pointing at it for the fixture's lifetime, and root-window
// screenshots. Header-only; needs Xvfb, xrandr, xsetroot and ImageMagick's `import` on PATH
// (and openbox for startWindowManager).
//
//     testsupport::Xvfb x;                 // starts it, or x.ok() is false with x.error()
//     if (!x.ok()) GTEST_SKIP() << x.error();
//     QApplication app(...);               // connects to x.display()
//     auto shot = x.screenshot();          // whole root window
//     shot.pixel(10, 10)                   // {r, g, b}

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/XEmbedTray.h"

namespace testsupport {

// An RGB image, 8 bits per channel, rows top to bottom.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    bool valid() const {
        return width > 0 && height > 0 &&
               rgb.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    }
    // {0, 0, 0} outside the image.
    std::array<std::uint8_t, 3> pixel(int x, int y) const {
        if (!valid() || x < 0 || y < 0 || x >= width || y >= height) return {0, 0, 0};
        std::size_t at = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(x)) *
                         3;
        return {rgb[at], rgb[at + 1], rgb[at + 2]};
    }
    bool isBlack(int x, int y, int tolerance = 8) const {
        auto p = pixel(x, y);
        return p[0] <= tolerance && p[1] <= tolerance && p[2] <= tolerance;
    }
    // Whether every pixel of the rectangle, sampled every `step` pixels, is black.
    bool regionIsBlack(int x, int y, int w, int h, int step = 16) const {
        for (int yy = y; yy < y + h; yy += step)
            for (int xx = x; xx < x + w; xx += step)
                if (!isBlack(xx, yy)) return false;
        return true;
    }

    // The `w` x `h` rectangle at (x, y); black where it lies outside the image.
    Screenshot cropped(int x, int y, int w, int h) const {
        Screenshot part;
        if (w <= 0 || h <= 0) return part;
        part.width = w;
        part.height = h;
        part.rgb.reserve(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
        for (int yy = y; yy < y + h; ++yy)
            for (int xx = x; xx < x + w; ++xx) {
                const auto p = pixel(xx, yy);
                part.rgb.insert(part.rgb.end(), p.begin(), p.end());
            }
        return part;
    }

    // Writes binary PPM (P6), for a person to look at; answers whether it could.
    bool savePPM(const std::string& path) const {
        if (!valid()) return false;
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        out.write(reinterpret_cast<const char*>(rgb.data()),
                  static_cast<std::streamsize>(rgb.size()));
        return static_cast<bool>(out);
    }

    // Parses binary PPM (P6, maxval 255); an invalid Screenshot on anything else.
    static Screenshot fromPPM(const std::string& data) {
        Screenshot shot;
        std::size_t pos = 0;
        auto skipSpaceAndComments = [&] {
            while (pos < data.size()) {
                if (data[pos] == '#') {
                    while (pos < data.size() && data[pos] != '\n') ++pos;
                } else if (std::isspace(static_cast<unsigned char>(data[pos]))) {
                    ++pos;
                } else {
                    break;
                }
            }
        };
        auto readNumber = [&]() -> long {
            skipSpaceAndComments();
            long value = 0;
            std::size_t start = pos;
            while (pos < data.size() && std::isdigit(static_cast<unsigned char>(data[pos])) &&
                   pos - start < 7)
                value = value * 10 + (data[pos++] - '0');
            return pos == start ? -1 : value;
        };
        if (data.size() < 2 || data[0] != 'P' || data[1] != '6') return shot;
        pos = 2;
        long w = readNumber(), h = readNumber(), maxval = readNumber();
        if (w <= 0 || h <= 0 || maxval != 255 || pos >= data.size()) return shot;
        ++pos;  // the single whitespace before the pixels
        std::size_t need = static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3;
        if (data.size() - pos < need) return shot;
        shot.width = static_cast<int>(w);
        shot.height = static_cast<int>(h);
        shot.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                        data.begin() + static_cast<std::ptrdiff_t>(pos + need));
        return shot;
    }
};

class Xvfb {
  public:
    struct Monitor {
        std::string name;
        int x, y, width, height;
    };

    // The two monitors the tests use: 1920x1080 at (0,0) and 1280x1024 at (1920,0).
    static std::vector<Monitor> defaultMonitors() {
        return {{"MS-LEFT", 0, 0, 1920, 1080}, {"MS-RIGHT", 1920, 0, 1280, 1024}};
    }

    // Starts the server and makes the monitors; on failure ok() is false and error() says why.
    explicit Xvfb(std::vector<Monitor> monitors = defaultMonitors(),
                  std::string screenGeometry = "3200x1080x24",
                  std::chrono::milliseconds timeout = std::chrono::seconds(20))
        : monitors_(std::move(monitors)) {
        if (const char* old = ::getenv("DISPLAY")) previousDisplay_ = old;
        if (const char* old = ::getenv("QT_QPA_PLATFORM")) previousPlatform_ = old;
        // Qt applications made during the fixture's life use this server.
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        start(screenGeometry, timeout);
    }

    ~Xvfb() {
        tray_.reset();
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            int status = 0;
            while (::waitpid(pid_, &status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() > deadline) {
                    ::kill(pid_, SIGKILL);
                    ::waitpid(pid_, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (previousDisplay_)
            ::setenv("DISPLAY", previousDisplay_->c_str(), 1);
        else
            ::unsetenv("DISPLAY");
        if (previousPlatform_)
            ::setenv("QT_QPA_PLATFORM", previousPlatform_->c_str(), 1);
        else
            ::unsetenv("QT_QPA_PLATFORM");
    }

    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // A stand-in tray is there from the start, as on a desktop with one; these take it away and
    // bring it (back).
    void removeTray() { tray_.reset(); }
    bool provideTray() {
        tray_ = std::make_unique<XEmbedTray>(display());
        return tray_->ok();
    }
    XEmbedTray* tray() const { return tray_.get(); }
    int displayNumber() const { return number_; }
    // ":N"
    std::string display() const { return ":" + std::to_string(number_); }
    const std::vector<Monitor>& monitors() const { return monitors_; }

    // Runs `command` through /bin/sh with DISPLAY set; answers its standard output, and its exit
    // status through `status` (-1 when it could not run).
    std::string run(const std::string& command, int* status = nullptr) const {
        std::string full = "DISPLAY=" + display() + " " + command;
        std::string out;
        FILE* pipe = ::popen(full.c_str(), "r");
        if (!pipe) {
            if (status) *status = -1;
            return out;
        }
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        int rc = ::pclose(pipe);
        if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return out;
    }

    // A white root window, so that a black cover differs from no cover. Needs xsetroot.
    bool paintRootWhite() const {
        int status = -1;
        run("xsetroot -solid white >/dev/null 2>&1", &status);
        return status == 0;
    }

    // Starts openbox on this server, as users run it, and waits until it manages windows; false
    // when it is not installed or did not come up. It ends with the server.
    bool startWindowManager() const {
        if (std::system("command -v openbox >/dev/null 2>&1") != 0) return false;
        run("openbox --sm-disable >/dev/null 2>&1 &");
        int status = -1;
        run("sh -c 'for i in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | "
            "grep -q \"window id\" && exit 0; sleep 0.1; done; exit 1'",
            &status);
        return status == 0;
    }

    // The whole root window. Invalid when the capture failed.
    Screenshot screenshot() const {
        int status = 0;
        std::string data = run("import -window root -depth 8 ppm:- 2>/dev/null", &status);
        if (status != 0) return {};
        return Screenshot::fromPPM(data);
    }

  private:
    std::unique_ptr<XEmbedTray> tray_;

    void fail(std::string why) {
        ok_ = false;
        error_ = std::move(why);
    }

    void start(const std::string& geometry, std::chrono::milliseconds timeout) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) return fail("pipe failed");
        pid_t pid = ::fork();
        if (pid < 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return fail("fork failed");
        }
        if (pid == 0) {
            // Child: the display number is written to fd 3 once the server accepts clients.
            ::dup2(fds[1], 3);
            int devnull = ::open("/dev/null", O_RDWR);
            if (devnull >= 0) {
                ::dup2(devnull, 0);
                ::dup2(devnull, 1);
                ::dup2(devnull, 2);
            }
            ::setpgid(0, 0);  // keeps a ^C in the test's terminal from reaching it first
            ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", geometry.c_str(),
                     "-noreset", "-nolisten", "tcp", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        pid_ = pid;
        ::close(fds[1]);

        auto deadline = std::chrono::steady_clock::now() + timeout;
        std::string text;
        while (text.find('\n') == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fds[0], POLLIN, 0};
            int r = ::poll(&p, 1, static_cast<int>(left.count()));
            if (r <= 0) continue;
            char buffer[32];
            ssize_t n = ::read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        if (text.empty() || text.find('\n') == std::string::npos)
            return fail("Xvfb did not start (is it installed?)");
        number_ = std::atoi(text.c_str());
        ::setenv("DISPLAY", display().c_str(), 1);

        if (!acceptsConnections(deadline)) return fail("Xvfb does not accept connections");

        // The first monitor takes over the server's one output, so only our monitors remain.
        bool first = true;
        for (const Monitor& m : monitors_) {
            // Millimetres for 96 dpi.
            auto mm = [](int px) { return std::to_string(px * 254 / 960); };
            std::string spec = std::to_string(m.width) + "/" + mm(m.width) + "x" +
                               std::to_string(m.height) + "/" + mm(m.height) + "+" +
                               std::to_string(m.x) + "+" + std::to_string(m.y);
            int status = 0;
            run("xrandr --setmonitor " + m.name + " " + spec + (first ? " screen" : " none") +
                    " >/dev/null 2>&1",
                &status);
            if (status != 0) return fail("xrandr --setmonitor " + m.name + " failed");
            first = false;
        }
        if (!provideTray()) return fail("the stand-in tray could not take its selection");
        ok_ = true;
    }

    bool acceptsConnections(std::chrono::steady_clock::time_point deadline) const {
        std::string path = "/tmp/.X11-unix/X" + std::to_string(number_);
        while (std::chrono::steady_clock::now() < deadline) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) return false;
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
            bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
            ::close(fd);
            if (connected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::vector<Monitor> monitors_;
    std::optional<std::string> previousDisplay_;
    std::optional<std::string> previousPlatform_;
    pid_t pid_ = -1;
    int number_ = -1;
    bool ok_ = false;
    std::string error_;
};

}  // namespace testsupport
