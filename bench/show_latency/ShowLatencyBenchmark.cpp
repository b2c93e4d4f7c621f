// Latency of "/mantleshade/blackout": from the datagram's send to the moment the middle of every
// monitor reads black in the X server's framebuffer (the covers are mapped and painted).
// And the time a quit takes with a looping video cover up on both monitors: from SIGTERM to the
// process's exit (target: every one of 50 quits within 300 ms).
// Runs build/bin/mantleshade on its own Xvfb with two monitors and a white root window.
//
//     bench_show_latency                      # p50_ms, p95_ms and max_ms counters

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// OSC messages without arguments: the address padded to 4 bytes, then the type tags ",".
std::vector<std::uint8_t> oscMessage(const std::string& address) {
    std::vector<std::uint8_t> out(address.begin(), address.end());
    do out.push_back(0);
    while (out.size() % 4 != 0);
    out.insert(out.end(), {std::uint8_t{','}, 0, 0, 0});
    return out;
}

class Session {
  public:
    bool start(std::string& why) {
        xvfb_ = std::make_unique<testsupport::Xvfb>();
        if (!xvfb_->ok()) return fail(why, xvfb_->error());
        x_ = xcb_connect(xvfb_->display().c_str(), nullptr);
        if (xcb_connection_has_error(x_)) return fail(why, "cannot connect to Xvfb");
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;
        const std::uint32_t white = screen_->white_pixel;
        xcb_change_window_attributes(x_, screen_->root, XCB_CW_BACK_PIXEL, &white);
        xcb_clear_area(x_, 0, screen_->root, 0, 0, 0, 0);
        xcb_flush(x_);

        sender_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        return launch(why);
    }

    // Starts the application (again) and waits until it answers OSC.
    bool launch(std::string& why) {
        port_ = freePort();
        std::filesystem::create_directories(dir_ / "mantleshade");
        std::ofstream(dir_ / "mantleshade" / "defaults.json")
            << "{\"oscPort\": " << port_ << ", \"overlays\": \"[{\\\"id\\\": "
            << "\\\"6F1C2A52-2D1B-4C55-9F43-3E0F7A1E0001\\\", \\\"name\\\": \\\"Video\\\", "
            << "\\\"useSameMediaForAllScreens\\\": true, \\\"screenMedia\\\": {}, "
            << "\\\"sharedMedia\\\": {\\\"path\\\": \\\"file://" << MS_TEST_DATA_DIR
            << "/loop-160x90.mp4\\\"}}]\"}\n";

        pid_ = ::fork();
        if (pid_ == 0) {
            const int out = ::open((dir_ / "out.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::execl(MS_MANTLESHADE_BINARY, "mantleshade", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        // Ready once it answers: before launching finishes OSC has no effect.
        const auto deadline = Clock::now() + 30s;
        while (Clock::now() < deadline) {
            send("/mantleshade/blackout");
            if (waitUntil(true, 200ms)) {
                send("/mantleshade/clear");
                if (waitUntil(false, 5s)) return true;
            }
        }
        return fail(why, "the application did not answer OSC");
    }

    ~Session() {
        quit();
        if (sender_ >= 0) ::close(sender_);
        if (x_) xcb_disconnect(x_);
    }

    // SIGTERM, then waits for the exit; answers the time it took (zero when nothing ran).
    std::chrono::nanoseconds quit() {
        if (pid_ <= 0) return {};
        const auto start = Clock::now();
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return Clock::now() - start;
    }

    void send(const std::string& address, std::int32_t argument) {
        auto bytes = oscMessage(address);
        bytes[bytes.size() - 3] = 'i';
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(argument) >> shift));
        sendBytes(bytes);
    }

    // Whether the middle of every monitor shows neither the white root nor black.
    bool showsVideo() {
        for (const auto& m : xvfb_->monitors()) {
            auto p = pixel(m.x + m.width / 2, m.y + m.height / 2);
            if (!p || ((*p)[0] > 247 && (*p)[1] > 247 && (*p)[2] > 247) ||
                ((*p)[0] < 8 && (*p)[1] < 8 && (*p)[2] < 8))
                return false;
        }
        return true;
    }

    void send(const std::string& address) { sendBytes(oscMessage(address)); }

    void sendBytes(const std::vector<std::uint8_t>& bytes) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::sendto(sender_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }

    // Polls the middle pixel of each monitor until all are black (or all are not).
    bool waitUntil(bool covered, std::chrono::nanoseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        do {
            bool all = true;
            for (const auto& m : xvfb_->monitors()) {
                if (isBlack(m.x + m.width / 2, m.y + m.height / 2) != covered) {
                    all = false;
                    break;
                }
            }
            if (all) return true;
        } while (Clock::now() < deadline);
        return false;
    }

  private:
    static bool fail(std::string& why, std::string text) {
        why = std::move(text);
        return false;
    }
    static std::uint16_t freePort() {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        return ntohs(a.sin_port);
    }
    // Blue, green, red of one pixel of the root window.
    std::optional<std::array<std::uint8_t, 3>> pixel(int x, int y) {
        auto cookie =
            xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root,
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 1, 1, ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(x_, cookie, nullptr);
        if (!reply) return std::nullopt;
        std::optional<std::array<std::uint8_t, 3>> result;
        const std::uint8_t* p = xcb_get_image_data(reply);
        if (xcb_get_image_data_length(reply) >= 3) result = std::array{p[0], p[1], p[2]};
        std::free(reply);
        return result;
    }
    bool isBlack(int x, int y) {
        auto p = pixel(x, y);
        return p && (*p)[0] < 8 && (*p)[1] < 8 && (*p)[2] < 8;
    }

    testsupport::TempDir dir_{"ms-bench"};
    std::unique_ptr<testsupport::Xvfb> xvfb_;
    xcb_connection_t* x_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
    int sender_ = -1;
};

Session* gSession = nullptr;

double percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(index, samples.size() - 1)];
}

