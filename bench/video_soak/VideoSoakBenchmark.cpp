// Soak of the looping video covers. For each clip format and each player it shows the clip on
// both monitors of a private X server (testsupport::Xvfb) while every core runs a busy loop and
// the screen is captured once a second, then reports stalls (a cover with no new frame for a
// second or more), frame times and the process's CPU per cover. Options:
//   --seconds N        how long each format plays with each player (default 600)
//   --players gst,qt   which players: ours on GStreamer, and Qt Multimedia's (the one before)
//   --formats mp4,webm,avi
//   --log FILE         every frame interval, as CSV (default video-soak-frames.csv)
//   --no-load          without the busy loops
//   --cycles N         instead: N show/hide cycles of the mp4 and avi clips in turn on both
//                      monitors, reporting open descriptors and RSS before and after
//   --mixed MINUTES    instead: the real application (build/bin/mantleshade, or --app PATH) under
//                      a mixed cue list for that long, RSS, descriptors and threads each minute
//                      (MixedCueSoak.cpp); --seed N for its cues, --log FILE keeps its output

#include <gst/gst.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "bench/video_soak/Clip.h"
#include "bench/video_soak/MixedCueSoak.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/QtLoopingPlayer.h"
#include "platform/desktop/QtWindowSystem.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/Xvfb.h"

