#include <filesystem>
#include <fstream>
#include <functional>
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

TEST_F(BookmarkTest, AFileRenamedInItsFolderIsFoundByItsIdentity) {
    struct Case {
        const char* what;
        std::function<std::filesystem::path(const std::filesystem::path&)> change;
        bool found;  // at the path the change answers
    };
    const Case cases[] = {
        {"renamed",
         [&](const auto& file) {
             auto to = file.parent_path() / "renamed clip.mp4";
             std::filesystem::rename(file, to);
             return to;
         },
         true},
        {"renamed among other files",
         [&](const auto& file) {
             for (int i = 0; i < 50; ++i)
                 writeFile(file.parent_path() / ("other" + std::to_string(i)), "o");
             auto to = file.parent_path() / "zz.mp4";
             std::filesystem::rename(file, to);
             return to;
         },
         true},
        {"moved to another folder",
         [&](const auto& file) {
             std::filesystem::create_directory(file.parent_path() / "elsewhere");
             auto to = file.parent_path() / "elsewhere" / "clip.mp4";
             std::filesystem::rename(file, to);
             return to;
         },
         false},
        {"its folder gone",
         [&](const auto& file) {
             std::filesystem::remove_all(file.parent_path());
             return file;
         },
         false},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto folder = dir / ("round" + std::to_string(++round));
        std::filesystem::create_directory(folder);
        const auto file = folder / "clip.mp4";
        writeFile(file, "x");
        auto data = createBookmark(URL::fileURL(file.string()));
        ASSERT_FALSE(data.empty());
        const auto now = c.change(file);

        bool stale = false;
        Error error;
        auto resolved = resolveBookmark(data, stale, &error);
        if (!c.found) {
            EXPECT_FALSE(resolved);
            EXPECT_EQ(error.code, kFileReadNoSuchFileError);
            continue;
        }
        ASSERT_TRUE(resolved) << error.localizedDescription();
        EXPECT_EQ(resolved->path(), now.string());
        EXPECT_TRUE(stale);
        // A bookmark made again records the new name: no longer stale.
        auto renewed = createBookmark(*resolved);
        EXPECT_EQ(resolveBookmark(renewed, stale), *resolved);
        EXPECT_FALSE(stale);
    }
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
