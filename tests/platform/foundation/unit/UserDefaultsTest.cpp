#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"

namespace foundation {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Replaces the file the way an editor or another process would: new inode, new content.
void replaceFile(const fs::path& path, const std::string& content) {
    fs::path tmp = path.string() + ".outside";
    writeFile(tmp, content);
    fs::rename(tmp, path);
}

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> out;
    for (auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

std::size_t count(const std::string& text, const std::string& needle) {
    std::size_t n = 0;
    for (auto pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
        ++n;
    return n;
}

class UserDefaultsTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir{"ms-defaults"};
    fs::path file = dir / "mantleshade" / "defaults.json";
    std::unique_ptr<UserDefaults> open() { return UserDefaults::openAt(file); }
    void seed(const std::string& content) {
        fs::create_directories(file.parent_path());
        writeFile(file, content);
    }
};

TEST_F(UserDefaultsTest, TypedReadsKeepAbsentApartFromWrongType) {
    seed(R"({"t": true, "f": false, "zero": 0, "one": 1, "two": 2, "neg": -5,
             "big": 18446744073709551615, "twoF": 2.0, "half": 2.5, "s": "text",
             "numText": "5000", "null": null, "arr": [1], "obj": {"a": 1}})");
    auto d = open();
    using OI = std::optional<std::int64_t>;
    using OB = std::optional<bool>;
    using OS = std::optional<std::string>;
    using OD = std::optional<double>;
    struct Case {
        const char* key;
        OI i;
        OB b;
        OS s;
        OD n;
    };
    const std::vector<Case> cases = {
        {"t", {}, true, {}, {}},
        {"f", {}, false, {}, {}},
        {"zero", 0, false, {}, 0.0},
        {"one", 1, true, {}, 1.0},
        {"two", 2, {}, {}, 2.0},
        {"neg", -5, {}, {}, -5.0},
        {"big", {}, {}, {}, 18446744073709551615.0},
        {"twoF", 2, {}, {}, 2.0},
        {"half", {}, {}, {}, 2.5},
        {"s", {}, {}, "text", {}},
        {"numText", {}, {}, "5000", {}},
        {"null", {}, {}, {}, {}},
        {"arr", {}, {}, {}, {}},
        {"obj", {}, {}, {}, {}},
        {"absent", {}, {}, {}, {}},
    };
    testing::internal::CaptureStdout();
    for (const auto& c : cases) {
        EXPECT_EQ(d->integer(c.key), c.i) << c.key;
        EXPECT_EQ(d->boolean(c.key), c.b) << c.key;
        EXPECT_EQ(d->string(c.key), c.s) << c.key;
        EXPECT_EQ(d->number(c.key), c.n) << c.key;
        EXPECT_EQ(d->contains(c.key), std::string(c.key) != "absent") << c.key;
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(d->object("obj"), nlohmann::json({{"a", 1}}));
    EXPECT_EQ(d->object("null"), nlohmann::json());
    EXPECT_FALSE(d->object("absent"));
    EXPECT_EQ(d->integerOr("absent", 5000), 5000);
    EXPECT_EQ(d->integerOr("s", 5000), 5000);
    EXPECT_EQ(d->integerOr("two", 5000), 2);
    EXPECT_TRUE(d->boolOr("absent", true));
    EXPECT_FALSE(d->boolOr("f", true));
    // Absent keys say nothing; wrong types say so once each.
    EXPECT_THAT(out, Not(HasSubstr("\"absent\"")));
    EXPECT_EQ(count(out, "\"s\" holds \"text\", not an integer"), 1u) << out;
    EXPECT_EQ(count(out, "\"t\" holds true, not an integer"), 1u) << out;
}

TEST_F(UserDefaultsTest, MismatchReportedOncePerKeyAndValue) {
    seed(R"({"oscPort": "abc"})");
    auto d = open();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(d->integer("oscPort"));
    replaceFile(file, R"({"oscPort": "xyz"})");
    EXPECT_FALSE(d->integer("oscPort"));
    EXPECT_FALSE(d->integer("oscPort"));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(count(out, "\"oscPort\""), 2u) << out;
    EXPECT_THAT(out, HasSubstr("\"abc\""));
    EXPECT_THAT(out, HasSubstr("\"xyz\""));
}

TEST_F(UserDefaultsTest, WritesCreateFolderAndPersistTypes) {
    {
        auto d = open();
        EXPECT_FALSE(d->integer("oscPort"));
        EXPECT_FALSE(fs::exists(file));  // reading writes nothing
        EXPECT_TRUE(d->set("oscPort", std::int64_t{9000}));
        EXPECT_TRUE(d->set("LockOut", true));
        EXPECT_TRUE(d->set("showInDock", false));
        EXPECT_TRUE(d->set("overlays", std::string("[]")));
        EXPECT_TRUE(d->set("ratio", 0.25));
        EXPECT_TRUE(d->set("gone", 1));
        EXPECT_TRUE(d->remove("gone"));
        EXPECT_TRUE(d->remove("never-there"));
    }
    auto onDisk = nlohmann::json::parse(readFile(file));
    EXPECT_EQ(onDisk, nlohmann::json::parse(R"({"oscPort": 9000, "LockOut": true,
        "showInDock": false, "overlays": "[]", "ratio": 0.25})"));
    EXPECT_TRUE(onDisk["LockOut"].is_boolean());
    auto d = open();
    EXPECT_EQ(d->integer("oscPort"), 9000);
    EXPECT_EQ(d->boolean("showInDock"), false);
    EXPECT_EQ(d->string("overlays"), "[]");
    EXPECT_FALSE(d->contains("gone"));
}

TEST_F(UserDefaultsTest, ValueThatCannotBeWrittenIsRefusedWithoutDamage) {
    auto d = open();
    ASSERT_TRUE(d->set("name", "ok"));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(d->set("name", std::string("bad\xFF utf8")));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("\"name\""));
    EXPECT_EQ(d->string("name"), "ok");
    EXPECT_TRUE(d->set("other", 1));
    EXPECT_EQ(open()->string("name"), "ok");
}

TEST_F(UserDefaultsTest, FailedSaveBeforeRenameLeavesOldFileIntact) {
    auto d = open();
    ASSERT_TRUE(d->set("oscPort", 5000));
    std::string before = readFile(file);
    d->setBeforeRenameHookForTesting([] { throw std::runtime_error("crash mid-write"); });
    EXPECT_THROW(d->set("oscPort", 6000), std::runtime_error);
    d->setBeforeRenameHookForTesting({});
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(entries(file.parent_path()), std::vector<fs::path>{"defaults.json"});
    EXPECT_EQ(open()->integer("oscPort"), 5000);
}

TEST_F(UserDefaultsTest, SaveKeepsSymlinkAndPermissions) {
    fs::create_directories(file.parent_path());
    fs::path real = dir / "dotfiles" / "defaults.json";
    fs::create_directories(real.parent_path());
    writeFile(real, R"({"oscPort": 1})");
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, file);
    auto d = open();
    ASSERT_TRUE(d->set("oscPort", 2));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(nlohmann::json::parse(readFile(real)), nlohmann::json({{"oscPort", 2}}));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(entries(real.parent_path()), std::vector<fs::path>{"defaults.json"});
}

