#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EngineFixture.h"
#include "covers/OverlayData.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Bookmark.h"

using mantleshade::OverlayData;
using ::testing::ElementsAre;

namespace {

const char* kId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

std::string coverJSON(const std::string& fields) {
    return std::string("[{") + fields + "}]";
}

OverlayData::MediaItem media(std::optional<std::string> path, bool bookmark = false) {
    OverlayData::MediaItem item;
    if (path) item.path = foundation::URL::fileURL(*path);
    if (bookmark) item.bookmark = std::vector<std::uint8_t>{1, 2, 3};
    return item;
}

void touch(const std::filesystem::path& path) {
    std::ofstream(path) << "x";
}

}  // namespace

TEST(OverlayDataJSON, EncodesKeysInDeclarationOrderAndLeavesOutAbsentFields) {
    OverlayData cover;
    cover.id = *foundation::UUID::fromString(kId);
    cover.useSameMediaForAllScreens = false;
    cover.name = "Stage \"left\"";
    cover.screenMedia["4"] = media("/m/a b.png", true);
    cover.screenMedia["17"] = OverlayData::MediaItem{};
    EXPECT_EQ(OverlayData::encodeList({cover}),
              "[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\"screenMedia\":{\"17\":{},"
              "\"4\":{\"path\":\"file:///m/a%20b.png\",\"bookmark\":\"AQID\"}},"
              "\"useSameMediaForAllScreens\":false,\"name\":\"Stage \\\"left\\\"\"}]");

    cover.sharedMedia = media("/m/v.mov");
    cover.screenMedia.clear();
    EXPECT_EQ(OverlayData::encodeList({cover}),
              "[{\"id\":\"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\",\"sharedMedia\":{\"path\":"
              "\"file:///m/v.mov\"},\"screenMedia\":{},\"useSameMediaForAllScreens\":false,"
              "\"name\":\"Stage \\\"left\\\"\"}]");
    EXPECT_EQ(OverlayData::encodeList({}), "[]");
}

