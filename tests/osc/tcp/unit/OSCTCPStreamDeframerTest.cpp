#include <gtest/gtest.h>

#include <random>
#include <string>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/tcp/OSCTCPFraming.h"
#include "osc/tcp/OSCTCPStreamDeframer.h"
#include "tests/support/Bytes.h"

namespace rozuri {
namespace {

using Frames = std::vector<Data>;
using Chunks = std::vector<Data>;

using mstest::bytes;
using mstest::operator+;

// Filler that holds both SLIP specials, so escapes fall at many offsets.
Data filler(std::size_t n) {
    Data d(n);
    for (std::size_t i = 0; i < n; ++i) d[i] = i % 7 == 3 ? 0xC0 : i % 5 == 1 ? 0xDB : 'a' + i % 26;
    return d;
}

Data plain(std::size_t n) {
    return Data(n, 'p');
}

Frames feedAll(OSCTCPStreamDeframer& d, const Chunks& chunks) {
    Frames out;
    for (const Data& c : chunks) {
        d.feed(c, out);
        EXPECT_LE(d.bufferedByteCount(), d.frameLimit());
    }
    return out;
}

Chunks splitAt(const Data& stream, std::vector<std::size_t> cuts) {
    std::sort(cuts.begin(), cuts.end());
    Chunks chunks;
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        chunks.emplace_back(stream.begin() + from, stream.begin() + cut);
        from = cut;
    }
    chunks.emplace_back(stream.begin() + from, stream.end());
    return chunks;
}

constexpr std::size_t kLimit = 96;

// Each stream, however cut into reads, de-frames to what the pure decoder makes of the whole,
// less the frames over the limit.
TEST(OSCTCPStreamDeframer, StreamMatchesWholeDecodeAtAnySplit) {
    const Data message = OSCMessage("/a/b", {std::int32_t{7}, "text"}).encodedData();
    const Data specials =
        OSCMessage("/blob", {bytes({0xC0, 0xDB, 0xC0, 0xC0, 0xDB, 0xDC, 0xDD})}).encodedData();
    const Data nested =
        OSCBundle(OSCTimeTag(5), {OSCMessage("/x"), OSCBundle(OSCTimeTag(9), {OSCMessage("/y")})})
            .encodedData();
    const std::vector<Frames> corpus = {
        {message},
        {message, specials, nested},
        {Data{}, message, Data{}, Data{}},
        {filler(kLimit), filler(kLimit + 1), specials},
        {filler(kLimit + 1), filler(kLimit + 40), message},
        {bytes({0xC0}), bytes({0xDB}), bytes({0xDB, 0xDB}), bytes({0xDC})},
    };
    std::mt19937 random(20240611);
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        for (std::size_t k = 0; k < corpus.size(); ++k) {
            SCOPED_TRACE("mode " + std::to_string(int(mode)) + " corpus " + std::to_string(k));
            Data stream;
            for (const Data& p : corpus[k]) stream = stream + framedPacket(p, mode);
            Frames expected = mode == OSCTCPFramingMode::osc1_0
                                  ? packetLengthHeaderDecoded(stream, NumberEndianness::bigEndian)
                                  : slipDecoded(stream);
            std::erase_if(expected, [](const Data& f) { return f.size() > kLimit; });

            std::vector<Chunks> feeds = {{stream}};
            Chunks single;
            for (std::uint8_t b : stream) single.push_back({b});
            feeds.push_back(single);
            for (std::size_t cut = 0; cut <= stream.size(); ++cut)
                feeds.push_back(splitAt(stream, {cut}));
            for (int round = 0; round < 200; ++round) {
                std::vector<std::size_t> cuts(1 + random() % 8);
                for (auto& c : cuts) c = random() % (stream.size() + 1);
                feeds.push_back(splitAt(stream, cuts));
            }
            for (const Chunks& chunks : feeds) {
                OSCTCPStreamDeframer d(mode, kLimit);
                ASSERT_EQ(feedAll(d, chunks), expected);
                EXPECT_EQ(d.bufferedByteCount(), 0u);
            }
        }
    }
}

TEST(OSCTCPStreamDeframer, DeliveredFramesDecode) {
    const OSCBundle bundle(OSCTimeTag(3), {OSCMessage("/c", {bytes({0xC0, 0xDB})})});
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        Data stream = framedPacket(bundle.encodedData(), mode);
        OSCTCPStreamDeframer d(mode);
        Frames frames;
        for (std::uint8_t b : stream) d.feed(DataView(&b, 1), frames);
        ASSERT_EQ(frames.size(), 1u);
        auto packet = OSCPacket::decode(DataView(frames[0]));
        ASSERT_TRUE(packet && packet->asBundle());
        EXPECT_EQ(packet->asBundle()->description(), bundle.description());
    }
}

struct Row {
    const char* name;
    Chunks chunks;
    Frames expected;
    std::uint64_t skipped = 0;
    std::uint64_t malformed = 0;
    std::size_t bufferedAfter = 0;
};

void check(OSCTCPFramingMode mode, const Row& row, std::size_t limit = 16) {
    SCOPED_TRACE(row.name);
    OSCTCPStreamDeframer d(mode, limit);
    EXPECT_EQ(feedAll(d, row.chunks), row.expected);
    EXPECT_EQ(d.skippedFrameCount(), row.skipped);
    EXPECT_EQ(d.malformedFrameCount(), row.malformed);
    EXPECT_EQ(d.bufferedByteCount(), row.bufferedAfter);
}