namespace {

using Clock = std::chrono::steady_clock;

using Format = videosoak::ClipFormat;
using videosoak::makeClip;

const std::vector<Format> kFormats = {
    {"mp4", "x264enc speed-preset=veryfast key-int-max=25 ! mp4mux", "mp4"},
    {"webm", "vp8enc deadline=1 keyframe-max-dist=25 ! webmmux", "webm"},
    {"avi", "jpegenc ! avimux", "avi"},
};

// A busy loop per core, in child processes so that their CPU is not the player's.
class CpuLoad {
  public:
    explicit CpuLoad(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~CpuLoad() {
        for (pid_t pid : pids_) ::kill(pid, SIGKILL);
        for (pid_t pid : pids_) ::waitpid(pid, nullptr, 0);
    }

  private:
    std::vector<pid_t> pids_;
};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct CoverStats {
    std::vector<double> intervalsMs;
    Clock::time_point last{};
    std::uint64_t frames = 0;
    int stalls = 0;
};

struct Result {
    std::string player, format;
    double seconds = 0, cpuPerCover = 0;
    int stalls = 0;
    std::uint64_t restarts = 0;
    std::vector<CoverStats> covers;
};

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

constexpr double kStallMs = 1000;

Result soak(const std::string& player, const Format& format, const std::string& clip, int seconds,
            testsupport::Xvfb& x, std::ofstream& log) {
    Result result;
    result.player = player;
    result.format = format.name;
    const auto screens = desktop::Screens::system()->screens();
    desktop::QtWindowSystem system;
    std::vector<std::unique_ptr<desktop::CoverWindow>> windows;
    std::vector<std::shared_ptr<desktop::LoopingPlayer>> players;
    result.covers.resize(screens.size());
    const auto url = foundation::URL::fileURL(clip);
    for (std::size_t i = 0; i < screens.size(); ++i) {
        auto window = std::make_unique<desktop::CoverWindow>(screens[i]);
        // Qt Multimedia's player is one per screen, as the covers used it.
        std::shared_ptr<desktop::LoopingPlayer> p =
            player == "qt" ? std::make_shared<desktop::QtLoopingPlayer>(url)
                           : system.createLoopingPlayer(url);
        window->setVideoContent(*p);
        auto* view = qobject_cast<desktop::VideoView*>(window->contentView());
        CoverStats* stats = &result.covers[i];
        QObject::connect(view, &desktop::VideoView::frameShown, [stats] {
            const auto now = Clock::now();
            if (stats->frames++ > 0)
                stats->intervalsMs.push_back(
                    std::chrono::duration<double, std::milli>(now - stats->last).count());
            stats->last = now;
        });
        window->makeKeyAndOrderFront();
        windows.push_back(std::move(window));
        players.push_back(std::move(p));
    }
    for (auto& p : players) p->play();

    // The screen captured once a second, as the report that found the stalls did.
    std::atomic<bool> capturing{true};
    std::thread capture([&] {
        while (capturing) {
            (void)x.screenshot();
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });

    // Waits for the first frames, then measures.
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 10000 && std::any_of(result.covers.begin(), result.covers.end(),
                                                 [](const CoverStats& s) { return s.frames == 0; }))
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    for (CoverStats& s : result.covers) {
        s.intervalsMs.clear();
        s.last = Clock::now();
    }
    const double cpu0 = cpuSeconds();
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    while (Clock::now() < end) QApplication::processEvents(QEventLoop::AllEvents, 50);
    const auto now = Clock::now();
    result.seconds = std::chrono::duration<double>(now - start).count();
    result.cpuPerCover =
        100.0 * (cpuSeconds() - cpu0) / result.seconds / static_cast<double>(screens.size());
    capturing = false;
    capture.join();

    for (std::size_t i = 0; i < result.covers.size(); ++i) {
        CoverStats& s = result.covers[i];
        // A cover frozen at the end counts as well.
        s.intervalsMs.push_back(std::chrono::duration<double, std::milli>(now - s.last).count());
        for (double ms : s.intervalsMs) {
            if (ms >= kStallMs) ++s.stalls;
            log << player << ',' << format.name << ',' << i << ',' << ms << '\n';
        }
        result.stalls += s.stalls;
    }
    for (auto& p : players)
        if (auto* g = dynamic_cast<desktop::GstLoopingPlayer*>(p.get()))
            result.restarts = std::max(result.restarts, g->pipeline().restarts());
    for (auto& p : players) p->pause();
    for (auto& p : players) p->detachOutput();
    players.clear();
    windows.clear();
    return result;
}

// Runs Qt's events for up to `ms` or until `done`.
template <class Done>
void spinUntil(Done done, int ms) {
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < ms && !done()) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Shows the clips in turn, each until its first frame is painted on both monitors, then hides
// it, as a cue list would; reports descriptors and RSS after the first cycle and at the end.
int cycles(int count, const std::vector<std::string>& clips) {
    const auto screens = desktop::Screens::system()->screens();
    desktop::QtWindowSystem system;
    std::vector<std::unique_ptr<desktop::CoverWindow>> windows;
    for (const auto& screen : screens) {
        windows.push_back(std::make_unique<desktop::CoverWindow>(screen));
        windows.back()->makeKeyAndOrderFront();
    }
    int fdsAfterFirst = 0;
    double rssAfterFirst = 0;
    int missed = 0;
    std::vector<double> hideMs;
    QElapsedTimer total;
    total.start();
    for (int i = 0; i < count; ++i) {
        // A player per monitor, on one pipeline, as the covers hold them.
        const auto url =
            foundation::URL::fileURL(clips[static_cast<std::size_t>(i) % clips.size()]);
        std::vector<std::shared_ptr<desktop::LoopingPlayer>> players;
        std::vector<desktop::VideoView*> views;
        for (auto& window : windows) {
            players.push_back(system.createLoopingPlayer(url));
            window->setVideoContent(*players.back());
            views.push_back(qobject_cast<desktop::VideoView*>(window->contentView()));
        }
        auto allShown = [&] {
            return std::all_of(views.begin(), views.end(),
                               [](auto* v) { return v->framesShown() > 0; });
        };
        for (auto& p : players) p->play();
        spinUntil(allShown, 10000);
        if (!allShown()) ++missed;
        // The hide, as the main thread pays for it: the pipeline's stop included.
        const auto hideStart = Clock::now();
        for (auto& p : players) p->pause();
        for (auto& p : players) p->detachOutput();
        for (auto& window : windows) window->setBlackoutContent();
        players.clear();
        hideMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - hideStart).count());
        if ((i + 1) % 50 == 0)
            std::printf("after %d cycles: %d descriptors, RSS %.1f MB\n", i + 1,
                        mstest::openDescriptorCount(), mstest::residentKiB() / 1024.0);
        if (i == 0) {
            spinUntil([] { return false; }, 500);
            fdsAfterFirst = mstest::openDescriptorCount();
            rssAfterFirst = mstest::residentKiB() / 1024.0;
        }
    }
    // Tear-downs finish in the background, and memory is given back once they have stopped.
    spinUntil([] { return false; }, 2500);
    std::printf(
        "video cycles: %d show/hide cycles of %zu clips on %zu monitors in %.1f s, %d without a "
        "frame\n",
        count, clips.size(), screens.size(), static_cast<double>(total.elapsed()) / 1000.0, missed);
    std::printf("descriptors after the first cycle %d, at the end %d\n", fdsAfterFirst,
                mstest::openDescriptorCount());
    std::printf("RSS after the first cycle %.1f MB, at the end %.1f MB\n", rssAfterFirst,
                mstest::residentKiB() / 1024.0);
    std::printf("main thread per hide: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(hideMs, 0.5), percentile(hideMs, 0.99),
                hideMs.empty() ? 0.0 : *std::max_element(hideMs.begin(), hideMs.end()));
    return 0;
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= text.size()) {
        std::size_t comma = text.find(',', from);
        if (comma == std::string::npos) comma = text.size();
        if (comma > from) parts.push_back(text.substr(from, comma - from));
        from = comma + 1;
    }
    return parts;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 600;
    std::vector<std::string> players{"gst", "qt"};
    std::vector<std::string> formats{"mp4", "webm", "avi"};
    std::string logPath = "video-soak-frames.csv";
    bool load = true;
    int cycleCount = 0;
    videosoak::MixedCueOptions mixed;
    mixed.app = MS_BINARY_DIR "/bin/mantleshade";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--players" && hasValue)
            players = split(argv[++i]);
        else if (arg == "--formats" && hasValue)
            formats = split(argv[++i]);
        else if (arg == "--log" && hasValue)
            logPath = mixed.log = argv[++i];
        else if (arg == "--no-load")
            load = false;
        else if (arg == "--cycles" && hasValue)
            cycleCount = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--mixed" && hasValue)
            mixed.minutes = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--seed" && hasValue)
            mixed.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (arg == "--app" && hasValue)
            mixed.app = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--seconds N] [--players gst,qt] [--formats mp4,webm,avi] "
                         "[--log FILE] [--no-load] [--cycles N]\n"
                         "       %s --mixed MINUTES [--seed N] [--app PATH] [--log FILE]\n",
                         argv[0], argv[0]);
            return 2;
        }
    }
    gst_init(nullptr, nullptr);
    if (mixed.minutes > 0) return videosoak::runMixedCueSoak(mixed);
    const auto dir =
        std::filesystem::temp_directory_path() / ("ms-video-soak-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::map<std::string, std::string> clips;
    for (const Format& f : kFormats) {
        if (std::find(formats.begin(), formats.end(), f.name) == formats.end()) continue;
        const std::string path = (dir / ("clip." + f.extension)).string();
        if (makeClip(f, path)) clips[f.name] = path;
    }

    testsupport::Xvfb x;
    if (!x.ok()) {
        std::fprintf(stderr, "video-soak: %s\n", x.error().c_str());
        return 1;
    }
    if (cycleCount > 0) {
        QApplication app(argc, argv);
        std::vector<std::string> cycleClips;
        for (const auto& entry : clips) cycleClips.push_back(entry.second);
        const int result = cycles(cycleCount, cycleClips);
        std::filesystem::remove_all(dir);
        return result;
    }
    // Forked before Qt starts its threads.
    std::unique_ptr<CpuLoad> cpuLoad;
    if (load) cpuLoad = std::make_unique<CpuLoad>(std::thread::hardware_concurrency());
    QApplication app(argc, argv);
    std::ofstream log(logPath);
    log << "player,format,cover,frame_interval_ms\n";

    std::vector<Result> results;
    for (const Format& f : kFormats) {
        if (!clips.count(f.name)) continue;
        for (const std::string& player : players) {
            std::fprintf(stderr, "video-soak: %s with %s for %d s\n", f.name.c_str(),
                         player.c_str(), seconds);
            results.push_back(soak(player, f, clips[f.name], seconds, x, log));
        }
    }
    cpuLoad.reset();
    std::filesystem::remove_all(dir);

    double load1 = 0;
    if (std::ifstream loadavg("/proc/loadavg"); loadavg) loadavg >> load1;
    std::printf("video soak: %d s per format and player, 2 s 640x360 clips, 2 monitors, %s\n",
                seconds, load ? "a busy loop on every core" : "no extra load");
    std::printf("%-6s %-5s %7s %7s %8s %9s %9s %9s %12s\n", "player", "fmt", "secs", "stalls",
                "restarts", "p50 ms", "p99 ms", "max ms", "CPU/cover %");
    for (const Result& r : results) {
        std::vector<double> all;
        for (const CoverStats& s : r.covers)
            all.insert(all.end(), s.intervalsMs.begin(), s.intervalsMs.end());
        std::printf("%-6s %-5s %7.0f %7d %8llu %9.1f %9.1f %9.1f %12.1f\n", r.player.c_str(),
                    r.format.c_str(), r.seconds, r.stalls,
                    static_cast<unsigned long long>(r.restarts), percentile(all, 0.5),
                    percentile(all, 0.99),
                    all.empty() ? 0.0 : *std::max_element(all.begin(), all.end()), r.cpuPerCover);
    }
    std::printf("load average at the end: %.2f; frame intervals in %s\n", load1, logPath.c_str());
    return 0;
}
