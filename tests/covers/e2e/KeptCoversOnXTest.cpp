#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <QApplication>
#include <QScreen>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/QtWindowSystem.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

using mantleshade::FullscreenImageOverlay;
using mantleshade::OverlayData;

namespace {

enum class Seen { white, black, red, other };

Seen classify(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    auto near = [](int v, int want) { return std::abs(v - want) <= 12; };
    if (near(r, 255) && near(g, 255) && near(b, 255)) return Seen::white;
    if (near(r, 0) && near(g, 0) && near(b, 0)) return Seen::black;
    if (near(r, 255) && near(g, 0) && near(b, 0)) return Seen::red;
    return Seen::other;
}

// Reads a few root-window pixels over its own connection, as fast as the server answers, and
// records every colour each of them ever shows: a frame of stale content cannot slip between.
class PixelWatch {
  public:
    PixelWatch(const std::string& display, std::vector<std::pair<int, int>> points)
        : points_(std::move(points)), seen_(points_.size()), last_(points_.size(), Seen::other) {
        x_ = xcb_connect(display.c_str(), nullptr);
        root_ = xcb_setup_roots_iterator(xcb_get_setup(x_)).data->root;
        thread_ = std::thread([this] {
            while (!stop_)
                for (std::size_t i = 0; i < points_.size(); ++i) record(i);
        });
    }
    ~PixelWatch() {
        stop();
        xcb_disconnect(x_);
    }
    // Stops; answers what each point showed since the start.
    std::vector<std::set<Seen>> stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return seen_;
    }
    bool allShow(Seen colour) {
        std::lock_guard lock(mutex_);
        return std::all_of(last_.begin(), last_.end(), [&](Seen s) { return s == colour; });
    }

  private:
    void record(std::size_t i) {
        auto [px, py] = points_[i];
        auto cookie =
            xcb_get_image(x_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(px),
                          static_cast<std::int16_t>(py), 1, 1, ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(x_, cookie, nullptr);
        if (!reply) return;
        const std::uint8_t* p = xcb_get_image_data(reply);
        const Seen s =
            xcb_get_image_data_length(reply) >= 3 ? classify(p[2], p[1], p[0]) : Seen::other;
        std::free(reply);
        std::lock_guard lock(mutex_);
        seen_[i].insert(s);
        last_[i] = s;
    }

    std::vector<std::pair<int, int>> points_;
    std::vector<std::set<Seen>> seen_;
    std::vector<Seen> last_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false};
    xcb_connection_t* x_ = nullptr;
    xcb_window_t root_ = 0;
    std::thread thread_;
};

class KeptCoversOnX : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!x.ok()) GTEST_SKIP() << x.error();
        ASSERT_TRUE(x.paintRootWhite());
        static int argc = 1;
        static char name[] = "kept-covers-e2e";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
        ASSERT_EQ(QGuiApplication::screens().size(), 2);
        defaults = foundation::UserDefaults::openAt(dir.path() / "defaults.json");
        OverlayData cover;
        cover.sharedMedia = OverlayData::MediaItem{};
        cover.sharedMedia->path =
            foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/red-blue-400x200.png");
        ASSERT_TRUE(OverlayData::saveList({cover}, *defaults));
        system = std::make_shared<desktop::QtWindowSystem>();
        engine = FullscreenImageOverlay::create(system, defaults.get(), &center);
        engine->prepareCovers();
    }
    void TearDown() override {
        engine.reset();
        system.reset();
        spinTurns();
        app.reset();
    }

    std::vector<desktop::CoverWindow*> shownWindows() {
        std::vector<desktop::CoverWindow*> out;
        for (auto& window : engine->overlayWindows())
            out.push_back(dynamic_cast<desktop::CoverWindow*>(&window->window()));
        return out;
    }
    void clear() {
        engine->clear();
        ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().empty(); }));
    }

    testsupport::Xvfb x;
    std::unique_ptr<QApplication> app;
    testsupport::TempDir dir{"ms-kept-covers"};
    std::unique_ptr<foundation::UserDefaults> defaults;
    foundation::NotificationCenter center;
    std::shared_ptr<desktop::QtWindowSystem> system;
    std::shared_ptr<FullscreenImageOverlay> engine;
};

}  // namespace

TEST_F(KeptCoversOnX, AKeptWindowNeverShowsTheLastShowsContent) {
    // Points inside the red half of the 400x200 image on either monitor.
    const std::vector<std::pair<int, int>> points = {{480, 540}, {1920 + 320, 512}};
    EXPECT_EQ(system->keptWindowCount(), 2u);
    struct Step {
        const char* what;
        std::function<void()> show;
        Seen shown;
        Seen stale;
    };
    const Step steps[] = {
        {"image", [&] { engine->showOverlay(1); }, Seen::red, Seen::black},
        {"black after the image", [&] { engine->blackout(); }, Seen::black, Seen::red},
        {"image after black", [&] { engine->showOverlay(1); }, Seen::red, Seen::black},
    };
    std::vector<desktop::CoverWindow*> first;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        PixelWatch watch(x.display(), points);
        ASSERT_TRUE(spinUntil([&] { return watch.allShow(Seen::white); }));
        step.show();
        ASSERT_TRUE(spinUntil([&] { return watch.allShow(step.shown); }));
        for (const std::set<Seen>& seen : watch.stop()) {
            EXPECT_FALSE(seen.contains(step.stale));
            EXPECT_FALSE(seen.contains(Seen::other));
        }
        // The windows made at start, on every show.
        EXPECT_EQ(system->keptWindowCount(), 0u);
        if (first.empty()) first = shownWindows();
        EXPECT_EQ(shownWindows(), first);
        clear();
        EXPECT_EQ(system->keptWindowCount(), 2u);
    }
}

TEST_F(KeptCoversOnX, KeptWindowsFollowScreensThatComeAndGo) {
    const auto right = x.monitors().at(1);
    auto screenCount = [] { return QGuiApplication::screens().size(); };
    int status = 0;
    x.run("xrandr --delmonitor " + right.name, &status);
    ASSERT_EQ(status, 0);
    if (!spinUntil([&] { return screenCount() == 1; }, std::chrono::seconds(5)))
        GTEST_SKIP() << "this Qt does not follow monitor changes";
    EXPECT_EQ(system->keptWindowCount(), 1u);
    engine->blackout();
    ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 1; }));
    clear();

    x.run("xrandr --setmonitor " + right.name + " 1280/339x1024/271+1920+0 none", &status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(spinUntil([&] { return screenCount() == 2; }, std::chrono::seconds(5)));
    EXPECT_EQ(system->keptWindowCount(), 2u);
    engine->blackout();
    ASSERT_TRUE(spinUntil([&] { return engine->overlayWindows().size() == 2; }));
    auto windows = shownWindows();
    EXPECT_EQ(windows[1]->geometry(), QGuiApplication::screens().at(1)->geometry());
    auto shot = x.screenshot();
    for (int i = 0; i < 100 && !shot.regionIsBlack(1920, 0, 1280, 1024); ++i) {
        spinTurns(1);
        shot = x.screenshot();
    }
    EXPECT_TRUE(shot.regionIsBlack(0, 0, 1920, 1080));
    EXPECT_TRUE(shot.regionIsBlack(1920, 0, 1280, 1024));
}
