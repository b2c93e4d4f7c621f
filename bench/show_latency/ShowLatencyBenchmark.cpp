// Latency of "/mantleshade/blackout": from the datagram's send to the moment the middle of every
// monitor reads black in the X server's framebuffer (the covers are mapped and painted).
// Runs build/bin/mantleshade on its own Xvfb with two monitors and a white root window.
//
//     bench_show_latency                      # 100 timed runs; p50_ms and p95_ms counters

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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
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

        port_ = freePort();
        std::filesystem::create_directories(dir_ / "mantleshade");
        std::ofstream(dir_ / "mantleshade" / "defaults.json") << "{\"oscPort\": " << port_ << "}\n";

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
        sender_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
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
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (sender_ >= 0) ::close(sender_);
        if (x_) xcb_disconnect(x_);
    }

    void send(const std::string& address) {
        const auto bytes = oscMessage(address);
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
    bool isBlack(int x, int y) {
        auto cookie =
            xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root,
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 1, 1, ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(x_, cookie, nullptr);
        if (!reply) return false;
        const std::uint8_t* p = xcb_get_image_data(reply);
        const bool black =
            xcb_get_image_data_length(reply) >= 3 && p[0] < 8 && p[1] < 8 && p[2] < 8;
        std::free(reply);
        return black;
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
