// Starts build/bin/mantleshade on a private X server with two monitors, as a user would, and
// drives it with liblo's oscsend.

#include <signal.h>
#include <sys/wait.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "covers/OverlayData.h"
#include "platform/desktop/Screens.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/Bytes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackNet.h"
#include "tests/support/Poll.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace {

using namespace std::chrono_literals;

using mstest::freeUdpPort;
using mstest::pollUntil;
using mstest::udpPortIsFree;

// The application as a child process with its own settings folder; output goes to a file.
std::unique_ptr<mstest::ChildProcess> startApp(const std::filesystem::path& configHome,
                                               const std::filesystem::path& log) {
    return std::make_unique<mstest::ChildProcess>(
        std::vector<std::string>{"mantleshade"},
        mstest::ChildProcess::Options{
            {{"XDG_CONFIG_HOME", configHome.string()}, {"QT_QPA_PLATFORM", "xcb"}},
            log,
            MS_BINARY_DIR "/bin/mantleshade",
            SIGKILL});
}

class MantleshadeE2ETest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(MS_BINARY_DIR "/bin/mantleshade"))
            GTEST_SKIP() << "build/bin/mantleshade is not built";
        if (std::system("command -v oscsend >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
        xvfb_ = std::make_unique<testsupport::Xvfb>();
        if (!xvfb_->ok()) GTEST_SKIP() << xvfb_->error();
        ASSERT_TRUE(xvfb_->paintRootWhite());
        port_ = freeUdpPort();
        ASSERT_NE(port_, 0);
        defaults_ = foundation::UserDefaults::openAt(dir_ / "mantleshade" / "defaults.json");
        defaults_->set("oscPort", static_cast<std::int64_t>(port_));
    }

    void launch() {
        app_ = startApp(dir_.path(), dir_ / "out.log");
        ASSERT_TRUE(pollUntil([&] { return !udpPortIsFree(port_) || !!app_->ended(); }))
            << "the application never took its port";
        ASSERT_TRUE(!app_->ended()) << app_->output();
        ASSERT_TRUE(monitorsShow(white)) << "something covers the screens at start";
        // Listening starts before launching finishes, and until then OSC has no effect: the
        // application is ready once a blackout shows.
        ASSERT_TRUE(pollUntil([&] {
            sendBlackout();
            return pollUntil([&] { return monitorsShow(black); }, 300ms);
        })) << app_->output();
        oscsend("/mantleshade/clear");
        ASSERT_TRUE(pollUntil([&] { return monitorsShow(white); })) << app_->output();
    }

    void sendBlackout() {
        const std::string command =
            "oscsend 127.0.0.1 " + std::to_string(port_) + " /mantleshade/blackout >/dev/null 2>&1";
        [[maybe_unused]] const int rc = std::system(command.c_str());
    }

    void oscsend(const std::string& arguments) {
        const std::string command =
            "oscsend 127.0.0.1 " + std::to_string(port_) + " " + arguments + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    // Samples the middle of each monitor.
    bool monitorsShow(const std::function<bool(const std::array<std::uint8_t, 3>&)>& test) {
        const testsupport::Screenshot shot = xvfb_->screenshot();
        if (!shot.valid()) return false;
        for (const auto& m : xvfb_->monitors()) {
            for (int dx : {-200, 0, 200}) {
                if (!test(shot.pixel(m.x + m.width / 2 + dx, m.y + m.height / 2))) return false;
            }
        }
        return true;
    }
    static bool black(const std::array<std::uint8_t, 3>& p) {
        return p[0] < 8 && p[1] < 8 && p[2] < 8;
    }
    static bool white(const std::array<std::uint8_t, 3>& p) {
        return p[0] > 247 && p[1] > 247 && p[2] > 247;
    }
    static bool red(const std::array<std::uint8_t, 3>& p) {
        return p[0] > 200 && p[1] < 40 && p[2] < 40;
    }

    testsupport::TempDir dir_{"ms-e2e"};
    std::unique_ptr<testsupport::Xvfb> xvfb_;
    std::unique_ptr<foundation::UserDefaults> defaults_;
    std::unique_ptr<mstest::ChildProcess> app_;
    std::uint16_t port_ = 0;
};

TEST_F(MantleshadeE2ETest, BlackoutThenClear) {
    launch();
    oscsend("/mantleshade/blackout");
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(black); })) << app_->output();
    oscsend("/mantleshade/clear");
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(white); })) << app_->output();
    EXPECT_TRUE(app_->waitForOutput("OSC Rev to Hide"));
}

