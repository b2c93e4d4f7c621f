#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/desktop/FileReveal.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;

// PATH set for the scope.
struct PathOverride {
    std::string old = std::getenv("PATH") ? std::getenv("PATH") : "";
    explicit PathOverride(const std::string& path) { ::setenv("PATH", path.c_str(), 1); }
    ~PathOverride() { ::setenv("PATH", old.c_str(), 1); }
};

// Without a file manager on the bus, the folder goes to xdg-open, and a failing xdg-open is
// reported rather than ignored.
TEST(DesktopFileReveal, AFolderNobodyCouldOpenIsReported) {
    ensureApplication();
    testsupport::TempDir dir("ms-reveal");
    const std::string bin = (dir / "bin").string();
    ::mkdir(bin.c_str(), 0755);
    const std::string seen = (dir / "seen.txt").string();
    PathOverride path(bin + ":/usr/bin:/bin");
    for (const int exitCode : {0, 3}) {
        SCOPED_TRACE(exitCode);
        std::ofstream(bin + "/xdg-open")
            << "#!/bin/sh\necho \"$1\" > '" << seen << "'\nexit " << exitCode << "\n";
        ::chmod((bin + "/xdg-open").c_str(), 0755);
        std::remove(seen.c_str());
        bool reported = false;
        desktop::FileReveal::reveal((dir / "clip.mp4").string(), [&] { reported = true; });
        ASSERT_TRUE(spinUntil([&] { return std::ifstream(seen).good() || reported; }, 15s));
        if (exitCode != 0) EXPECT_TRUE(spinUntil([&] { return reported; }, 10s));
        else EXPECT_FALSE(spinUntil([&] { return reported; }, 500ms));
        std::string url;
        std::getline(std::ifstream(seen) >> std::ws, url);
        const QUrl folder = desktop::FileReveal::folderURL((dir / "clip.mp4").string());
        EXPECT_EQ(url, folder.toString(QUrl::FullyEncoded).toStdString());
    }
}

}  // namespace