TEST_F(UserDefaultsTest, LeftoverTempFileIsIgnored) {
    seed(R"({"oscPort": 7000})");
    writeFile(file.parent_path() / ".defaults.json.tmp-AbC123", R"({"oscPort": 1)");
    auto d = open();
    EXPECT_EQ(d->integer("oscPort"), 7000);
    EXPECT_TRUE(d->set("LockOut", true));
    EXPECT_EQ(open()->integer("oscPort"), 7000);
}

TEST_F(UserDefaultsTest, CorruptFileReportedOnceAndMovedAsideOnWrite) {
    const std::vector<std::string> corrupt = {"{not json", R"(["an", "array"])", "42", "",
                                              std::string("{\"a\":\"\xFF\"}")};
    for (const auto& content : corrupt) {
        SCOPED_TRACE(content);
        fs::remove_all(file.parent_path());
        seed(content);
        auto d = open();
        testing::internal::CaptureStdout();
        EXPECT_FALSE(d->integer("oscPort"));
        EXPECT_FALSE(d->boolean("LockOut"));
        EXPECT_FALSE(d->contains("a"));
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(count(out, file.string()), 1u) << out;
        // Reading never touches the file.
        EXPECT_EQ(readFile(file), content);

        testing::internal::CaptureStdout();
        EXPECT_TRUE(d->set("oscPort", 5001));
        out = testing::internal::GetCapturedStdout();
        EXPECT_THAT(out, HasSubstr("defaults.json.corrupt-"));
        auto names = entries(file.parent_path());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[0], "defaults.json");
        EXPECT_TRUE(names[1].string().starts_with("defaults.json.corrupt-")) << names[1];
        EXPECT_EQ(readFile(file.parent_path() / names[1]), content);
        EXPECT_EQ(nlohmann::json::parse(readFile(file)), nlohmann::json({{"oscPort", 5001}}));
        EXPECT_EQ(open()->integer("oscPort"), 5001);
    }
}

