#include <gtest/gtest.h>

#include <span>
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

std::vector<AnyOSCValue> numberedVector(int n) {
    OSCValueList list = numbered(n);
    return std::vector<AnyOSCValue>(list.begin(), list.end());
}

// Copies, moves, growth and edits across the inline limit keep the values and their order.
TEST(OSCValueList, KeepsValuesAcrossTheInlineLimit) {
    for (int n : {0, 1, 3, 4, 5, 8, 9, 40}) {
        SCOPED_TRACE(n);
        const std::vector<AnyOSCValue> expected = numberedVector(n);
        OSCValueList list = numbered(n);
        EXPECT_EQ(list, expected);
        EXPECT_EQ(list.isInline(), n <= static_cast<int>(OSCValueList::inlineCapacity));

        OSCValueList copy(list);
        EXPECT_EQ(copy, expected);
        OSCValueList moved(std::move(copy));
        EXPECT_EQ(moved, expected);
        EXPECT_TRUE(copy.empty());  // NOLINT(bugprone-use-after-move): left empty
        copy = moved;
        EXPECT_EQ(copy, expected);
        OSCValueList assigned = numbered(3);
        assigned = std::move(moved);
        EXPECT_EQ(assigned, expected);

        std::vector<AnyOSCValue> back = assigned;
        EXPECT_EQ(back, expected);
        EXPECT_EQ(std::span<const AnyOSCValue>(assigned).size(), expected.size());
        if (n > 0) {
            assigned.erase(assigned.begin());
            EXPECT_EQ(assigned.size(), expected.size() - 1);
            EXPECT_TRUE(std::equal(assigned.begin(), assigned.end(), expected.begin() + 1));
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
    EXPECT_THROW((void)list.at(6), std::out_of_range);
    list.resize(20, list[1]);
    EXPECT_EQ(list.size(), 20u);
    EXPECT_EQ(list[19], AnyOSCValue(std::string("s1")));
    list.resize(2, list[0]);
    EXPECT_EQ(list, (std::vector<AnyOSCValue>{std::int32_t{0}, std::string("s1")}));
}

// The shapes callers write keep compiling and mean what they meant with a vector.
TEST(OSCValueList, TakesWhatCallersPass) {
    OSCMessage braced("/a", {std::int32_t{1}, 2.5f, "text"});
    OSCMessage fromVector("/a", std::vector<AnyOSCValue>{std::int32_t{1}, 2.5f, "text"});
    EXPECT_EQ(braced, fromVector);
    EXPECT_EQ(braced.values().front(), AnyOSCValue(std::int32_t{1}));
    EXPECT_EQ(braced.values().back(), AnyOSCValue(std::string("text")));
    braced.mutableValues().push_back(true);
    EXPECT_EQ(braced.values().size(), 4u);
    braced.setValues({});
    EXPECT_TRUE(braced.values().empty());
}

// A decoded message of a few values holds them inline; a long one holds them all.
TEST(OSCValueList, DecodedListsAreInlineUpToTheLimit) {
    for (int n : {1, 4, 5, 12}) {
        SCOPED_TRACE(n);
        OSCMessage built("/n", numbered(n));
        OSCMessage decoded = OSCMessage::decode(built.encodedData());
        EXPECT_EQ(decoded, built);
        EXPECT_EQ(decoded.values().isInline(), n <= static_cast<int>(OSCValueList::inlineCapacity));
        // A bundle element, copied out of its packet, keeps its values.
        Data bundle = OSCBundle(std::nullopt, {built, built}).encodedData();
        OSCMessage element = *OSCPacket::decode(bundle)->asBundle()->elements()[1].asMessage();
        EXPECT_EQ(element, built);
    }
}

}  // namespace
}  // namespace rozuri
