#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/Bookmark.h"
#include "tests/support/TempDir.h"

namespace foundation {
namespace {

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

class BookmarkTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir{"ms-bookmark"};
};

TEST_F(BookmarkTest, CreateAndResolveSameFile) {
    auto path = dir / "clip with space.mp4";
    writeFile(path, "x");
    URL url = URL::fileURL(path.string());
    Error error;
    auto data = createBookmark(url, &error);
    ASSERT_FALSE(data.empty()) << error.localizedDescription();
    bool stale = true;
    auto resolved = resolveBookmark(data, stale, &error);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, url);
    EXPECT_FALSE(stale);
    EXPECT_TRUE(startAccessingSecurityScopedResource(*resolved));
    stopAccessingSecurityScopedResource(*resolved);
}

TEST_F(BookmarkTest, StaleWhenReplacedGoneWhenRemoved) {
    auto path = dir / "a.png";
    writeFile(path, "one");
    auto data = createBookmark(URL::fileURL(path.string()));
    ASSERT_FALSE(data.empty());

    // Replace by rename: same path, different inode.
    writeFile(dir / "b.png", "two");
    std::filesystem::rename(dir / "b.png", path);
    bool stale = false;
    auto resolved = resolveBookmark(data, stale);
    ASSERT_TRUE(resolved);
    EXPECT_TRUE(stale);
    EXPECT_EQ(resolved->path(), path.string());

    std::filesystem::remove(path);
    Error error;
    stale = true;
    EXPECT_FALSE(resolveBookmark(data, stale, &error));
    EXPECT_FALSE(stale);
    EXPECT_EQ(error.domain, kBookmarkErrorDomain);
    EXPECT_EQ(error.code, kFileReadNoSuchFileError);
    EXPECT_NE(error.localizedDescription().find("a.png"), std::string::npos);
}

TEST_F(BookmarkTest, CreateFailsForMissingFileAndNonFileURL) {
    Error error;
    EXPECT_TRUE(createBookmark(URL::fileURL((dir / "missing.mov").string()), &error).empty());
    EXPECT_EQ(error.code, kFileReadNoSuchFileError);
    EXPECT_TRUE(createBookmark(*URL::fromString("https://example.com/a.png"), &error).empty());
    EXPECT_EQ(error.code, kFileReadUnsupportedSchemeError);
    EXPECT_TRUE(createBookmark(URL::fileURL("/"), nullptr).size() > 0);  // null error is fine
}

TEST_F(BookmarkTest, GarbageAndTamperedDataAreRejected) {
    auto path = dir / "f.jpg";
    writeFile(path, "z");
    auto good = createBookmark(URL::fileURL(path.string()));
    ASSERT_GT(good.size(), 25u);

    std::vector<std::vector<std::uint8_t>> bad = {
        {},
        {'M', 'S', 'B', 'K'},
        std::vector<std::uint8_t>(good.begin(), good.end() - 1),  // truncated path
    };
    auto extra = good;
    extra.push_back('x');  // length no longer matches
    bad.push_back(extra);
    auto magic = good;
    magic[0] = 'X';
    bad.push_back(magic);
    auto version = good;
    version[4] = 9;
    bad.push_back(version);
    auto hugeLength = good;
    hugeLength[24] = 0xFF;
    bad.push_back(hugeLength);
    auto relative = good;
    relative[25] = 'r';
    bad.push_back(relative);
    auto nul = good;
    nul.back() = 0;
    bad.push_back(nul);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        bool stale = true;
        Error error;
        EXPECT_FALSE(resolveBookmark(bad[i], stale, &error)) << "case " << i;
        EXPECT_FALSE(stale);
        EXPECT_EQ(error.code, kFileReadCorruptFileError) << "case " << i;
    }
}

}  // namespace
}  // namespace foundation
