#include <gtest/gtest.h>

#include <cstring>

#include "osc/tcp/DispatchTcpReadPacket.h"
#include "osc/tcp/DispatchTcpSocketPreBuffer.h"

namespace {

using rozuri::Data;
using rozuri::DispatchTcpReadPacket;
using rozuri::DispatchTcpSocketPreBuffer;

void fill(DispatchTcpSocketPreBuffer& pre, const std::string& bytes) {
    pre.ensureCapacityForWrite(bytes.size());
    std::memcpy(pre.writeBuffer(), bytes.data(), bytes.size());
    pre.didWrite(bytes.size());
}

TEST(DispatchTcpSocketPreBuffer, GrowsByTheShortfallAndRewindsWhenDrained) {
    DispatchTcpSocketPreBuffer pre(4096);
    fill(pre, std::string(4000, 'x'));
    const auto* before = pre.readBuffer();
    pre.ensureCapacityForWrite(200);
    EXPECT_EQ(pre.capacity(), 4200u);
    EXPECT_EQ(pre.availableBytes(), 4000u);
    EXPECT_EQ(pre.availableSpace(), 200u);
    EXPECT_EQ(pre.readBuffer()[3999], 'x');
    (void)before;
    pre.didRead(1000);
    EXPECT_EQ(pre.availableBytes(), 3000u);
    pre.didRead(3000);
    EXPECT_EQ(pre.availableBytes(), 0u);
    EXPECT_EQ(pre.availableSpace(), 4200u);
}

// A packet over a placed prefix, with a pre-buffer holding `pre`.
struct TermCase {
    std::string placed;
    std::string pre;
    std::string term;
    std::uint64_t maxLength;
    std::uint64_t expectedLength;
    bool expectedFound;
};

TEST(DispatchTcpReadPacket, TerminatorInThePreBuffer) {
    const TermCase cases[] = {
        {"\r", "\nrest", "\r\n", 0, 1, true},       // spans placed and new bytes
        {"", "a", "\r\n", 0, 1, false},             // shorter than the terminator
        {"", "ab\r\ncd", "\r\n", 0, 4, true},       // inside the pre-buffer
        {"", "abcdef", "\r\n", 0, 6, false},        // absent: take all
        {"abcd", "xyz", "\r\n", 4, 0, false},       // maxLength reached: nothing compared
        {"ab", "cdef\n", "\n", 4, 2, false},        // cut at maxLength before the terminator
        {"ab", "c\nd", "\n", UINT64_MAX, 2, true},  // no practical bound
        {"ABC", "DEF", "CDE", 0, 2, true},          // window starts two bytes back
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.placed + "|" + c.pre);
        auto buffer = std::make_shared<Data>(c.placed.begin(), c.placed.end());
        DispatchTcpReadPacket p(buffer, 0, c.maxLength, -1, 0, Data(c.term.begin(), c.term.end()),
                                0);
        p.bytesDone = c.placed.size();
        DispatchTcpSocketPreBuffer pre(16);
        fill(pre, c.pre);
        bool found = !c.expectedFound;
        EXPECT_EQ(p.readLengthForTermWithPreBuffer(pre, &found), c.expectedLength);
        EXPECT_EQ(found, c.expectedFound);
    }
}

TEST(DispatchTcpReadPacket, TerminatorInFreshBytes) {
    struct Case {
        std::string placed;
        std::string fresh;
        std::int64_t expected;
    };
    const Case cases[] = {
        {"", "ab\r\n", 0},  {"", "ab\r\ncd", 2},
        {"", "abcd", -1},   {"ab\r", "\ncd", 2},  // first byte placed by an earlier read
        {"\r\n", "xy", -1},  // older data is not rescanned... but a full old match is too old
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.placed + "|" + c.fresh);
        const std::string all = c.placed + c.fresh;
        auto buffer = std::make_shared<Data>(all.begin(), all.end());
        DispatchTcpReadPacket p(buffer, 0, 0, -1, 0, Data{'\r', '\n'}, 0);
        p.bytesDone = c.placed.size();
        EXPECT_EQ(p.searchForTermAfterPreBuffering(c.fresh.size()), c.expected);
    }
}

TEST(DispatchTcpReadPacket, ReadLengths) {
    DispatchTcpReadPacket fixed(nullptr, 0, 0, -1, 100, std::nullopt, 0);
    fixed.bytesDone = 40;
    bool pre = true;
    EXPECT_EQ(fixed.optimalReadLengthWithDefault(32768, &pre), 60u);
    EXPECT_FALSE(pre);
    EXPECT_EQ(fixed.readLengthForNonTermWithHint(1000), 60u);
    EXPECT_EQ(fixed.readLengthForNonTermWithHint(7), 7u);

    DispatchTcpReadPacket bounded(nullptr, 0, 10, -1, 0, std::nullopt, 0);
    bounded.bytesDone = 4;
    EXPECT_EQ(bounded.readLengthForNonTermWithHint(1000), 6u);

    auto room = std::make_shared<Data>(8);
    DispatchTcpReadPacket term(room, 0, 0, -1, 0, Data{'\n'}, 0);
    EXPECT_EQ(term.readLengthForTermWithHint(5, &pre), 5u);
    EXPECT_FALSE(pre);
    EXPECT_EQ(term.readLengthForTermWithHint(9, &pre), 9u);
    EXPECT_TRUE(pre);
}

// Owned buffers grow with the bytes, not with the length asked for.
TEST(DispatchTcpReadPacket, BuffersGrowOnlyAsBytesArrive) {
    DispatchTcpReadPacket huge(nullptr, 0, 0, -1, 1ull << 40, std::nullopt, 0);
    EXPECT_TRUE(huge.bufferOwner);
    EXPECT_EQ(huge.buffer->size(), 0u);
    huge.ensureCapacityForAdditionalDataOfLength(50);
    EXPECT_EQ(huge.buffer->size(), 50u);

    auto callers = std::make_shared<Data>(10, 'x');
    DispatchTcpReadPacket offset(callers, 10, 0, -1, 5, std::nullopt, 0);
    EXPECT_FALSE(offset.bufferOwner);
    EXPECT_EQ(offset.originalBufferLength, 10u);
    offset.ensureCapacityForAdditionalDataOfLength(5);
    EXPECT_EQ(callers->size(), 15u);
    EXPECT_THROW(offset.ensureCapacityForAdditionalDataOfLength(UINT64_MAX), std::bad_alloc);
}

}  // namespace
