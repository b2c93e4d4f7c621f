// Latency of a show: from the datagram's send to the moment the middle of every monitor reads the
// cover's colour in the X server's framebuffer (the covers are mapped and painted). Two rows:
// "/mantleshade/blackout" (black), and "/mantleshade/show 2" with a 1600x900 PNG cover (the
// image's centre colour, which aspect fit puts at the middle of either monitor).
// And the time a quit takes with a looping video cover up on both monitors: from SIGTERM to the
// process's exit (target: every one of 50 quits within 300 ms).
// And a burst of show cues switching among three video covers, unpaced (10, 100 or 2,000 of them),
// then the image cue: from the image cue's send to its pixels on every monitor (target: within
// 100 ms after any burst), and from the burst's first send.
// Runs build/bin/mantleshade on its own Xvfb with two monitors and a white root window.
//
//     bench_show_latency                      # p50_ms, p95_ms and max_ms counters

#include <signal.h>
#include <xcb/xcb.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QColor>
#include <QImage>
#include <QPainter>

#include "tests/support/Bytes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackNet.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Rgb {
    int r, g, b;
};
// The image cover's centre; the rest of it is other colours, so only a painted cover matches.
constexpr Rgb kImageCentre{40, 170, 90};

bool isBlack(Rgb c) {
    return c.r < 8 && c.g < 8 && c.b < 8;
}
bool isWhite(Rgb c) {
    return c.r > 247 && c.g > 247 && c.b > 247;
}
bool isImageCentre(Rgb c) {
    return std::abs(c.r - kImageCentre.r) <= 12 && std::abs(c.g - kImageCentre.g) <= 12 &&
           std::abs(c.b - kImageCentre.b) <= 12;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + '"';
}

// A 1600x900 picture: a vertical gradient with a band of other colours, the centre block in
// kImageCentre. Compressible, but a real decode and scale.
bool writeCoverImage(const std::filesystem::path& path) {
    QImage image(1600, 900, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = qRgb(200 - y / 6, (x * 255) / 1600, 120 + y / 10);
    }
    QPainter painter(&image);
    painter.fillRect(QRect(0, 300, 1600, 60), QColor(230, 60, 40));
    painter.fillRect(QRect(600, 350, 400, 200),
                     QColor(kImageCentre.r, kImageCentre.g, kImageCentre.b));
    painter.end();
    return image.save(QString::fromStdString(path.string()), "PNG");
}

class Session {
  public:
    bool start(std::string& why) {
        xvfb_ = std::make_unique<testsupport::Xvfb>();
        if (!xvfb_->ok()) return fail(why, xvfb_->error());
        if (!xvfb_->paintRootWhite()) return fail(why, "cannot paint the root window white");
        x_ = xcb_connect(xvfb_->display().c_str(), nullptr);
        if (xcb_connection_has_error(x_)) return fail(why, "cannot connect to Xvfb");
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data;

        image_ = dir_ / "cover.png";
        if (!writeCoverImage(image_)) return fail(why, "cannot write the cover image");
        // A third video: the first one under another name (a pipeline is shared per file).
        std::error_code error;
        std::filesystem::copy_file(std::string(MS_TEST_DATA_DIR) + "/loop-160x90.mp4",
                                   dir_ / "copy.mp4", error);
        if (error) return fail(why, "cannot copy the third video");
        return launch(why);
    }

