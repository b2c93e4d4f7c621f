// Memory of the application under an installation's cue mix. Runs the real binary on a private
// X server with two monitors and a cover list of four videos (H.264 in mp4, MJPEG and VP8 in avi,
// H.264 in mov at 1280x720), two images, a 45 MP photo and a video on the left monitor only. For
// the given minutes it sends seeded random cues (shows, direct switches between videos,
// blackouts, clears) 0.05-1.5 s apart, plus a burst of 300 unpaced cues once a minute. Each
// minute ends with a clear and 2.5 s of rest, then the application's RSS, descriptors and
// threads are read, so that covers still up or still tearing down are not what is measured.

#include "bench/video_soak/MixedCueSoak.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QImage>

#include "bench/video_soak/Clip.h"
#include "covers/OverlayData.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/Bytes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackNet.h"
#include "tests/support/Poll.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace videosoak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kBurst = 300;
constexpr auto kSettle = 2500ms;
constexpr int kFromMinute = 3;  // launch and first decodes have settled by then
constexpr double kTargetMB = 20;

// Cover numbers as OSC counts them (from 1), in the order writeCovers lists them.
const std::vector<int> kVideos = {1, 2, 3, 4};
const std::vector<int> kImages = {5, 6};
constexpr int kPhoto = 7;
constexpr int kLeftOnly = 8;

struct Clip {
    ClipFormat format;
    int width, height;
};
// The application plays mp4, mov, m4v and avi files only, so VP8 goes in an avi.
const std::vector<Clip> kClips = {
    {{"h264-mp4", "x264enc speed-preset=veryfast key-int-max=25 ! mp4mux", "mp4"}, 640, 360},
    {{"mjpeg-avi", "jpegenc ! avimux", "avi"}, 640, 360},
    {{"vp8-avi", "vp8enc deadline=1 keyframe-max-dist=25 ! avimux", "avi"}, 854, 480},
    {{"h264-mov", "x264enc speed-preset=veryfast key-int-max=25 ! qtmux", "mov"}, 1280, 720},
    // The left-only cover's own clip.
    {{"left-mp4", "x264enc speed-preset=veryfast key-int-max=25 ! mp4mux", "mp4"}, 320, 240},
};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

// Ctrl-C or a kill ends the run through the usual tear-down, so that neither Xvfb nor the
// application outlives it; a second one kills at once.
void catchStops() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

// Sleeps for `d`; false when a stop was asked for meanwhile.
bool rest(Clock::duration d) {
    const auto end = Clock::now() + d;
    while (!stopRequested) {
        const auto now = Clock::now();
        if (now >= end) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(end - now, 50ms));
    }
    return false;
}

// A gradient under per-pixel noise: a photo's JPEG size, not the few kilobytes of a flat image.
bool writeImage(const fs::path& path, int width, int height, int noise) {
    QImage image(width, height, QImage::Format_RGB32);
    std::minstd_rand random(static_cast<unsigned>(width));
    const auto channel = [](int v) { return std::clamp(v, 0, 255); };
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = noise > 0 ? static_cast<int>(random() % (2 * noise + 1)) - noise : 0;
            line[x] = qRgb(channel(x * 255 / width + n), channel(y * 255 / height + n),
                           channel(160 - x * 96 / width + n));
        }
    }
    return image.save(QString::fromStdString(path.string()), nullptr, 90);
}

// Makes the media and stores the cover list and port in `configHome`'s defaults.json.
bool writeCovers(const fs::path& configHome, const std::string& leftScreen, std::uint16_t port) {
    std::vector<fs::path> clips;
    for (const Clip& clip : kClips) {
        clips.push_back(configHome / ("clip-" + clip.format.name + "." + clip.format.extension));
        if (!makeClip(clip.format, clips.back().string(), clip.width, clip.height)) return false;
    }
    const fs::path images[] = {configHome / "image-1920x1080.png",
                               configHome / "image-1280x1024.jpg",
                               configHome / "photo-8192x5464.jpg"};
    if (!writeImage(images[0], 1920, 1080, 0) || !writeImage(images[1], 1280, 1024, 6) ||
        !writeImage(images[2], 8192, 5464, 12)) {
        std::fprintf(stderr, "mixed-cue soak: cannot write the images\n");
        return false;
    }

    std::vector<mantleshade::OverlayData> covers;
    const auto shared = [&covers](const fs::path& media) {
        mantleshade::OverlayData& cover = covers.emplace_back();
        cover.name = media.filename().string();
        cover.sharedMedia.emplace();
        cover.sharedMedia->setURL(foundation::URL::fileURL(media.string()));
    };
    for (std::size_t i = 0; i < kVideos.size(); ++i) shared(clips[i]);
    for (const fs::path& image : images) shared(image);
    mantleshade::OverlayData& left = covers.emplace_back();
    left.name = "left only";
    left.useSameMediaForAllScreens = false;
    left.screenMedia[mantleshade::displayIDKey(*desktop::displayIDForScreenName(leftScreen))]
        .setURL(foundation::URL::fileURL(clips.back().string()));

    auto defaults = foundation::UserDefaults::openAt(configHome / "mantleshade" / "defaults.json");
    return defaults->set("oscPort", static_cast<std::int64_t>(port)) &&
           mantleshade::OverlayData::saveList(covers, *defaults);
}

