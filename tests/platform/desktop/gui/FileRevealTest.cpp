#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "platform/desktop/FileReveal.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// PATH set to one folder for the scope.
class PathOverride {
  public:
    explicit PathOverride(const std::string& path) {
        if (const char* old = std::getenv("PATH")) old_ = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~PathOverride() { ::setenv("PATH", old_.c_str(), 1); }

  private:
    std::string old_;
};

// Without a file manager on the bus, the folder goes to xdg-open, and a failing xdg-open is
// reported rather than ignored.
TEST(DesktopFileReveal, AFolderNobodyCouldOpenIsReported) {
    ensureApplication();
    testsupport::TempDir dir("ms-reveal");
    const std::string bin = (dir / "bin").string();
    ::mkdir(bin.c_str(), 0755);
    const std::string seen = (dir / "seen.txt").string();
    struct Case {
        int exitCode;
        bool reported;
    };
    for (const Case c : {Case{0, false}, Case{3, true}}) {
        SCOPED_TRACE(c.exitCode);
        {
            std::ofstream script(bin + "/xdg-open");
            script << "#!/bin/sh\necho \"$1\" > '" << seen << "'\nexit " << c.exitCode << "\n";
        }
        ::chmod((bin + "/xdg-open").c_str(), 0755);
        std::remove(seen.c_str());
        PathOverride path(bin + ":/usr/bin:/bin");
        bool reported = false;
        desktop::FileReveal::reveal((dir / "clip.mp4").string(), [&] { reported = true; });
        ASSERT_TRUE(spinUntil([&] { return std::ifstream(seen).good() || reported; }, 15s));
        if (c.reported) EXPECT_TRUE(spinUntil([&] { return reported; }, 10s));
        else EXPECT_FALSE(spinUntil([&] { return reported; }, 500ms));
        std::string url;
        std::getline(std::ifstream(seen) >> std::ws, url);
        EXPECT_EQ(url, desktop::FileReveal::folderURL((dir / "clip.mp4").string()).toString(
                           QUrl::FullyEncoded)
                           .toStdString());
    }
}

}  // namespace
