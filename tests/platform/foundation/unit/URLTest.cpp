#include <unistd.h>

#include <string>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/foundation/URL.h"
#include "tests/support/TempDir.h"

namespace foundation {
namespace {

TEST(URL, ParseTable) {
    struct Case {
        std::string text;
        bool valid;
        std::string absolute = {};
        std::string path = {};
        bool file = false;
        std::string last = {};
        std::string ext = {};
    };
    const std::vector<Case> cases = {
        {"file:///a%20b.png", true, "file:///a%20b.png", "/a b.png", true, "a b.png", "png"},
        {"file:///Users/me/Movies/Clip.MOV", true, "file:///Users/me/Movies/Clip.MOV",
         "/Users/me/Movies/Clip.MOV", true, "Clip.MOV", "MOV"},
        {"file:///dir/sub/", true, "file:///dir/sub/", "/dir/sub", true, "sub", ""},
        {"file:///", true, "file:///", "/", true, "/", ""},
        {"file://localhost/x.gif", true, "file://localhost/x.gif", "/x.gif", true, "x.gif", "gif"},
        {"FILE:///x.tar.gz", true, "FILE:///x.tar.gz", "/x.tar.gz", true, "x.tar.gz", "gz"},
        {"file:///h/.hidden", true, "file:///h/.hidden", "/h/.hidden", true, ".hidden", ""},
        {"file:///h/trailingdot.", true, "file:///h/trailingdot.", "/h/trailingdot.", true,
         "trailingdot.", ""},
        {"file:///caf%C3%A9.jpg", true, "file:///caf%C3%A9.jpg", "/caf\xC3\xA9.jpg", true,
         "caf\xC3\xA9.jpg", "jpg"},
        {"https://example.com/a/b.html?q=1#top", true, "https://example.com/a/b.html?q=1#top",
         "/a/b.html", false, "b.html", "html"},
        {"https://example.com", true, "https://example.com", "", false, "", ""},
        {"mailto:someone@example.com", true, "mailto:someone@example.com", "someone@example.com",
         false, "someone@example.com", "com"},
        // Characters a URL cannot hold are encoded, as the platform's parser does.
        {"file:///a b.png", true, "file:///a%20b.png", "/a b.png", true, "a b.png", "png"},
        {"file:///caf\xC3\xA9", true, "file:///caf%C3%A9", "/caf\xC3\xA9", true, "caf\xC3\xA9", ""},
        // Not URLs.
        {"", false},
        {"/no/scheme.png", false},
        {"relative.png", false},
        {"1http://x", false},
        {":nothing", false},
        {"file:///bad%2", false},
        {"file:///bad%zz", false},
        {"file:///tab\there", false},
        {"file:///nul%00byte", false},
        {"file://otherhost/x", false},
        {"file:relative/x", false},
    };
    for (const auto& c : cases) {
        auto url = URL::fromString(c.text);
        ASSERT_EQ(url.has_value(), c.valid) << c.text;
        if (!url) continue;
        EXPECT_EQ(url->absoluteString(), c.absolute) << c.text;
        EXPECT_EQ(url->path(), c.path) << c.text;
        EXPECT_EQ(url->isFileURL(), c.file) << c.text;
        EXPECT_EQ(url->lastPathComponent(), c.last) << c.text;
        EXPECT_EQ(url->pathExtension(), c.ext) << c.text;
    }
}

TEST(URL, FileURLEncodesPathAndRoundTrips) {
    struct Case {
        std::string path;
        std::string absolute;
    };
    const std::vector<Case> cases = {
        {"/a b.png", "file:///a%20b.png"},
        {"/x/100%.jpg", "file:///x/100%25.jpg"},
        {"/q?/h#.mov", "file:///q%3F/h%23.mov"},
        {"/keep/!$&'()*+,;=:@-._~", "file:///keep/!$&'()*+,;=:@-._~"},
        {"/caf\xC3\xA9", "file:///caf%C3%A9"},
        {"/nonexistent-ms-dir/", "file:///nonexistent-ms-dir/"},
        {std::string("/cut\0here", 9), "file:///cut"},
    };
    for (const auto& c : cases) {
        URL url = URL::fileURL(c.path);
        EXPECT_EQ(url.absoluteString(), c.absolute);
        auto reparsed = URL::fromString(url.absoluteString());
        ASSERT_TRUE(reparsed) << c.absolute;
        EXPECT_EQ(*reparsed, url);
    }
    EXPECT_EQ(URL::fileURL("/a b.png").path(), "/a b.png");
}

TEST(URL, FileURLMakesRelativePathsAbsoluteAndMarksDirectories) {
    testsupport::TempDir dir;
    std::string cwd = std::filesystem::current_path().string();
    URL rel = URL::fileURL("some file.txt");
    EXPECT_EQ(rel.path(), (std::filesystem::path(cwd) / "some file.txt").string());
    URL folder = URL::fileURL(dir.path().string());
    EXPECT_EQ(folder.absoluteString().back(), '/');
    EXPECT_EQ(folder.path(), dir.path().string());
}

TEST(URL, DeletingLastPathComponent) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"file:///a/b.png", "file:///a/"},
        {"file:///a/b/", "file:///a/"},
        {"file:///a", "file:///"},
        {"file:///", "file:///"},
        {"https://h.org/x/y?q#f", "https://h.org/x/"},
    };
    for (const auto& [from, to] : cases)
        EXPECT_EQ(URL::fromString(from)->deletingLastPathComponent().absoluteString(), to) << from;
}

TEST(URL, HostSchemeEqualityHash) {
    auto u = *URL::fromString("HTTPS://user@Example.com:8443/p");
    EXPECT_EQ(u.scheme(), "https");
    EXPECT_EQ(u.host(), "Example.com");
    EXPECT_EQ(URL::fromString("http://[::1]:80/")->host(), "::1");
    auto a = *URL::fromString("file:///a%20b");
    auto b = URL::fileURL("/a b");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, *URL::fromString("file:///a%20c"));
    std::unordered_set<URL> set{a, b};
    EXPECT_EQ(set.size(), 1u);
}

TEST(URL, JsonIsTheAbsoluteString) {
    URL url = URL::fileURL("/Movies/a b.mp4");
    nlohmann::json j = url;
    EXPECT_EQ(j, "file:///Movies/a%20b.mp4");
    EXPECT_EQ(j.get<URL>(), url);
    EXPECT_THROW((void)nlohmann::json(5).get<URL>(), nlohmann::json::type_error);
    EXPECT_THROW((void)nlohmann::json("not a url").get<URL>(), nlohmann::json::other_error);
    EXPECT_THROW((void)nlohmann::json("").get<URL>(), nlohmann::json::exception);
}

}  // namespace
}  // namespace foundation