// The cue mix, seeded, and the datagrams that carry it.
class Cues {
  public:
    Cues(std::uint16_t port, unsigned seed) : port_(port), random_(seed) {}

    // The next cue: one message, or for a direct switch two shows of different videos.
    std::vector<mstest::Bytes> next() {
        const int roll = uniform(0, 99);
        if (roll < 20) return {show(pick(kVideos))};
        if (roll < 50) {
            std::vector<int> videos = kVideos;
            videos.push_back(kLeftOnly);
            const int from = pick(videos);
            std::erase(videos, from);
            return {show(from), show(pick(videos))};
        }
        if (roll < 62) return {show(pick(kImages))};
        if (roll < 70) return {show(kPhoto)};
        if (roll < 80) return {show(kLeftOnly)};
        if (roll < 90)
            return {uniform(0, 1) ? show(0) : mstest::oscMessage("/mantleshade/blackout")};
        return {mstest::oscMessage("/mantleshade/clear")};
    }

    void send(const mstest::Bytes& message) {
        socket_.sendTo(port_, message);
        ++sent_;
    }
    void clear() { send(mstest::oscMessage("/mantleshade/clear")); }
    long sent() const { return sent_; }
    Clock::duration pause() { return std::chrono::milliseconds(uniform(50, 1500)); }
    int uniform(int low, int high) { return std::uniform_int_distribution(low, high)(random_); }

  private:
    static mstest::Bytes show(int cover) {
        return mstest::oscMessage("/mantleshade/show", {cover});
    }
    int pick(const std::vector<int>& from) {
        return from[static_cast<std::size_t>(uniform(0, static_cast<int>(from.size()) - 1))];
    }

    std::uint16_t port_;
    std::mt19937 random_;
    mstest::PlainSocket socket_{AF_INET};
    long sent_ = 0;
};

struct Sample {
    int minute;
    double rssMB;
    int fds;
    long threads;
    long cues;
};

Sample measure(pid_t pid, int minute, long cues) {
    const Sample s{minute, static_cast<double>(mstest::statusValue(pid, "VmRSS")) / 1024.0,
                   mstest::openDescriptorCount(pid), mstest::statusValue(pid, "Threads"), cues};
    std::printf("%6d %9.1f %6d %8ld %8ld\n", s.minute, s.rssMB, s.fds, s.threads, s.cues);
    std::fflush(stdout);
    return s;
}

// The change from minute kFromMinute to the last, its least-squares slope and the target.
void report(const std::vector<Sample>& samples) {
    std::vector<Sample> tail;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(tail),
                 [](const Sample& s) { return s.minute >= kFromMinute; });
    if (tail.size() < 2) {
        std::printf("RSS: fewer than two minutes from minute %d on, no slope\n", kFromMinute);
        std::printf("target: within %.0f MB from minute %d to the end: not judged\n", kTargetMB,
                    kFromMinute);
        return;
    }
    double meanX = 0, meanY = 0;
    for (const Sample& s : tail) {
        meanX += s.minute;
        meanY += s.rssMB;
    }
    meanX /= static_cast<double>(tail.size());
    meanY /= static_cast<double>(tail.size());
    double sxy = 0, sxx = 0;
    for (const Sample& s : tail) {
        sxy += (s.minute - meanX) * (s.rssMB - meanY);
        sxx += (s.minute - meanX) * (s.minute - meanX);
    }
    const double slope = sxy / sxx;
    const double change = tail.back().rssMB - tail.front().rssMB;
    // A minute's reading swings by tens of MB with what the last cues decoded, so the fitted
    // line's rise counts as much as the last reading; a fall is no leak.
    const double fitted = slope * (tail.back().minute - tail.front().minute);
    std::printf("RSS from minute %d to %d: %+.1f MB; slope over minutes >= %d: %+.2f MB/min\n",
                kFromMinute, tail.back().minute, change, kFromMinute, slope);
    std::printf(
        "target: within %.0f MB from minute %d to the end: %s (change %+.1f MB, fitted "
        "%+.1f MB)\n",
        kTargetMB, kFromMinute, change <= kTargetMB && fitted <= kTargetMB ? "met" : "NOT met",
        change, fitted);
}

