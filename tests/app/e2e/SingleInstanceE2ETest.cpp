// Launches build/bin/mantleshade more than once, as a user clicking its desktop entry twice would:
// one running copy per user and display, and a clear line without any display.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>

#include "platform/foundation/UserDefaults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackNet.h"
#include "tests/support/Poll.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace {

using namespace std::chrono_literals;
using Environment = mstest::ChildProcess::Environment;  // nullopt: unset

const std::string kHandOverLine = "Mantleshade is already running; showing its Preferences.\n";

using mstest::freeUdpPort;
using mstest::pollUntil;
using mstest::udpPortIsFree;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// One launch of the binary with the given environment changes; output goes to `log`.
class Launch : public mstest::ChildProcess {
  public:
    Launch(const Environment& environment, const std::filesystem::path& log)
        : ChildProcess({"mantleshade"},
                       {environment, log, MS_BINARY_DIR "/bin/mantleshade", SIGKILL}) {}
    // The exit code; empty when still running after `timeout` or not ended by exit().
    std::optional<int> exitCode(std::chrono::milliseconds timeout = 15s) {
        const std::optional<int> status = waitForEnd(timeout);
        if (!status || !WIFEXITED(*status)) return std::nullopt;
        return WEXITSTATUS(*status);
    }
    double milliseconds() const {
        return std::chrono::duration<double, std::milli>(lifetime()).count();
    }
};

class SingleInstanceE2ETest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(MS_BINARY_DIR "/bin/mantleshade"))
            GTEST_SKIP() << "build/bin/mantleshade is not built";
        std::filesystem::create_directories(runtime_);
        ::chmod(runtime_.c_str(), 0700);
    }

    bool startX(std::unique_ptr<testsupport::Xvfb>& x) {
        x = std::make_unique<testsupport::Xvfb>(
            std::vector<testsupport::Xvfb::Monitor>{{"MS-ONE", 0, 0, 1024, 768}}, "1024x768x24");
        return x->ok();
    }

    // A settings folder of its own, listening on a free port.
    std::uint16_t makeConfig(const std::filesystem::path& home) {
        const std::uint16_t port = freeUdpPort();
        foundation::UserDefaults::openAt(home / "mantleshade" / "defaults.json")
            ->set("oscPort", static_cast<std::int64_t>(port));
        return port;
    }

    Environment environment(const std::string& display, const std::filesystem::path& home) const {
        return {{"DISPLAY", display},
                {"WAYLAND_DISPLAY", std::nullopt},
                {"QT_QPA_PLATFORM", "xcb"},
                {"XDG_CONFIG_HOME", home.string()},
                {"XDG_RUNTIME_DIR", runtime_.string()}};
    }

    // Started and listening: the port is taken while the process runs on.
    static bool isUp(Launch& app, std::uint16_t port) {
        return pollUntil([&] { return !udpPortIsFree(port) || app.ended(); }) && !app.ended();
    }

    static bool preferencesShownOn(const testsupport::Xvfb& x,
                                   std::chrono::milliseconds timeout = 10s) {
        return pollUntil(
            [&] {
                int status = -1;
                x.run("xdotool search --onlyvisible --name '^Preferences$' >/dev/null 2>&1",
                      &status);
                return status == 0;
            },
            timeout);
    }

    testsupport::TempDir dir_{"ms-single"};
    std::filesystem::path runtime_ = dir_ / "run";
};

TEST_F(SingleInstanceE2ETest, SecondLaunchHandsOverAndTheFirstShowsItsPreferences) {
    std::unique_ptr<testsupport::Xvfb> x;
    if (!startX(x)) GTEST_SKIP() << x->error();
    const auto home = dir_ / "config";
    const std::uint16_t port = makeConfig(home);
    const Environment env = environment(x->display(), home);

    Launch first(env, dir_ / "first.log");
    ASSERT_TRUE(isUp(first, port)) << first.output();
    const std::string defaultsBefore = readFile(home / "mantleshade" / "defaults.json");
    ASSERT_FALSE(preferencesShownOn(*x, 0ms));

    Launch second(env, dir_ / "second.log");
    EXPECT_EQ(second.exitCode(), 0) << second.output();
    EXPECT_EQ(second.output(), kHandOverLine);
    RecordProperty("second_launch_ms", std::to_string(second.milliseconds()));
    EXPECT_TRUE(preferencesShownOn(*x)) << first.output();

    EXPECT_FALSE(first.ended()) << first.output();
    EXPECT_FALSE(udpPortIsFree(port));
    EXPECT_EQ(readFile(home / "mantleshade" / "defaults.json"), defaultsBefore);
}