TEST_F(UserDefaultsTest, ReloadsAfterOutsideEditAndNotifiesChangedKeys) {
    seed(R"({"oscPort": 5000, "LockOut": false, "keep": 1})");
    auto d = open();
    std::vector<std::string> seen;
    d->addObserver([&](const std::string& key) { seen.push_back(key); });
    EXPECT_EQ(d->integer("oscPort"), 5000);
    EXPECT_TRUE(seen.empty());  // the first load is not a change

    replaceFile(file, R"({"oscPort": 5100, "keep": 1, "showInDock": true})");
    EXPECT_EQ(d->integer("oscPort"), 5100);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"LockOut", "oscPort", "showInDock"}));

    // An edit in place (same inode) is seen too.
    seen.clear();
    writeFile(file, R"({"oscPort": 5200, "keep": 1, "showInDock": true, "x": "longer text"})");
    EXPECT_EQ(d->integer("oscPort"), 5200);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"oscPort", "x"}));

    // A write merges with what is on disk instead of overwriting the outside edit.
    replaceFile(file, R"({"oscPort": 5300})");
    EXPECT_TRUE(d->set("LockOut", true));
    EXPECT_EQ(nlohmann::json::parse(readFile(file)),
              nlohmann::json({{"oscPort", 5300}, {"LockOut", true}}));

    seen.clear();
    fs::remove(file);
    EXPECT_FALSE(d->integer("oscPort"));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"LockOut", "oscPort"}));
}

TEST_F(UserDefaultsTest, ObserversSeeOwnWritesUntilRemoved) {
    auto d = open();
    std::vector<std::string> a, b;
    std::vector<std::optional<std::int64_t>> portSeen;
    auto idA = d->addObserver([&](const std::string& key) { a.push_back(key); });
    d->addObserver([&](const std::string& key) {
        b.push_back(key);
        // Observers may read the store they observe.
        if (key == "oscPort") portSeen.push_back(d->integer("oscPort"));
    });
    d->set("oscPort", 9001);
    d->set("oscPort", 9001);  // unchanged: no call
    d->remove("oscPort");
    d->remove("oscPort");  // absent: no call
    d->removeObserver(idA);
    d->set("LockOut", true);
    EXPECT_EQ(a, (std::vector<std::string>{"oscPort", "oscPort"}));
    EXPECT_EQ(b, (std::vector<std::string>{"oscPort", "oscPort", "LockOut"}));
    EXPECT_EQ(portSeen, (std::vector<std::optional<std::int64_t>>{9001, std::nullopt}));
}

