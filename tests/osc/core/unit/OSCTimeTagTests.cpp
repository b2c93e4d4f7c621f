#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "osc/core/CoreUtilities.h"
#include "osc/core/OSCTimeTag.h"

namespace rozuri {
namespace {

using Seconds = std::chrono::duration<double>;

double secondsAfterEpoch(OSCTimeTag::Date d) {
    return (d - OSCTimeTag::epoch()).count();
}

TEST(OSCTimeTag, ConversionsFromSeconds) {
    struct Case {
        double seconds;
        std::int64_t era;
        std::uint64_t raw;
    };
    const Case cases[] = {
        {1.5, 0, 0x180000000ULL},
        {4294967295.0, 0, 0xFFFFFFFF00000000ULL},
        {4294967296.0, 1, 4294967296ULL},
        {0.0, 0, 0},
        {-5.0, 0, 0},
        {std::nan(""), 0, 0},
        {3 * 4294967295.0 + 0.5, 3, 0x80000000ULL},
    };
    for (const Case& c : cases) {
        OSCTimeTag tag = OSCTimeTag::fromSecondsSince1900(c.seconds);
        EXPECT_EQ(tag.era(), c.era) << c.seconds;
        EXPECT_EQ(tag.rawValue(), c.raw) << c.seconds;
    }
}

TEST(OSCTimeTag, HugeAndInfiniteSecondsClampInsteadOfCrashing) {
    for (double s : {std::numeric_limits<double>::infinity(), 1e300, 4e28}) {
        OSCTimeTag tag = OSCTimeTag::fromSecondsSince1900(s);
        EXPECT_EQ(tag.era(), std::numeric_limits<std::int64_t>::max()) << s;
        EXPECT_EQ(tag.rawValue(), 0xFFFFFFFF00000000ULL) << s;
    }
    // Just below the clamp an era is still counted.
    EXPECT_GT(OSCTimeTag::fromSecondsSince1900(1e20).era(), 0);
    EXPECT_LT(OSCTimeTag::fromSecondsSince1900(1e20).era(),
              std::numeric_limits<std::int64_t>::max());
}

TEST(OSCTimeTag, EpochIsNineteenHundredUTC) {
    // NTP seconds of 1970-01-01 00:00 UTC are 2,208,988,800 whatever the local time zone.
    EXPECT_DOUBLE_EQ(
        std::chrono::duration_cast<Seconds>(OSCTimeTag::epoch().time_since_epoch()).count(),
        -2208988800.0);
    OSCTimeTag unixEpoch = OSCTimeTag::fromDate(OSCTimeTag::Date(Seconds(0)));
    EXPECT_EQ(unixEpoch.rawValue(), 2208988800ULL << 32);
    // 2026-01-01 00:00:00 UTC is Unix 1767225600.
    OSCTimeTag y2026 = OSCTimeTag::fromDate(OSCTimeTag::Date(Seconds(1767225600.0)));
    EXPECT_EQ(y2026.rawValue() >> 32, 1767225600ULL + 2208988800ULL);
    EXPECT_EQ(y2026.rawValue() & 0xFFFFFFFF, 0u);
}

TEST(OSCTimeTag, DateValue) {
    EXPECT_DOUBLE_EQ(secondsAfterEpoch(OSCTimeTag(0x180000000ULL).dateValue()), 1.5);
    EXPECT_DOUBLE_EQ(secondsAfterEpoch(OSCTimeTag(4294967296ULL, 1).dateValue()), 4294967296.0);
    EXPECT_DOUBLE_EQ(secondsAfterEpoch(OSCTimeTag(0).dateValue()), 0.0);
    // A full raw value converts as unsigned.
    EXPECT_GT(secondsAfterEpoch(OSCTimeTag(~0ULL).dateValue()), 4294967295.0);
}

TEST(OSCTimeTag, Immediate) {
    OSCTimeTag tag = OSCTimeTag::immediate();
    EXPECT_EQ(tag.rawValue(), 1u);
    EXPECT_EQ(tag.era(), 0);
    EXPECT_TRUE(tag.isImmediate());
    EXPECT_EQ(tag.description(), "1 (immediate)");
    EXPECT_FALSE(tag.isLaterThanNow());
    EXPECT_EQ(tag.timeIntervalSinceNow(), 0);
    EXPECT_EQ(tag.timeIntervalSince(OSCTimeTag::epoch()), 0);
    auto before = std::chrono::system_clock::now();
    auto date = tag.dateValue();
    auto after = std::chrono::system_clock::now();
    EXPECT_GE(date, OSCTimeTag::Date(before));
    EXPECT_LE(date, OSCTimeTag::Date(after));
}

TEST(OSCTimeTag, RelativeToNow) {
    EXPECT_TRUE(OSCTimeTag::fromTimeIntervalSinceNow(3600).isLaterThanNow());
    EXPECT_FALSE(OSCTimeTag::fromTimeIntervalSinceNow(-3600).isLaterThanNow());
    EXPECT_FALSE(OSCTimeTag(0).isLaterThanNow());
    EXPECT_NEAR(OSCTimeTag::fromTimeIntervalSinceNow(3600).timeIntervalSinceNow(), 3600, 5);
    OSCTimeTag now = OSCTimeTag::now();
    EXPECT_NEAR(now.timeIntervalSinceNow(), 0, 5);
    EXPECT_EQ(now.era(), 0);  // before 2036
    // Eras are ignored by the comparison with now.
    OSCTimeTag later = OSCTimeTag::fromTimeIntervalSinceNow(3600);
    EXPECT_TRUE(OSCTimeTag(later.rawValue(), 5).isLaterThanNow());
    EXPECT_NEAR(OSCTimeTag(0x180000000ULL).timeIntervalSince(OSCTimeTag::epoch()), 1.5, 1e-6);
}

TEST(OSCTimeTag, DescriptionEqualityHashing) {
    EXPECT_EQ(OSCTimeTag(5).description(), "5");
    EXPECT_EQ(OSCTimeTag(5, 2).description(), "5-era:2");
    EXPECT_NE(OSCTimeTag(5, 0), OSCTimeTag(5, 1));
    EXPECT_EQ(OSCTimeTag(5, 1), OSCTimeTag(5, 1));
    EXPECT_EQ(std::hash<OSCTimeTag>{}(OSCTimeTag(9, 3)), std::hash<OSCTimeTag>{}(OSCTimeTag(9, 3)));
}

TEST(OSCTimeTag, KeyedCodingKeepsRawValueOnly) {
    OSCTimeTag tag(123456789, 4);
    nlohmann::json json = tag.toJSON();
    EXPECT_EQ(json, nlohmann::json(123456789ULL));
    OSCTimeTag back = OSCTimeTag::fromJSON(json);
    EXPECT_EQ(back.rawValue(), 123456789u);
    EXPECT_EQ(back.era(), 0);
    EXPECT_THROW(OSCTimeTag::fromJSON(nlohmann::json("x")), nlohmann::json::exception);
}

TEST(OSCTimeTag, EpochHelpers) {
    OSCTimeTag::Date d = OSCTimeTag::epoch() + Seconds(100);
    EXPECT_DOUBLE_EQ(secondsSinceOSCEpoch(d), 100);
    EXPECT_EQ(oscEra(d), 0);
    EXPECT_EQ(oscEra(OSCTimeTag::epoch() + Seconds(2 * 4294967295.0 + 1)), 2);
    EXPECT_EQ(oscEra(OSCTimeTag::Date(Seconds(std::numeric_limits<double>::infinity()))),
              std::nullopt);
}

}  // namespace
}  // namespace rozuri