TEST_F(SingleInstanceE2ETest, CopyKilledOutrightDoesNotBlockTheNext) {
    std::unique_ptr<testsupport::Xvfb> x;
    if (!startX(x)) GTEST_SKIP() << x->error();
    const auto home = dir_ / "config";
    const std::uint16_t port = makeConfig(home);
    const Environment env = environment(x->display(), home);

    auto first = std::make_unique<Launch>(env, dir_ / "first.log");
    ASSERT_TRUE(isUp(*first, port)) << first->output();
    first->signal(SIGKILL);
    ASSERT_TRUE(first->exitCode() == std::nullopt);  // ended by the signal
    ASSERT_TRUE(first->ended());
    ASSERT_TRUE(pollUntil([&] { return udpPortIsFree(port); }));

    Launch next(env, dir_ / "next.log");
    EXPECT_TRUE(isUp(next, port)) << next.output();
    EXPECT_EQ(next.output().find("already running"), std::string::npos) << next.output();
}

TEST_F(SingleInstanceE2ETest, EachDisplayHasItsOwnCopy) {
    std::unique_ptr<testsupport::Xvfb> a, b;
    if (!startX(a)) GTEST_SKIP() << a->error();
    if (!startX(b)) GTEST_SKIP() << b->error();
    const std::uint16_t portA = makeConfig(dir_ / "a");
    const std::uint16_t portB = makeConfig(dir_ / "b");

    Launch onA(environment(a->display(), dir_ / "a"), dir_ / "a.log");
    ASSERT_TRUE(isUp(onA, portA)) << onA.output();
    Launch onB(environment(b->display(), dir_ / "b"), dir_ / "b.log");
    EXPECT_TRUE(isUp(onB, portB)) << onB.output();
    EXPECT_FALSE(onA.ended());
    b.reset();  // restores DISPLAY in the order the servers were made
}

TEST_F(SingleInstanceE2ETest, WithoutADisplayItSaysSoAndExits) {
    Launch app({{"DISPLAY", std::nullopt},
                {"WAYLAND_DISPLAY", std::nullopt},
                {"QT_QPA_PLATFORM", std::nullopt},
                {"XDG_CONFIG_HOME", (dir_ / "config").string()}},
               dir_ / "out.log");
    EXPECT_EQ(app.exitCode(), 1) << app.output();
    EXPECT_EQ(app.output(),
              "mantleshade: no display: DISPLAY and WAYLAND_DISPLAY are unset; start it inside a "
              "desktop session\n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "config" / "mantleshade"));
}

TEST_F(SingleInstanceE2ETest, ADisplayThatIsNotThereIsNamedInOneLine) {
    // A display number no server listens on: its socket is absent.
    int free = 90;
    while (free < 200 && std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(free))) ++free;
    const std::string x11 = ":" + std::to_string(free), wayland = "wayland-ms-none";
    const std::string noX = "mantleshade: no display: cannot open DISPLAY=" + x11 +
                            " (no X server answers there); start it inside a desktop session\n";
    struct Case {
        std::optional<std::string> x11, wayland, platform;
        std::string start;  // of the one line
    };
    for (const Case& c : {
             Case{x11, std::nullopt, std::nullopt, noX},
             Case{x11, std::nullopt, "xcb", noX},
             Case{std::nullopt, wayland, "xcb",
                  "mantleshade: no display: DISPLAY is unset; start it inside a desktop session\n"},
             // Whichever part of Wayland is missing here, it is named.
             Case{std::nullopt, wayland, std::nullopt,
                  "mantleshade: no display: cannot open WAYLAND_DISPLAY=" + wayland}}) {
        SCOPED_TRACE(c.start);
        Launch app({{"DISPLAY", c.x11},
                    {"WAYLAND_DISPLAY", c.wayland},
                    {"QT_QPA_PLATFORM", c.platform},
                    {"XDG_CONFIG_HOME", (dir_ / "config").string()}},
                   dir_ / "out.log");
        EXPECT_EQ(app.exitCode(), 1) << app.output();
        const std::string out = app.output();
        EXPECT_EQ(out.rfind(c.start, 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_FALSE(std::filesystem::exists(dir_ / "config" / "mantleshade"));
    }
}

}  // namespace
