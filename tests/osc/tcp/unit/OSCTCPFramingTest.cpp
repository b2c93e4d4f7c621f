#include <gtest/gtest.h>

#include <sys/mman.h>

#include <optional>
#include <unordered_set>
#include <variant>

#include "osc/core/OSCEncodeError.h"
#include "osc/tcp/OSCTCPFraming.h"
#include "osc/tcp/OSCTCPFramingMode.h"
#include "tests/support/Bytes.h"

namespace rozuri {
namespace {

using mstest::bytes;
using mstest::operator+;

const Data kTwelve = bytes({'/', 'a', 0, 0, ',', 'i', 0, 0, 0, 0, 0, 7});

TEST(OSCTCPFraming, ModesErrorsAndTexts) {
    EXPECT_EQ(allOSCTCPFramingModes.size(), 2u);
    EXPECT_EQ(allOSCTCPFramingModes[0], OSCTCPFramingMode::osc1_0);
    EXPECT_EQ(allOSCTCPFramingModes[1], OSCTCPFramingMode::osc1_1);
    std::unordered_set<OSCTCPFramingMode> set{OSCTCPFramingMode::osc1_0, OSCTCPFramingMode::osc1_1,
                                              OSCTCPFramingMode::osc1_0};
    EXPECT_EQ(set.size(), 2u);

    EXPECT_EQ(OSCTCPPacketLengthHeaderDecodingError::notEnoughBytes().localizedDescription(),
              "Note enough bytes.");
    EXPECT_EQ(OSCTCPSLIPDecodingError::doubleEscapeBytes().localizedDescription(),
              "SLIP packet data is malformed. Double escape bytes encountered.");
    EXPECT_EQ(OSCTCPSLIPDecodingError::missingEscapedCharacter().localizedDescription(),
              "SLIP packet data is malformed. Encountered an escape byte but missing subsequent "
              "escaped character.");
    EXPECT_NE(OSCTCPSLIPDecodingError::doubleEscapeBytes(),
              OSCTCPSLIPDecodingError::missingEscapedCharacter());
}

TEST(OSCTCPFraming, Encoders) {
    struct Case {
        Data encoded, expected;
    };
    const Case cases[] = {
        {packetLengthHeaderEncoded(kTwelve, NumberEndianness::bigEndian),
         bytes({0, 0, 0, 12}) + kTwelve},
        {packetLengthHeaderEncoded(kTwelve, NumberEndianness::littleEndian),
         bytes({12, 0, 0, 0}) + kTwelve},
        {packetLengthHeaderEncoded({}, NumberEndianness::bigEndian), bytes({0, 0, 0, 0})},
        {slipEncoded(bytes({0xC0, 0xDB})), bytes({0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0})},
        {slipEncoded({}), bytes({0xC0, 0xC0})},
        {slipEncoded(bytes({0xDC, 0xDD, 1})), bytes({0xC0, 0xDC, 0xDD, 1, 0xC0})},
        {framedPacket(kTwelve, OSCTCPFramingMode::osc1_0), bytes({0, 0, 0, 12}) + kTwelve},
        {framedPacket(bytes({0xC0}), OSCTCPFramingMode::osc1_1), bytes({0xC0, 0xDB, 0xDC, 0xC0})},
        {framedPacket(bytes({0xC0}), OSCTCPFramingMode::none), bytes({0xC0})},
    };
    for (const Case& c : cases) EXPECT_EQ(c.encoded, c.expected);
}

// A 4 GiB payload mapped without backing: the encoder must refuse it before touching a byte,
// rather than write a header that announces (2^32 mod 2^32) = 0 bytes.
TEST(OSCTCPFraming, LengthHeaderRefusesPayloadOf4GiB) {
    const std::size_t size = std::size_t{1} << 32;
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) GTEST_SKIP() << "cannot reserve 4 GiB of address space";
    DataView payload(static_cast<const std::uint8_t*>(p), size);
    try {
        packetLengthHeaderEncoded(payload, NumberEndianness::bigEndian);
        ADD_FAILURE() << "no error";
    } catch (const OSCEncodeError& e) {
        EXPECT_EQ(e.kind(), OSCEncodeError::Kind::general);
    }
    ::munmap(p, size);
}

using Outcome =
    std::variant<std::vector<Data>, OSCTCPPacketLengthHeaderDecodingError, OSCTCPSLIPDecodingError>;

template <class Decode>
Outcome outcome(Decode decode) {
    try {
        return decode();
    } catch (const OSCTCPPacketLengthHeaderDecodingError& e) {
        return e;
    } catch (const OSCTCPSLIPDecodingError& e) {
        return e;
    }
}

TEST(OSCTCPFraming, LengthHeaderDecoding) {
    const auto notEnough = OSCTCPPacketLengthHeaderDecodingError::notEnoughBytes();
    const Data eight = bytes({1, 2, 3, 4, 5, 6, 7, 8});
    struct Case {
        const char* name;
        Data chunk;
        Outcome expected;
    };
    const Case cases[] = {
        {"empty", {}, std::vector<Data>{}},
        {"1 byte", bytes({0}), notEnough},
        {"2 bytes", bytes({0, 0}), notEnough},
        {"3 bytes", bytes({0, 0, 0}), notEnough},
        {"two frames", bytes({0, 0, 0, 2, 'a', 'b', 0, 0, 0, 1, 'c'}),
         std::vector<Data>{bytes({'a', 'b'}), bytes({'c'})}},
        {"short body", bytes({0, 0, 0, 3, 'a', 'b'}), notEnough},
        {"short body after a frame", bytes({0, 0, 0, 1, 'a', 0, 0, 0, 3, 'b'}), notEnough},
        {"header cut after a frame", bytes({0, 0, 0, 1, 'a', 0, 0}), notEnough},
        {"zero length", bytes({0, 0, 0, 0}), std::vector<Data>{Data{}}},
        {"zero among frames", bytes({0, 0, 0, 1, 'a', 0, 0, 0, 0, 0, 0, 0, 1, 'b'}),
         std::vector<Data>{bytes({'a'}), Data{}, bytes({'b'})}},
        {"0x7FFFFFFF", bytes({0x7F, 0xFF, 0xFF, 0xFF}) + eight, notEnough},
        {"0x80000000", bytes({0x80, 0, 0, 0}) + eight, notEnough},
        {"0xFFFFFFFC", bytes({0xFF, 0xFF, 0xFF, 0xFC}) + eight, notEnough},
        {"0xFFFFFFFF", bytes({0xFF, 0xFF, 0xFF, 0xFF}) + eight, notEnough},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome([&] {
                      return packetLengthHeaderDecoded(c.chunk, NumberEndianness::bigEndian);
                  }),
                  c.expected);
    }
    EXPECT_EQ(
        packetLengthHeaderDecoded(bytes({2, 0, 0, 0, 'a', 'b'}), NumberEndianness::littleEndian),
        std::vector<Data>{bytes({'a', 'b'})});
}