TEST_F(UserDefaultsTest, ConcurrentWritersLoseNothing) {
    auto d = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
                d->set(key, std::int64_t{i});
                (void)d->integer(key);
            }
        });
    for (auto& th : threads) th.join();
    auto onDisk = nlohmann::json::parse(readFile(file));
    EXPECT_EQ(onDisk.size(), 100u);
    EXPECT_EQ(open()->integer("k3_24"), 24);
}

// Two stores on one file stand for two processes sharing the settings: neither may drop the
// other's writes.
TEST_F(UserDefaultsTest, TwoStoresOnOneFileLoseNothing) {
    auto first = open();
    auto second = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            UserDefaults& d = t % 2 ? *first : *second;
            for (int i = 0; i < 25; ++i)
                d.set("k" + std::to_string(t) + "_" + std::to_string(i), i);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(nlohmann::json::parse(readFile(file)).size(), 100u);
}

TEST_F(UserDefaultsTest, HostileNestingIsKeptAsideNotFollowed) {
    struct Case {
        const char* name;
        std::string content;
        bool usable;
    };
    const auto nest = [](std::size_t depth, char open, char close, const std::string& inner) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i) text += open == '{' ? "{\"a\":" : "[";
        text += inner;
        text.append(depth, close);
        return text;
    };
    const std::vector<Case> cases = {
        {"deep arrays", "{\"overlays\":" + nest(200000, '[', ']', "1") + ",\"oscPort\":1}", false},
        {"deep objects", "{\"overlays\":" + nest(200000, '{', '}', "1") + ",\"oscPort\":1}", false},
        {"brackets inside strings",
         "{\"overlays\":\"" + std::string(200000, '[') + "\\\"]\",\"oscPort\":1}", true},
        {"moderate nesting", "{\"overlays\":" + nest(100, '[', ']', "1") + ",\"oscPort\":1}", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        seed(c.content);
        auto d = open();
        testing::internal::CaptureStdout();
        auto port = d->integer("oscPort");
        auto overlays = d->object("overlays");
        std::string out = testing::internal::GetCapturedStdout();
        if (c.usable) {
            EXPECT_EQ(port, 1);
            EXPECT_TRUE(overlays.has_value());
            EXPECT_EQ(out, "");
        } else {
            EXPECT_FALSE(port);
            EXPECT_FALSE(overlays);
            EXPECT_EQ(count(out, "\n"), 1u) << out;
            EXPECT_EQ(readFile(file), c.content);
        }
    }
}

TEST(UserDefaultsStandard, LivesUnderConfigHome) {
    testsupport::ScopedConfigHome home;
    UserDefaults& d = UserDefaults::standard();
    EXPECT_EQ(d.path(), home.path() / "mantleshade" / "defaults.json");
    EXPECT_EQ(&d, &UserDefaults::standard());
    EXPECT_TRUE(d.set("identify-monitors", false));
    EXPECT_TRUE(fs::exists(home.path() / "mantleshade" / "defaults.json"));
    EXPECT_EQ(d.boolean("identify-monitors"), false);
}

TEST(UserDefaultsStandard, ResetFollowsANewConfigHome) {
    auto first = std::make_unique<testsupport::ScopedConfigHome>();
    UserDefaults::resetStandardForTesting();
    UserDefaults& d = UserDefaults::standard();
    ASSERT_TRUE(d.set("oscPort", 5001));
    first.reset();
    testsupport::ScopedConfigHome second;
    UserDefaults::resetStandardForTesting();
    EXPECT_EQ(d.path(), second.path() / "mantleshade" / "defaults.json");
    EXPECT_FALSE(d.integer("oscPort"));  // nothing carried over from the first home
    ASSERT_TRUE(d.set("oscPort", 5002));
    EXPECT_EQ(UserDefaults::openAt(d.path())->integer("oscPort"), 5002);
}

}  // namespace
}  // namespace foundation
