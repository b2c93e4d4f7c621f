#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCValueList.h"

namespace rozuri {
namespace {

// A list of n values mixing inline numbers and boxed strings.
OSCValueList numbered(int n) {
    OSCValueList list;
    for (int i = 0; i < n; ++i) {
        if (i % 2)
            list.push_back(std::string("s") + std::to_string(i));
        else
            list.push_back(std::int32_t{i});
    }
    return list;
}

constexpr int kInline = static_cast<int>(OSCValueList::inlineCapacity);

// Copies, moves, growth and edits across the inline limit keep the values and their order.
TEST(OSCValueList, KeepsValuesAcrossTheInlineLimit) {
    for (int n : {0, 1, 3, 4, 5, 8, 9, 40}) {
        SCOPED_TRACE(n);
        OSCValueList list = numbered(n);
        const std::vector<AnyOSCValue> expected = list;
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(list.isInline(), n <= kInline);
        EXPECT_EQ(OSCMessage("/v", expected).values(), expected);  // a message takes a vector

        OSCValueList copy(list);
        OSCValueList moved(std::move(copy));
        EXPECT_EQ(moved, expected);
        EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): left empty
        copy = moved;
        EXPECT_EQ(copy, expected);
        OSCValueList assigned = numbered(3);
        assigned = std::move(moved);
        EXPECT_EQ(assigned, expected);
        if (n > 0) {
            assigned.erase(assigned.begin());
            EXPECT_TRUE(
                std::equal(assigned.begin(), assigned.end(), expected.begin() + 1, expected.end()));
            assigned.insert(assigned.begin(), expected.front());
            EXPECT_EQ(assigned, expected);
        }
    }
}

// A value taken from the list itself survives the growth its push or resize causes.
TEST(OSCValueList, PushOfItsOwnValueSurvivesGrowth) {
    OSCValueList list = numbered(4);
    ASSERT_EQ(list.size(), list.capacity());
    list.push_back(list[1]);
    list.emplace_back(list[3]);
    EXPECT_EQ(list[4], AnyOSCValue(std::string("s1")));
    EXPECT_EQ(list[5], AnyOSCValue(std::string("s3")));
    list.resize(20, list[1]);
    ASSERT_EQ(list.size(), 20u);
    EXPECT_EQ(list[19], AnyOSCValue(std::string("s1")));
    list.resize(2, list[0]);
    EXPECT_EQ(list, (std::vector<AnyOSCValue>{std::int32_t{0}, std::string("s1")}));
}

// A decoded message, alone or copied out of a bundle, keeps its values, inline up to the limit.
TEST(OSCValueList, DecodedListsAreInlineUpToTheLimit) {
    for (int n : {1, 4, 5, 12}) {
        SCOPED_TRACE(n);
        OSCMessage built("/n", numbered(n));
        OSCMessage decoded = OSCMessage::decode(built.encodedData());
        EXPECT_EQ(decoded, built);
        EXPECT_EQ(decoded.values().isInline(), n <= kInline);
        Data bundle = OSCBundle(std::nullopt, {built, built}).encodedData();
        EXPECT_EQ(*OSCPacket::decode(bundle)->asBundle()->elements()[1].asMessage(), built);
    }
}

}  // namespace
}  // namespace rozuri