    // Starts the application (again) and waits until it answers OSC. A running one quits first:
    // a second instance would only hand over to it and exit.
    bool launch(std::string& why) {
        quit();
        port_ = mstest::freeUdpPort();
        // Covers on every screen: a looping video, the image, then two more videos. The list is
        // JSON text under "overlays".
        const std::string list =
            R"([{"id":"6F1C2A52-2D1B-4C55-9F43-3E0F7A1E0001","name":"Video",)"
            R"("useSameMediaForAllScreens":true,"screenMedia":{},"sharedMedia":{"path":"file://)" +
            std::string(MS_TEST_DATA_DIR) +
            R"(/loop-160x90.mp4"}},)"
            R"({"id":"6F9619FF-8B86-D011-B42D-00C04FC964FF","sharedMedia":{"path":"file://)" +
            image_.string() +
            R"("},"screenMedia":{},"useSameMediaForAllScreens":true,"name":"bench"},)"
            R"({"id":"6F1C2A52-2D1B-4C55-9F43-3E0F7A1E0003","name":"Video 2",)"
            R"("useSameMediaForAllScreens":true,"screenMedia":{},"sharedMedia":{"path":"file://)" +
            std::string(MS_TEST_DATA_DIR) +
            R"(/loop-160x120.mov"}},)"
            R"({"id":"6F1C2A52-2D1B-4C55-9F43-3E0F7A1E0004","name":"Video 3",)"
            R"("useSameMediaForAllScreens":true,"screenMedia":{},"sharedMedia":{"path":"file://)" +
            (dir_ / "copy.mp4").string() + R"("}}])";
        std::filesystem::create_directories(dir_ / "mantleshade");
        std::ofstream(dir_ / "mantleshade" / "defaults.json")
            << "{\"oscPort\": " << port_ << ", \"overlays\": " << jsonString(list) << "}\n";

        app_ = std::make_unique<mstest::ChildProcess>(
            std::vector<std::string>{"mantleshade"},
            mstest::ChildProcess::Options{
                {{"XDG_CONFIG_HOME", dir_.path().string()}, {"QT_QPA_PLATFORM", "xcb"}},
                dir_ / "out.log",
                MS_MANTLESHADE_BINARY});
        // Ready once it answers: before launching finishes OSC has no effect.
        const auto deadline = Clock::now() + 30s;
        while (Clock::now() < deadline) {
            send("/mantleshade/blackout");
            if (waitUntil(isBlack, 200ms)) {
                send("/mantleshade/clear");
                if (waitUntil(isWhite, 5s)) return true;
            }
        }
        return fail(why, "the application did not answer OSC");
    }

    ~Session() {
        quit();
        if (x_) xcb_disconnect(x_);
    }

    // SIGTERM, then waits for the exit; answers the time it took (zero when nothing ran).
    std::chrono::nanoseconds quit() {
        if (!app_) return {};
        const auto start = Clock::now();
        app_->signal(SIGTERM);
        app_->wait();
        app_.reset();
        return Clock::now() - start;
    }

    // Whether the middle of every monitor shows neither the white root nor black.
    bool showsVideo() {
        for (const auto& m : xvfb_->monitors()) {
            const Rgb c = pixel(m.x + m.width / 2, m.y + m.height / 2);
            if (c.r < 0 || isWhite(c) || isBlack(c)) return false;
        }
        return true;
    }

    // Whether the application's socket has taken every datagram sent to it.
    bool socketDrained() const { return mstest::udpReceiveQueue(port_) == 0; }

    void send(const std::string& address, std::optional<std::int32_t> arg = std::nullopt) {
        sender_.sendTo(port_,
                       arg ? mstest::oscMessage(address, {*arg}) : mstest::oscMessage(address));
    }

    // Polls the middle pixel of each monitor until `wanted` holds for all of them.
    bool waitUntil(bool (*wanted)(Rgb), std::chrono::nanoseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        do {
            bool all = true;
            for (const auto& m : xvfb_->monitors()) {
                if (!wanted(pixel(m.x + m.width / 2, m.y + m.height / 2))) {
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
    // The root window's pixel (a 24-bit TrueColor server: bytes blue, green, red).
    Rgb pixel(int x, int y) {
        auto cookie =
            xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root,
                          static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), 1, 1, ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(x_, cookie, nullptr);
        if (!reply) return {-100, -100, -100};
        const std::uint8_t* p = xcb_get_image_data(reply);
        Rgb c{-100, -100, -100};
        if (xcb_get_image_data_length(reply) >= 3) c = {p[2], p[1], p[0]};
        std::free(reply);
        return c;
    }

    testsupport::TempDir dir_{"ms-bench"};
    std::filesystem::path image_;
    std::unique_ptr<testsupport::Xvfb> xvfb_;
    xcb_connection_t* x_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::uint16_t port_ = 0;
    std::unique_ptr<mstest::ChildProcess> app_;
    mstest::PlainSocket sender_{AF_INET};
};

Session* gSession = nullptr;

double percentile(std::vector<double> samples, double p) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[std::min(index, samples.size() - 1)];
}

// Times `count` shows of one kind: send, wait for the colour, clear, wait for the white root.
void timeShows(benchmark::State& state, const std::string& address, std::optional<std::int32_t> arg,
               bool (*shown)(Rgb)) {
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        gSession->send(address, arg);
        if (!gSession->waitUntil(shown, 5s)) {
            state.SkipWithError("the covers did not appear within 5 s");
            break;
        }
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
        gSession->send("/mantleshade/clear");
        if (!gSession->waitUntil(isWhite, 5s)) {
            state.SkipWithError("the covers did not go within 5 s");
            break;
        }
    }
    state.counters["p50_ms"] = percentile(samples, 0.50);
    state.counters["p95_ms"] = percentile(samples, 0.95);
    state.counters["max_ms"] =
        samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
}