TEST_F(MantleshadeE2ETest, ShowsAnImageCoverByItsId) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    const auto file = dir_ / "red.png";
    ASSERT_TRUE(image.save(QString::fromStdString(file.string())));

    std::vector<mantleshade::OverlayData> covers(2);
    covers[0].name = "Black";
    covers[1].name = "Red";
    covers[1].useSameMediaForAllScreens = true;
    covers[1].sharedMedia.emplace();
    covers[1].sharedMedia->setURL(foundation::URL::fileURL(file.string()));
    ASSERT_TRUE(mantleshade::OverlayData::saveList(covers, *defaults_));

    launch();
    oscsend("/mantleshade/show i 2");
    // Aspect fit of a 4:3 image: the middle of each monitor is red.
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(red); })) << app_->output();
    EXPECT_TRUE(app_->waitForOutput("OSC Rev to Show"));
    oscsend("/mantleshade/clear");
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(white); })) << app_->output();
}

TEST_F(MantleshadeE2ETest, MissingIdIsLoggedAndShowsNothing) {
    launch();
    oscsend("/mantleshade/show i 9");
    EXPECT_TRUE(app_->waitForOutput("Trying to Show Index: 8 - overlay doesn't exist."))
        << app_->output();
    // A float ID is ignored; the next blackout proves the messages before it were handled.
    oscsend("/mantleshade/show f 1.0");
    oscsend("/mantleshade/blackout");
    ASSERT_TRUE(pollUntil([&] { return monitorsShow(black); }));
    const std::string out = app_->output();
    std::size_t count = 0;
    for (std::size_t at = out.find("OSC Rev to Show"); at != std::string::npos;
         at = out.find("OSC Rev to Show", at + 1))
        ++count;
    EXPECT_EQ(count, 1u) << out;
}

TEST_F(MantleshadeE2ETest, SigtermClosesCoversAndFreesThePort) {
    launch();
    oscsend("/mantleshade/blackout");
    ASSERT_TRUE(pollUntil([&] { return monitorsShow(black); }));
    app_->signal(SIGTERM);
    const std::optional<int> status = app_->waitForEnd();
    ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status)) << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(udpPortIsFree(port_));
    EXPECT_TRUE(monitorsShow(white));
}

TEST_F(MantleshadeE2ETest, SigintQuitsTheSameWay) {
    launch();
    app_->signal(SIGINT);
    const std::optional<int> status = app_->waitForEnd();
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_TRUE(udpPortIsFree(port_));
}

