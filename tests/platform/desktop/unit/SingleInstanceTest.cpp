#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "platform/desktop/DisplayEnvironment.h"
#include "platform/desktop/SingleInstance.h"
#include "tests/support/TempDir.h"

namespace {

// Sets (or, for nullopt, unsets) variables for its lifetime.
class ScopedEnvironment {
  public:
    explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            previous_[name] = old ? std::optional<std::string>(old) : std::nullopt;
            set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : previous_) set(name, value);
    }

  private:
    static void set(const std::string& name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::map<std::string, std::optional<std::string>> previous_;
};

using desktop::SingleInstance;

}  // namespace

TEST(DisplayEnvironment, KeyNamesTheDisplayInAFileNameSafeForm) {
    struct Case {
        std::optional<std::string> x11, wayland, platform;
        const char* key;
    };
    const Case cases[] = {
        {":1", std::nullopt, std::nullopt, "_1"},
        {":1.0", std::nullopt, std::nullopt, "_1"},  // the screen number is not the display
        {"localhost:10.0", "wayland-0", std::nullopt, "localhost_10"},
        {"/tmp/launch-x/org.x:0", std::nullopt, std::nullopt, "_tmp_launch-x_org.x_0"},
        {std::nullopt, "wayland-1", "wayland", "wayland-1"},
        {std::nullopt, std::nullopt, "offscreen:configfile=/a/b.json", "offscreen"},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env(
            {{"DISPLAY", c.x11}, {"WAYLAND_DISPLAY", c.wayland}, {"QT_QPA_PLATFORM", c.platform}});
        EXPECT_EQ(desktop::displayKey(), c.key) << c.x11.value_or("-");
    }
}

TEST(DisplayEnvironment, ADisplayOrAnExplicitPlatformIsEnough) {
    struct Case {
        std::optional<std::string> x11, wayland, platform;
        const char* argument;
        bool has;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, nullptr, false},
        {"", "", "", nullptr, false},
        {":0", std::nullopt, std::nullopt, nullptr, true},
        {std::nullopt, "wayland-0", std::nullopt, nullptr, true},
        {std::nullopt, std::nullopt, "offscreen", nullptr, true},
        {std::nullopt, std::nullopt, std::nullopt, "-platform", true},
    };
    for (const Case& c : cases) {
        ScopedEnvironment env(
            {{"DISPLAY", c.x11}, {"WAYLAND_DISPLAY", c.wayland}, {"QT_QPA_PLATFORM", c.platform}});
        std::string program = "mantleshade", argument = c.argument ? c.argument : "-x";
        char* argv[] = {program.data(), argument.data(), nullptr};
        EXPECT_EQ(desktop::hasDisplay(2, argv), c.has) << (c.argument ? c.argument : "");
    }
}

// flock conflicts between two open files of one process too, so copies can be played here.
TEST(SingleInstance, SecondCopyHandsOverAndTheLockDiesWithItsHolder) {
    testsupport::TempDir dir("ms-single");
    ScopedEnvironment env({{"XDG_RUNTIME_DIR", dir.path().string()}});
    auto first = std::make_unique<SingleInstance>("org.example.app", "_7");
    ASSERT_EQ(first->start(), SingleInstance::Outcome::primary);
    EXPECT_EQ(first->lockPath(), dir / "org.example.app-_7.lock");
    EXPECT_TRUE(std::filesystem::is_socket(first->socketPath()));

    std::string problem;
    EXPECT_EQ(SingleInstance("org.example.app", "_7").start(&problem),
              SingleInstance::Outcome::handedOver);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(SingleInstance("org.example.app", "_8").start(), SingleInstance::Outcome::primary);

    // Held but not answering: the caller is told, nothing is taken over.
    std::filesystem::remove(first->socketPath());
    EXPECT_EQ(SingleInstance("org.example.app", "_7").start(&problem),
              SingleInstance::Outcome::unreachable);
    EXPECT_NE(problem.find("does not answer"), std::string::npos) << problem;

    first.reset();
    std::ofstream(dir / "org.example.app-_7.socket") << "left behind";
    SingleInstance next("org.example.app", "_7");
    EXPECT_EQ(next.start(&problem), SingleInstance::Outcome::primary);
    EXPECT_TRUE(std::filesystem::is_socket(next.socketPath())) << problem;
}

TEST(SingleInstance, WithoutARuntimeFolderTheLockIsInTheSettingsFolder) {
    testsupport::TempDir dir("ms-single");
    ScopedEnvironment env(
        {{"XDG_RUNTIME_DIR", std::nullopt}, {"XDG_CONFIG_HOME", dir.path().string()}});
    SingleInstance instance("org.example.app", "_7", "example");
    EXPECT_EQ(instance.start(), SingleInstance::Outcome::primary);
    EXPECT_TRUE(std::filesystem::exists(dir / "example" / "org.example.app-_7.lock"));
}