TEST(OSCTCPStreamDeframer, LengthHeaderRows) {
    const Data eight = bytes({1, 2, 3, 4, 5, 6, 7, 8});
    const Data ab = bytes({0, 0, 0, 2, 'a', 'b'});
    const Row rows[] = {
        {"header 1+3", {bytes({0}), bytes({0, 0, 2, 'a', 'b'})}, {bytes({'a', 'b'})}},
        {"header 2+2", {bytes({0, 0}), bytes({0, 2, 'a', 'b'})}, {bytes({'a', 'b'})}},
        {"header 3+1", {bytes({0, 0, 0}), bytes({2, 'a', 'b'})}, {bytes({'a', 'b'})}},
        {"chunks of 0 to 3 bytes",
         {{}, bytes({0}), {}, bytes({0, 0}), bytes({2, 'a', 'b'})},
         {bytes({'a', 'b'})}},
        {"zero length among frames",
         {ab + bytes({0, 0, 0, 0}) + ab},
         {bytes({'a', 'b'}), {}, bytes({'a', 'b'})}},
        {"body waits", {bytes({0, 0, 0, 4, 'a'}), bytes({'b'})}, {}, 0, 0, 2},
        {"limit kept, limit + 1 skipped, next frame kept",
         {bytes({0, 0, 0, 16}) + filler(16) + bytes({0, 0, 0, 17}) + filler(17) + ab},
         {filler(16), bytes({'a', 'b'})},
         1},
        {"0x7FFFFFFF", {bytes({0x7F, 0xFF, 0xFF, 0xFF}) + eight}, {}},
        {"0x80000000", {bytes({0x80, 0, 0, 0}) + eight}, {}},
        {"0xFFFFFFFC", {bytes({0xFF, 0xFF, 0xFF, 0xFC}) + eight}, {}},
        {"0xFFFFFFFF", {bytes({0xFF, 0xFF, 0xFF, 0xFF}) + eight}, {}},
        {"payload that is not OSC", {bytes({0, 0, 0, 3, 1, 2, 3})}, {bytes({1, 2, 3})}},
        {"SLIP peer", {slipEncoded(bytes({'/', 'a', 0, 0, ',', 0, 0, 0}))}, {}},
    };
    for (const Row& row : rows) check(OSCTCPFramingMode::osc1_0, row);
}

TEST(OSCTCPStreamDeframer, SLIPRows) {
    const Data a = bytes({0xC0, 'a', 0xC0});
    Chunks ends(1000, bytes({0xC0}));
    const Row rows[] = {
        {"ESC ESC drops its frame only",
         {a + bytes({'x', 0xDB, 0xDB, 'y', 0xC0}) + a},
         {bytes({'a'}), bytes({'a'})},
         0,
         1},
        {"ESC END", {a + bytes({'x', 0xDB, 0xC0, 'b', 0xC0})}, {bytes({'a'}), bytes({'b'})}, 0, 1},
        {"ESC 0x41", {a + bytes({0xDB, 0x41, 'z', 0xC0}) + a}, {bytes({'a'}), bytes({'a'})}, 0, 1},
        {"ESC at the end of a read",
         {bytes({0xC0, 'x', 0xDB}), bytes({0xDC, 0xDB}), bytes({0xDD, 0xC0})},
         {bytes({'x', 0xC0, 0xDB})}},
        {"lone DC DD", {bytes({0xC0, 0xDC, 0xDD, 0xC0})}, {bytes({0xDC, 0xDD})}},
        {"END x 1000", ends, {}},
        {"no leading END", {bytes({'a', 0xC0})}, {bytes({'a'})}},
        {"no END yet", {bytes({0xC0, 'a', 'b', 'c'})}, {}, 0, 0, 3},
        {"no END at all", Chunks(100, plain(10)), {}, 1},
        {"over the limit, then a frame", {bytes({0xC0}) + plain(17) + a}, {bytes({'a'})}, 1},
        {"exactly the limit", {slipEncoded(filler(16))}, {filler(16)}},
    };
    for (const Row& row : rows) check(OSCTCPFramingMode::osc1_1, row);
}

TEST(OSCTCPStreamDeframer, LimitResetAndModeNone) {
    OSCTCPStreamDeframer header(OSCTCPFramingMode::osc1_0, 100);
    EXPECT_EQ(OSCTCPStreamDeframer(OSCTCPFramingMode::osc1_1).frameLimit(), 1u << 20);
    EXPECT_TRUE(header.feed(bytes({0, 0, 0, 50}) + filler(20)).empty());
    header.setFrameLimit(40);  // the 50-byte frame being gathered is now too long
    EXPECT_EQ(header.bufferedByteCount(), 0u);
    EXPECT_EQ(header.feed(filler(30) + bytes({0, 0, 0, 1, 'k'})), Frames{bytes({'k'})});
    EXPECT_EQ(header.skippedFrameCount(), 1u);
    header.feed(bytes({0, 0, 0, 9, 'p'}));
    header.reset();
    EXPECT_EQ(header.feed(bytes({0, 0, 0, 1, 'q'})), Frames{bytes({'q'})});

    OSCTCPStreamDeframer slipper(OSCTCPFramingMode::osc1_1, 100);
    slipper.feed(bytes({0xC0}) + plain(50));
    slipper.setFrameLimit(40);
    EXPECT_EQ(slipper.bufferedByteCount(), 0u);
    EXPECT_EQ(slipper.feed(bytes({'z', 0xC0, 'k', 0xC0})), Frames{bytes({'k'})});
    slipper.feed(bytes({'p', 0xDB}));
    slipper.reset();
    EXPECT_EQ(slipper.feed(bytes({0xDC, 0xC0})), Frames{bytes({0xDC})});

    OSCTCPStreamDeframer none(OSCTCPFramingMode::none, 2);
    EXPECT_EQ(none.feed(bytes({0xC0, 1, 2, 3})), Frames{bytes({0xC0, 1, 2, 3})});
}

}  // namespace
}  // namespace rozuri