TEST_F(MantleshadeE2ETest, InvalidPortIsReportedAndTheAppRunsOn) {
    defaults_->set("oscPort", 70000);
    app_ = startApp(dir_.path(), dir_ / "out.log");
    ASSERT_TRUE(app_->waitForOutput("Invalid OSC port 70000")) << app_->output();
    EXPECT_TRUE(!app_->ended());
    EXPECT_TRUE(udpPortIsFree(70000 & 0xffff)) << "listening on the truncated port";
    app_->signal(SIGTERM);
    const std::optional<int> status = app_->waitForEnd();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace

// Whether a window titled Preferences is on screen.
static bool preferencesOnScreen(testsupport::Xvfb& xvfb) {
    return !xvfb.run("xdotool search --onlyvisible --name '^Preferences$' 2>/dev/null").empty();
}

TEST_F(MantleshadeE2ETest, AVideoCoverIsStillMovingOnBothMonitorsAfterThreeLoops) {
    std::vector<mantleshade::OverlayData> covers(1);
    covers[0].useSameMediaForAllScreens = true;
    covers[0].sharedMedia.emplace();
    covers[0].sharedMedia->setURL(
        foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/loop-160x90.mp4"));
    ASSERT_TRUE(mantleshade::OverlayData::saveList(covers, *defaults_));

    launch();
    oscsend("/mantleshade/show i 1");
    ASSERT_TRUE(pollUntil([&] { return monitorsShow([](const auto& p) { return !white(p); }); }))
        << app_->output();
    // The clip lasts one second: three loops pass, then each monitor's middle still changes
    // between two screenshots.
    std::this_thread::sleep_for(3500ms);
    std::optional<testsupport::Screenshot> previous;
    EXPECT_TRUE(pollUntil([&] {
        testsupport::Screenshot shot = xvfb_->screenshot();
        if (!shot.valid()) return false;
        bool moved = previous.has_value();
        for (const auto& m : xvfb_->monitors()) {
            const auto middle = [&](const testsupport::Screenshot& s) {
                return s.cropped(m.x + m.width / 4, m.y + m.height / 4, m.width / 2,
                                 m.height / 2).rgb;
            };
            moved = moved && middle(shot) != middle(*previous);
        }
        previous = std::move(shot);
        return moved;
    }, 10s)) << "a monitor froze\n" << app_->output();
    EXPECT_EQ(app_->output().find("stopped moving"), std::string::npos) << app_->output();
    // Meanwhile, with a tray there and its grace long past, only the icon showed.
    EXPECT_GT(xvfb_->tray()->dockRequests(), 0);
    EXPECT_EQ(app_->output().find("there is no system tray"), std::string::npos);
    EXPECT_FALSE(preferencesOnScreen(*xvfb_));
}

TEST_F(MantleshadeE2ETest, WithoutATrayPreferencesOpensAndTheIconDocksWhenOneAppears) {
    xvfb_->removeTray();
    app_ = startApp(dir_.path(), dir_ / "out.log");
    ASSERT_TRUE(app_->waitForOutput("there is no system tray")) << app_->output();
    EXPECT_TRUE(pollUntil([&] { return preferencesOnScreen(*xvfb_); })) << "no Preferences";
    const std::string out = app_->output();
    EXPECT_EQ(out.find("there is no system tray", out.find("there is no system tray") + 1),
              std::string::npos) << out;
    // A tray that comes later gets the icon.
    ASSERT_TRUE(xvfb_->provideTray());
    EXPECT_TRUE(pollUntil([&] { return xvfb_->tray()->dockRequests() > 0; }))
        << "the icon never asked to dock";
}

// Bytes waiting in the receive queues of the UDP sockets bound to `port`, from /proc/net/udp{,6}.
TEST_F(MantleshadeE2ETest, AfterABurstOfVideoCuesTheNextCueShowsAtOnce) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 0));
    const auto redFile = dir_ / "red.png";
    ASSERT_TRUE(image.save(QString::fromStdString(redFile.string())));
    const auto copy = dir_ / "copy.mp4";
    std::filesystem::copy_file(std::string(MS_TEST_DATA_DIR) + "/loop-160x90.mp4", copy);
    std::vector<mantleshade::OverlayData> covers(4);
    const std::string media[] = {std::string(MS_TEST_DATA_DIR) + "/loop-160x90.mp4",
                                 std::string(MS_TEST_DATA_DIR) + "/loop-160x120.mov",
                                 copy.string(), redFile.string()};
    for (std::size_t i = 0; i < covers.size(); ++i) {
        covers[i].useSameMediaForAllScreens = true;
        covers[i].sharedMedia.emplace();
        covers[i].sharedMedia->setURL(foundation::URL::fileURL(media[i]));
    }
    ASSERT_TRUE(mantleshade::OverlayData::saveList(covers, *defaults_));
    launch();

    // The middle of each monitor, read pixel by pixel from the server: a screenshot takes long
    // enough to blur the time this test bounds.
    xcb_connection_t* x = xcb_connect(xvfb_->display().c_str(), nullptr);
    ASSERT_FALSE(xcb_connection_has_error(x));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    auto middlesAreRed = [&] {
        for (const auto& m : xvfb_->monitors()) {
            auto cookie = xcb_get_image(x, XCB_IMAGE_FORMAT_Z_PIXMAP, root,
                                        static_cast<std::int16_t>(m.x + m.width / 2),
                                        static_cast<std::int16_t>(m.y + m.height / 2), 1, 1, ~0u);
            xcb_get_image_reply_t* reply = xcb_get_image_reply(x, cookie, nullptr);
            if (!reply) return false;
            const std::uint8_t* p = xcb_get_image_data(reply);
            // 24-bit TrueColor: bytes blue, green, red.
            const bool isRed = xcb_get_image_data_length(reply) >= 3 && red({p[2], p[1], p[0]});
            std::free(reply);
            if (!isRed) return false;
        }
        return true;
    };

    // 500 show cues, as fast as the socket takes them, switching among three videos.
    mstest::PlainSocket sender(AF_INET);
    for (int i = 0; i < 500; ++i)
        sender.sendTo(port_, mstest::oscMessage("/mantleshade/show", {1 + i % 3}));
    // The image cue goes once the application has taken the burst off its socket, so that it
    // cannot be lost to a full receive queue. The burst's shows may still be pending.
    ASSERT_TRUE(pollUntil([&] { return mstest::udpReceiveQueue(port_) == 0; }, 30s, 1ms));
    const auto sent = std::chrono::steady_clock::now();
    sender.sendTo(port_, mstest::oscMessage("/mantleshade/show", {4}));
    // Worked through one by one, the burst held the image back for five to ten seconds; the
    // newest cue is shown within some 100 ms (bench_show_latency has the figures).
    EXPECT_TRUE(pollUntil(middlesAreRed, 3s, 1ms)) << "not shown within 3 s of its send\n"
                                                   << app_->output();
    std::printf("image shown %.0f ms after its cue\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
                    .count());
    xcb_disconnect(x);
    // And it stays: no cue of the burst comes after it.
    oscsend("/mantleshade/blackout");
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(black); })) << app_->output();
}