void BM_BlackoutToCoversExposed(benchmark::State& state) {
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        gSession->send("/mantleshade/blackout");
        if (!gSession->waitUntil(true, 5s)) {
            state.SkipWithError("the covers did not appear within 5 s");
            break;
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
        gSession->send("/mantleshade/clear");
        if (!gSession->waitUntil(false, 5s)) {
            state.SkipWithError("the covers did not go within 5 s");
            break;
        }
    }
    state.counters["p50_ms"] = percentile(samples, 0.50);
    state.counters["p95_ms"] = percentile(samples, 0.95);
    state.counters["max_ms"] =
        samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
}
BENCHMARK(BM_BlackoutToCoversExposed)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A quit with a looping video cover up on both monitors, from SIGTERM to the exit. A fresh
// application for each quit (its start and the show are not timed).
void BM_QuitWithVideoCover(benchmark::State& state) {
    std::vector<double> samples;
    for (auto _ : state) {
        std::string why;
        if (!gSession->launch(why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        gSession->send("/mantleshade/show", 1);
        const auto deadline = Clock::now() + 10s;
        while (!gSession->showsVideo() && Clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        if (!gSession->showsVideo()) {
            state.SkipWithError("the video cover did not appear within 10 s");
            break;
        }
        std::this_thread::sleep_for(300ms);  // playing for a while, as a user would quit
        const std::chrono::duration<double> elapsed = gSession->quit();
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
    }
    state.counters["p50_ms"] = percentile(samples, 0.50);
    state.counters["p95_ms"] = percentile(samples, 0.95);
    state.counters["max_ms"] =
        samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    state.counters["over_300ms"] = static_cast<double>(
        std::count_if(samples.begin(), samples.end(), [](double ms) { return ms > 300.0; }));
}
BENCHMARK(BM_QuitWithVideoCover)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Session session;
    std::string why;
    if (!session.start(why)) {
        std::fprintf(stderr, "bench_show_latency: %s\n", why.c_str());
        return 1;
    }
    gSession = &session;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
