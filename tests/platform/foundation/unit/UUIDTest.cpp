#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/UUID.h"

namespace foundation {
namespace {

bool isCanonical(const std::string& s) {
    if (s.size() != 36) return false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (c == '-')) return false;
        if (!dash && !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

TEST(UUID, RandomIsVersion4CanonicalUpperCase) {
    for (int i = 0; i < 200; ++i) {
        UUID u;
        std::string s = u.uuidString();
        EXPECT_TRUE(isCanonical(s)) << s;
        EXPECT_EQ(s[14], '4') << s;
        EXPECT_NE(std::string("89AB").find(s[19]), std::string::npos) << s;
        EXPECT_EQ(UUID::fromString(s), u);
    }
}

TEST(UUID, ParseTable) {
    struct Case {
        std::string text;
        std::optional<std::string> canonical;
    };
    const std::vector<Case> cases = {
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},
        {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"},
        {"00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"},
        {"E621E1F8C36C495A93FC0C247A3E6E5F", std::nullopt},       // no dashes
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5", std::nullopt},    // short
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F0", std::nullopt},  // long
        {"E621E1F8-C36C-495A-93FC_0C247A3E6E5F", std::nullopt},   // wrong separator
        {"E621E1F-8C36C-495A-93FC-0C247A3E6E5F", std::nullopt},   // dash misplaced
        {"G621E1F8-C36C-495A-93FC-0C247A3E6E5F", std::nullopt},   // not hex
        {"{E621E1F8-C36C-495A-93FC-0C247A3E6E5}", std::nullopt},  // braces
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        auto parsed = UUID::fromString(c.text);
        ASSERT_EQ(parsed.has_value(), c.canonical.has_value()) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->uuidString(), *c.canonical);
        }
    }
}

TEST(UUID, BytesOrderingAndHash) {
    auto a = *UUID::fromString("00000000-0000-0000-0000-000000000001");
    auto b = *UUID::fromString("00000000-0000-0000-0000-000000000002");
    auto c = *UUID::fromString("01000000-0000-0000-0000-000000000000");
    EXPECT_EQ(a.bytes()[15], 1);
    EXPECT_EQ(c.bytes()[0], 1);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_EQ(UUID(a.bytes()), a);
    EXPECT_EQ(std::hash<UUID>{}(a), std::hash<UUID>{}(UUID(a.bytes())));
    EXPECT_NE(std::hash<UUID>{}(a), std::hash<UUID>{}(b));
}

TEST(UUID, UniqueAcrossThreads) {
    std::vector<std::vector<UUID>> perThread(4);
    std::vector<std::thread> threads;
    for (auto& out : perThread)
        threads.emplace_back([&out] {
            for (int i = 0; i < 5000; ++i) out.emplace_back();
        });
    for (auto& t : threads) t.join();
    std::unordered_set<UUID> all;
    for (auto& v : perThread) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), 20000u);
}

}  // namespace
}  // namespace foundation