TEST(OSCTCPFraming, SLIPDecoding) {
    const auto doubleEsc = OSCTCPSLIPDecodingError::doubleEscapeBytes();
    const auto missing = OSCTCPSLIPDecodingError::missingEscapedCharacter();
    struct Case {
        const char* name;
        Data chunk;
        Outcome expected;
    };
    const Case cases[] = {
        {"empty", {}, std::vector<Data>{}},
        {"END END", bytes({0xC0, 0xC0}), std::vector<Data>{}},
        {"END x 3", bytes({0xC0, 0xC0, 0xC0}), std::vector<Data>{}},
        {"leading END", bytes({0xC0, 'a', 0xC0}), std::vector<Data>{bytes({'a'})}},
        {"no leading END", bytes({'a', 0xC0, 'b', 0xC0}),
         std::vector<Data>{bytes({'a'}), bytes({'b'})}},
        {"tail without END", bytes({0xC0, 'a', 0xC0, 'b'}),
         std::vector<Data>{bytes({'a'}), bytes({'b'})}},
        {"escapes", bytes({0xC0, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}),
         std::vector<Data>{bytes({0xC0, 0xDB})}},
        {"lone DC DD", bytes({0xDC, 0xDD, 0xC0}), std::vector<Data>{bytes({0xDC, 0xDD})}},
        {"ESC ESC", bytes({0xC0, 'a', 0xC0, 0xDB, 0xDB, 0xC0}), doubleEsc},
        {"ESC END", bytes({0xC0, 'a', 0xDB, 0xC0}), missing},
        {"ESC 0x41", bytes({0xDB, 0x41, 0xC0}), missing},
        {"ESC at end", bytes({0xC0, 'a', 0xC0, 'b', 0xDB}), missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome([&] { return slipDecoded(c.chunk); }), c.expected);
    }
}

}  // namespace
}  // namespace rozuri