TEST_F(MantleshadeE2ETest, WithoutAWindowManagerPreferencesOpensBelowACoverShownDuringTheGrace) {
    // No tray: Preferences opens after the grace. This server runs no window manager either, so
    // a window mapped later lands above the covers unless it is put back below them.
    xvfb_->removeTray();
    app_ = startApp(dir_.path(), dir_ / "out.log");
    ASSERT_TRUE(pollUntil([&] { return !udpPortIsFree(port_) || !!app_->ended(); }));
    ASSERT_TRUE(pollUntil([&] {
        sendBlackout();
        return pollUntil([&] { return monitorsShow(black); }, 300ms);
    })) << app_->output();
    ASSERT_TRUE(pollUntil([&] { return preferencesOnScreen(*xvfb_); })) << "no Preferences";
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(black); })) << "Preferences shows above a cover";
    // And the keyboard stays with the covers: a key press there hides them.
    xvfb_->run("xdotool key a");
    EXPECT_TRUE(pollUntil([&] { return monitorsShow(white) || !monitorsShow(black); }))
        << app_->output();
}

TEST_F(MantleshadeE2ETest, PreferencesBesideAPerScreenCoverKeepsTheKeyboardForItsFileDialog) {
    // As users meet it: a window manager stacks Preferences below the cover and gives a window
    // the keyboard when it is clicked.
    if (!xvfb_->startWindowManager()) GTEST_SKIP() << "no window manager (openbox) to run";
    const std::string left =
        mantleshade::displayIDKey(*desktop::displayIDForScreenName(xvfb_->monitors()[0].name));
    const std::string data = MS_TEST_DATA_DIR;
    std::vector<mantleshade::OverlayData> covers(2);
    covers[0].useSameMediaForAllScreens = false;
    covers[0].screenMedia[left].setURL(foundation::URL::fileURL(data + "/red-blue-400x200.png"));
    covers[1].useSameMediaForAllScreens = false;
    ASSERT_TRUE(mantleshade::OverlayData::saveList(covers, *defaults_));
    launch();

    // A cover on the left monitor only, the right one bare.
    auto leftShows = [&](int x,
                         const std::function<bool(const std::array<std::uint8_t, 3>&)>& test) {
        const testsupport::Screenshot shot = xvfb_->screenshot();
        return shot.valid() && test(shot.pixel(x, 540)) && white(shot.pixel(1920 + 640, 900));
    };
    // The red half of the image.
    auto coverIsUp = [&] { return leftShows(480, red); };
    oscsend("/mantleshade/show i 1");
    ASSERT_TRUE(pollUntil(coverIsUp)) << app_->output();
    const std::size_t shown = app_->output().size();

    // A second launch brings Preferences up, below the cover; it is moved to the other monitor
    // and clicked into.
    auto second = startApp(dir_.path(), dir_ / "second.log");
    ASSERT_TRUE(second->waitForEnd().has_value());
    ASSERT_TRUE(pollUntil([&] { return preferencesOnScreen(*xvfb_); })) << app_->output();
    auto windowNamed = [&](const std::string& pattern) {
        const std::string out =
            xvfb_->run("xdotool search --onlyvisible --name '" + pattern + "' 2>/dev/null");
        return out.substr(0, out.find('\n'));
    };
    const std::string preferences = windowNamed("^Preferences$");
    auto xdotool = [&](const std::string& arguments) {
        int status = -1;
        xvfb_->run("xdotool " + arguments + " >/dev/null 2>&1", &status);
        ASSERT_EQ(status, 0) << arguments;
    };
    auto focused = [&] { return xvfb_->run("xdotool getwindowfocus 2>/dev/null"); };
    xdotool("windowmove " + preferences + " 2150 100");
    ASSERT_TRUE(pollUntil([&] {
        const std::string at = xvfb_->run("xdotool getwindowgeometry " + preferences);
        return at.find("Position: 2") != std::string::npos;
    })) << "Preferences did not move to the right monitor";
    xdotool("mousemove --window " + preferences + " 300 15 click 1");
    ASSERT_TRUE(pollUntil([&] { return focused() == preferences + "\n"; }))
        << "Preferences never keeps the keyboard\n"
        << app_->output();

    // Media tab, the second cover, Browse… on the covered monitor's row: the keys reach
    // Preferences, and its file dialog opens beside it.
    xdotool("key ctrl+Tab Tab Down Tab Tab Tab Tab Tab Tab space");
    std::string dialog;
    ASSERT_TRUE(pollUntil([&] {
        dialog = windowNamed("^Select an image");
        return !dialog.empty() && focused() == dialog + "\n";
    })) << "no file dialog has the keyboard\n"
        << app_->output();

    const std::string chosen = data + "/green-300x400.jpg";
    xdotool("type " + chosen);
    // Return takes the name; a first one may only close the completion list.
    ASSERT_TRUE(pollUntil([&] {
        xdotool("key Return");
        return pollUntil([&] { return windowNamed("^Select an image").empty(); }, 1s);
    })) << app_->output();
    EXPECT_TRUE(pollUntil([&] {
        const auto list = mantleshade::OverlayData::loadList(*defaults_);
        return list && list->size() >= 2 && list->at(1).screenMedia.count(left) &&
               list->at(1).screenMedia.at(left).path == foundation::URL::fileURL(chosen);
    })) << "the chosen file is not stored: "
        << defaults_->string("overlays").value_or("");
    EXPECT_TRUE(coverIsUp()) << "the cover went";
    EXPECT_EQ(app_->output().find("Hiding", shown), std::string::npos) << app_->output();

    // The next cue shows it.
    oscsend("/mantleshade/show i 2");
    EXPECT_TRUE(pollUntil([&] {
        return leftShows(960, [](const auto& p) { return p[0] < 40 && p[1] > 100 && p[2] < 40; });
    })) << app_->output();
}