TEST(OverlayDataJSON, RoundTrips) {
    OverlayData a;
    a.name = "Ä € 🎬";
    a.sharedMedia = media("/x/clip.mp4", true);
    OverlayData b;
    b.useSameMediaForAllScreens = false;
    b.screenMedia["123"] = media("/y/p.png");
    b.screenMedia["0"] = media(std::nullopt, true);
    auto decoded = OverlayData::decodeList(OverlayData::encodeList({a, b}));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    const OverlayData& da = (*decoded)[0];
    const OverlayData& db = (*decoded)[1];
    EXPECT_EQ(da.id, a.id);
    EXPECT_NE(da.id, db.id);
    EXPECT_EQ(da.name, a.name);
    EXPECT_TRUE(da.useSameMediaForAllScreens);
    ASSERT_TRUE(da.sharedMedia);
    EXPECT_EQ(da.sharedMedia->path, a.sharedMedia->path);
    EXPECT_EQ(da.sharedMedia->bookmark, a.sharedMedia->bookmark);
    EXPECT_FALSE(db.sharedMedia);
    ASSERT_EQ(db.screenMedia.size(), 2u);
    EXPECT_EQ(db.screenMedia.at("123").path, b.screenMedia.at("123").path);
    EXPECT_FALSE(db.screenMedia.at("0").path);
    EXPECT_EQ(db.screenMedia.at("0").bookmark, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(OverlayDataJSON, DecodesWhatTheStoredFormAllows) {
    const std::string id = std::string("\"id\":\"") + kId + "\"";
    const std::string rest = "\"screenMedia\":{},\"useSameMediaForAllScreens\":true,\"name\":\"n\"";
    struct Case {
        const char* what;
        std::string text;
        bool shared;
    };
    const Case cases[] = {
        {"no sharedMedia", coverJSON(id + "," + rest), false},
        {"null sharedMedia", coverJSON(id + ",\"sharedMedia\":null," + rest), false},
        {"empty sharedMedia", coverJSON(id + ",\"sharedMedia\":{}," + rest), true},
        {"unknown keys", coverJSON(id + ",\"colour\":[1,2],\"sharedMedia\":{\"x\":1}," + rest),
         true},
        {"any key order",
         "[{\"name\":\"n\",\"useSameMediaForAllScreens\":true,\"screenMedia\":{},"
         "\"sharedMedia\":{\"path\":\"file:///a.png\"}," +
             id + "}]",
         true},
        {"lower-case id", coverJSON("\"id\":\"e621e1f8-c36c-495a-93fc-0c247a3e6e5f\"," + rest),
         false},
        {"whitespace", " [ {" + id + " , " + rest + "} ] ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto list = OverlayData::decodeList(c.text);
        ASSERT_TRUE(list) << c.text;
        ASSERT_EQ(list->size(), 1u);
        EXPECT_EQ((*list)[0].id.uuidString(), kId);
        EXPECT_EQ((*list)[0].sharedMedia.has_value(), c.shared);
        EXPECT_EQ((*list)[0].name, "n");
    }
    EXPECT_EQ(OverlayData::decodeList("[]")->size(), 0u);
}

TEST(OverlayDataJSON, AnyFaultMakesTheWholeListUndecodable) {
    const std::string id = std::string("\"id\":\"") + kId + "\"";
    const std::string good =
        "{" + id + ",\"screenMedia\":{},\"useSameMediaForAllScreens\":true,\"name\":\"n\"}";
    auto withGood = [&](const std::string& bad) { return "[" + good + "," + bad + "]"; };
    const std::string screens = "\"screenMedia\":{}";
    const std::string same = "\"useSameMediaForAllScreens\":true";
    const std::string name = "\"name\":\"n\"";
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"missing id", withGood("{" + screens + "," + same + "," + name + "}")},
        {"missing screenMedia", withGood("{" + id + "," + same + "," + name + "}")},
        {"missing useSame", withGood("{" + id + "," + screens + "," + name + "}")},
        {"missing name", withGood("{" + id + "," + screens + "," + same + "}")},
        {"null name", withGood("{" + id + "," + screens + "," + same + ",\"name\":null}")},
        {"id not a UUID",
         withGood("{\"id\":\"E621E1F8\"," + screens + "," + same + "," + name + "}")},
        {"id a number", withGood("{\"id\":7," + screens + "," + same + "," + name + "}")},
        {"useSame as number",
         withGood("{" + id + "," + screens + ",\"useSameMediaForAllScreens\":1," + name + "}")},
        {"name as number", withGood("{" + id + "," + screens + "," + same + ",\"name\":3}")},
        {"screenMedia an array",
         withGood("{" + id + ",\"screenMedia\":[]," + same + "," + name + "}")},
        {"screen item not object",
         withGood("{" + id + ",\"screenMedia\":{\"1\":5}," + same + "," + name + "}")},
        {"path not a URL", withGood("{" + id + ",\"sharedMedia\":{\"path\":\"no scheme\"}," +
                                    screens + "," + same + "," + name + "}")},
        {"path a number", withGood("{" + id + ",\"sharedMedia\":{\"path\":1}," + screens + "," +
                                   same + "," + name + "}")},
        {"bad Base64", withGood("{" + id + ",\"sharedMedia\":{\"bookmark\":\"A=B\"}," + screens +
                                "," + same + "," + name + "}")},
        {"entry not an object", withGood("[]")},
        {"object, not array", good},
        {"truncated", "[" + good},
        {"empty text", ""},
        {"not JSON", "overlays"},
        {"invalid UTF-8", "[\"\xff\"]"},
        {"deep nesting", std::string(100000, '[') + std::string(100000, ']')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(OverlayData::decodeList(c.text));
    }
}

TEST(OverlayDataJSON, LoadAndSaveThroughTheDefaults) {
    testsupport::TempDir dir;
    auto defaults = foundation::UserDefaults::openAt(dir / "defaults.json");
    EXPECT_FALSE(OverlayData::loadList(*defaults));
    std::vector<OverlayData> five(5);
    ASSERT_TRUE(OverlayData::saveList(five, *defaults));
    EXPECT_EQ(defaults->string("overlays"), OverlayData::encodeList(five));
    auto loaded = OverlayData::loadList(*defaults);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ((*loaded)[i].id, five[i].id);
        EXPECT_TRUE((*loaded)[i].useSameMediaForAllScreens);
        EXPECT_FALSE((*loaded)[i].hasMedia());
    }
    // A value that is not text reads as no list.
    ASSERT_TRUE(defaults->set("overlays", nlohmann::json::array()));
    EXPECT_FALSE(OverlayData::loadList(*defaults));
}

TEST(OverlayDataMedia, HasMedia) {
    struct Case {
        const char* what;
        bool same;
        std::optional<OverlayData::MediaItem> shared;
        std::vector<OverlayData::MediaItem> perScreen;
        bool expected;
    };
    const Case cases[] = {
        {"shared with path", true, media("/a.png"), {}, true},
        {"shared absent", true, std::nullopt, {media("/b.png")}, false},
        {"shared without path, full per-screen",
         true,
         media(std::nullopt, true),
         {media("/b.png")},
         false},
        {"per-screen with path", false, std::nullopt, {media(std::nullopt), media("/b.png")}, true},
        {"per-screen bookmark only", false, media("/a.png"), {media(std::nullopt, true)}, false},
        {"per-screen empty", false, media("/a.png"), {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OverlayData cover;
        cover.useSameMediaForAllScreens = c.same;
        cover.sharedMedia = c.shared;
        int key = 0;
        for (const auto& item : c.perScreen) cover.screenMedia[std::to_string(++key)] = item;
        EXPECT_EQ(cover.hasMedia(), c.expected);
    }
}

TEST(OverlayDataMedia, VideoFilesByExtension) {
    struct Case {
        const char* url;
        bool video;
    };
    const Case cases[] = {
        {"file:///a/clip.mp4", true},   {"file:///a/clip.MP4", true},
        {"file:///a/clip.M4V", true},   {"file:///a/clip.mov", true},
        {"file:///a/clip.MoV", true},   {"file:///a/clip.avi", true},
        {"file:///a/clip.mkv", false},  {"file:///a/clip.gif", false},
        {"file:///a/photo.png", false}, {"file:///a/noext", false},
        {"file:///a.mp4/file", false},  {"file:///a/clip.mp4.png", false},
        {"file:///a/.mp4", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        auto url = foundation::URL::fromString(c.url);
        ASSERT_TRUE(url);
        EXPECT_EQ(mantleshade::isVideoFile(*url), c.video);
        OverlayData::MediaItem item;
        item.path = *url;
        EXPECT_EQ(item.isVideo(), c.video);
    }
    EXPECT_FALSE(OverlayData::MediaItem{}.isVideo());
    EXPECT_FALSE(media(std::nullopt, true).isVideo());
}

TEST(OverlayDataMedia, DisplayIdKeys) {
    EXPECT_EQ(mantleshade::displayIDKey(4), "4");
    EXPECT_EQ(mantleshade::displayIDKey(0), "0");
    EXPECT_EQ(mantleshade::displayIDKey(4294967295u), "4294967295");
}

TEST(OverlayDataMedia, SetURLRecordsPathAndBookmark) {
    testsupport::TempDir dir;
    touch(dir / "pic.png");
    auto url = foundation::URL::fileURL((dir / "pic.png").string());
    OverlayData::MediaItem item;
    std::vector<std::string> lines = EngineFixture::linesOf([&] { item.setURL(url); });
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(item.path, url);
    ASSERT_TRUE(item.bookmark);
    bool stale = true;
    EXPECT_EQ(foundation::resolveBookmark(*item.bookmark, stale), url);

    // A file that cannot be bookmarked keeps the earlier bookmark and says why.
    auto earlier = item.bookmark;
    auto missing = foundation::URL::fileURL((dir / "gone.png").string());
    lines = EngineFixture::linesOf([&] { item.setURL(missing); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("❌ Bookmark failed: ", 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), std::string("❌ Bookmark failed: ").size());
    EXPECT_EQ(item.path, missing);
    EXPECT_EQ(item.bookmark, earlier);
}

TEST(OverlayDataMedia, ResolvedURL) {
    testsupport::TempDir dir;
    touch(dir / "a.png");
    auto a = foundation::URL::fileURL((dir / "a.png").string());
    auto b = foundation::URL::fileURL((dir / "b.png").string());

    // No bookmark: the path as it is (or nothing).
    EXPECT_EQ(media((dir / "b.png").string()).resolvedURL(), b);
    EXPECT_FALSE(OverlayData::MediaItem{}.resolvedURL());

    // A bookmark that resolves wins over the path.
    OverlayData::MediaItem item;
    item.setURL(a);
    item.path = b;
    EXPECT_EQ(item.resolvedURL(), a);

    // Unresolvable (garbage, or the file is gone): the path, bookmark kept.
    OverlayData::MediaItem garbage = media((dir / "b.png").string(), true);
    EXPECT_EQ(garbage.resolvedURL(), b);
    EXPECT_EQ(garbage.bookmark, (std::vector<std::uint8_t>{1, 2, 3}));

    // Stale (another file now at the path): renewed in place.
    auto before = item.bookmark;
    std::filesystem::remove(dir / "a.png");
    touch(dir / "other.png");
    touch(dir / "a.png");
    std::filesystem::remove(dir / "other.png");
    auto resolved = item.resolvedURL();
    EXPECT_EQ(resolved, a);
    ASSERT_TRUE(item.bookmark);
    bool stale = true;
    EXPECT_EQ(foundation::resolveBookmark(*item.bookmark, stale), a);
    EXPECT_FALSE(stale);

    std::filesystem::remove(dir / "a.png");
    EXPECT_EQ(item.resolvedURL(), b);
}