long occurrences(const std::string& text, const std::string& part) {
    long n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// What the application says it did: that the cues made covers on the screens they name.
void summarizeLog(const std::string& log, const std::string& left, const std::string& right) {
    std::printf(
        "app log: %ld shows received; covers made on %s %ld, on %s %ld; %s skipped %ld times; "
        "%ld media could not be shown or played; %ld videos stopped moving\n",
        occurrences(log, "OSC Rev to Show"), left.c_str(), occurrences(log, "Creating: " + left),
        right.c_str(), occurrences(log, "Creating: " + right), right.c_str(),
        occurrences(log, "No media for screen " + right),
        occurrences(log, "cannot be shown") + occurrences(log, "cannot play"),
        occurrences(log, "stopped moving"));
}

// SIGTERM as a user's quit; SIGKILL when it does not end within 10 s.
void quit(mstest::ChildProcess& app) {
    if (app.ended()) return;
    app.signal(SIGTERM);
    if (app.waitForEnd(10s)) return;
    std::fprintf(stderr, "mixed-cue soak: the application ignored SIGTERM; killing it\n");
    app.signal(SIGKILL);
    app.waitForEnd(5s);
}

}  // namespace

int runMixedCueSoak(const MixedCueOptions& options) {
    catchStops();
    if (!fs::exists(options.app)) {
        std::fprintf(stderr, "mixed-cue soak: no application at %s (build it, or --app PATH)\n",
                     options.app.c_str());
        return 1;
    }
    testsupport::TempDir dir("ms-mixed-soak");
    testsupport::Xvfb x;
    if (!x.ok()) {
        std::fprintf(stderr, "mixed-cue soak: %s\n", x.error().c_str());
        return 1;
    }
    const std::string left = x.monitors().at(0).name, right = x.monitors().at(1).name;
    const std::uint16_t port = mstest::freeUdpPort();
    std::fprintf(stderr, "mixed-cue soak: making the media\n");
    if (!writeCovers(dir.path(), left, port) || stopRequested) return 1;

    const fs::path logPath = dir / "app.log";
    mstest::ChildProcess app(
        {"mantleshade"}, {{{"XDG_CONFIG_HOME", dir.path().string()}, {"QT_QPA_PLATFORM", "xcb"}},
                          logPath,
                          options.app,
                          SIGKILL});
    Cues cues(port, options.seed);
    // OSC does nothing until launching finishes, though the port is already taken: ready once
    // a blackout makes covers.
    const bool ready =
        mstest::pollUntil([&] { return !mstest::udpPortIsFree(port) || app.ended(); }, 30s) &&
        mstest::pollUntil(
            [&] {
                if (app.ended() || stopRequested) return true;
                cues.send(mstest::oscMessage("/mantleshade/blackout"));
                return app.waitForOutput("Creating:", 300ms);
            },
            30s) &&
        !app.ended() && !stopRequested;
    if (!ready) {
        std::fprintf(stderr, "mixed-cue soak: the application did not answer OSC\n%s",
                     app.output().c_str());
        quit(app);
        return 1;
    }

    std::printf(
        "mixed-cue soak: %d minutes, seed %u; covers: 4 videos, 2 images, a 45 MP photo, a video "
        "on %s only; 2 monitors; a burst of %d cues each minute\n",
        options.minutes, options.seed, left.c_str(), kBurst);
    std::printf("%6s %9s %6s %8s %8s\n", "minute", "RSS MB", "fds", "threads", "cues");
    std::vector<Sample> samples;
    cues.clear();
    if (rest(kSettle)) samples.push_back(measure(app.pid(), 0, cues.sent()));

    for (int minute = 1; minute <= options.minutes && !stopRequested && !app.ended(); ++minute) {
        const auto start = Clock::now();
        const auto cuesEnd = start + 60s - kSettle;
        const auto burstAt = start + std::chrono::milliseconds(cues.uniform(0, 50000));
        bool burst = false;
        while (Clock::now() < cuesEnd && !stopRequested && !app.ended()) {
            if (!burst && Clock::now() >= burstAt) {
                for (int sent = 0; sent < kBurst;)
                    for (const auto& message : cues.next())
                        if (sent++ < kBurst) cues.send(message);
                burst = true;
            }
            for (const auto& message : cues.next()) {
                cues.send(message);
                rest(std::min<Clock::duration>(cues.pause(), cuesEnd - Clock::now()));
            }
        }
        if (stopRequested || app.ended()) break;
        cues.clear();
        if (!rest(kSettle) || app.ended()) break;
        samples.push_back(measure(app.pid(), minute, cues.sent()));
    }

    const bool crashed = app.ended() && !stopRequested;
    if (crashed) {
        const std::string out = app.output();
        std::printf("the application ended on its own; the end of its output:\n%s\n",
                    out.substr(out.size() > 4000 ? out.size() - 4000 : 0).c_str());
    }
    if (stopRequested) std::printf("stopped early\n");
    quit(app);
    report(samples);
    summarizeLog(app.output(), left, right);
    if (!options.log.empty()) {
        std::error_code error;
        fs::copy_file(logPath, options.log, fs::copy_options::overwrite_existing, error);
        if (error)
            std::fprintf(stderr, "mixed-cue soak: cannot keep the log: %s\n",
                         error.message().c_str());
    }
    return crashed ? 1 : 0;
}

}  // namespace videosoak