void BM_BlackoutToCoversExposed(benchmark::State& state) {
    timeShows(state, "/mantleshade/blackout", std::nullopt, isBlack);
}
BENCHMARK(BM_BlackoutToCoversExposed)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_ImageCoverToCoversExposed(benchmark::State& state) {
    timeShows(state, "/mantleshade/show", 2, isImageCentre);
}
BENCHMARK(BM_ImageCoverToCoversExposed)
    ->Iterations(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// A burst of `state.range(0)` show cues switching among the three video covers, sent unpaced,
// then the image cue. The image cue is sent once the burst is off the socket (so that a full
// receive queue cannot drop it); its pixels are timed from its send and from the burst's start.
void BM_ImageCueAfterBurst(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    const std::int32_t videos[] = {1, 3, 4};
    std::vector<double> samples, fromBurst;
    for (auto _ : state) {
        const auto burst = Clock::now();
        for (int i = 0; i < count; ++i) gSession->send("/mantleshade/show", videos[i % 3]);
        const auto drainDeadline = Clock::now() + 10s;
        while (!gSession->socketDrained() && Clock::now() < drainDeadline)
            std::this_thread::sleep_for(200us);
        const auto start = Clock::now();
        gSession->send("/mantleshade/show", 2);
        if (!gSession->waitUntil(isImageCentre, 60s)) {
            state.SkipWithError("the image cover did not appear within 60 s");
            break;
        }
        const auto end = Clock::now();
        const std::chrono::duration<double> elapsed = end - start;
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1000.0);
        fromBurst.push_back(std::chrono::duration<double, std::milli>(end - burst).count());
        gSession->send("/mantleshade/clear");
        if (!gSession->waitUntil(isWhite, 30s)) {
            state.SkipWithError("the covers did not go within 30 s");
            break;
        }
    }
    state.counters["p50_ms"] = percentile(samples, 0.50);
    state.counters["p95_ms"] = percentile(samples, 0.95);
    state.counters["max_ms"] =
        samples.empty() ? 0 : *std::max_element(samples.begin(), samples.end());
    state.counters["burst_p50_ms"] = percentile(fromBurst, 0.50);
    state.counters["over_100ms"] = static_cast<double>(
        std::count_if(samples.begin(), samples.end(), [](double ms) { return ms > 100.0; }));
}
BENCHMARK(BM_ImageCueAfterBurst)
    ->Arg(10)
    ->Arg(100)
    ->Arg(2000)
    ->Iterations(10)
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
