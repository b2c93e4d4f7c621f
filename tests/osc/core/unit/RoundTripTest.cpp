#include <gtest/gtest.h>

#include <random>

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCMessageDecoding.h"
#include "osc/core/OSCMessageEncoder.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"

using namespace rozuri;

namespace {

class Generator {
  public:
    explicit Generator(std::uint32_t seed) : rng_(seed) {}

    std::string text() {
        std::string s(pick(0, 12), ' ');
        for (auto& c : s) c = static_cast<char>(pick(0x20, 0x7E));
        return s;
    }

    AnyOSCValue value(int depth) {
        switch (pick(0, depth < 3 ? 13 : 12)) {
            case 0:
                return static_cast<std::int32_t>(rng_());
            case 1: {
                float f = std::uniform_real_distribution<float>(-1e6f, 1e6f)(rng_);
                return f;
            }
            case 2:
                return text();
            case 3: {
                Data d(pick(0, 9));
                for (auto& b : d) b = static_cast<std::uint8_t>(rng_());
                return d;
            }
            case 4:
                return pick(0, 1) == 1;
            case 5:
                return Character(static_cast<char>(pick(0x20, 0x7E)));
            case 6:
                return std::uniform_real_distribution<double>(-1e12, 1e12)(rng_);
            case 7:
                return static_cast<std::int64_t>((std::uint64_t{rng_()} << 32) | rng_());
            case 8:
                return OSCImpulseValue{};
            case 9:
                return OSCNullValue{};
            case 10: {
                OSCMIDIValue m;
                m.portID = static_cast<std::uint8_t>(rng_());
                m.status = static_cast<std::uint8_t>(rng_());
                m.data1 = static_cast<std::uint8_t>(rng_());
                m.data2 = static_cast<std::uint8_t>(rng_());
                return m;
            }
            case 11:
                return OSCStringAltValue(text());
            case 12:
                return OSCTimeTag((std::uint64_t{rng_()} << 32) | rng_());
            default: {
                std::vector<AnyOSCValue> elements(pick(0, 4), AnyOSCValue(std::int32_t{0}));
                for (auto& e : elements) e = value(depth + 1);
                return OSCArrayValue(std::move(elements));
            }
        }
    }

    std::size_t pick(std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(rng_);
    }

  private:
    std::mt19937 rng_;
};

TEST(RoundTripTest, SeededRandomValueLists) {
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        Generator g(seed);
        std::vector<AnyOSCValue> values;
        std::size_t count = g.pick(0, 10);
        for (std::size_t i = 0; i < count; ++i) values.push_back(g.value(0));
        std::string address = "/" + g.text();
        Data addressBytes(address.begin(), address.end());
        Data bytes = encodeMessageData(addressBytes, values);
        ASSERT_EQ(bytes.size() % 4, 0u) << seed;
        auto decoded = decodeMessageData(bytes);
        EXPECT_EQ(decoded.addressPattern, address) << seed;
        EXPECT_TRUE(valueArraysEqual(decoded.values, values)) << "seed " << seed;
        // And the decoded list encodes to the same bytes.
        EXPECT_EQ(encodeMessageData(addressBytes, decoded.values), bytes) << seed;
    }
}

// OSC strings carry every ASCII byte but NUL: "s" and "S" must come back unchanged.
TEST(RoundTripTest, StringsKeepEveryASCIIByte) {
    std::mt19937 rng(17);
    for (int round = 0; round < 200; ++round) {
        std::string text(round == 0 ? 127 : 1 + rng() % 24, ' ');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char>(round == 0 ? i + 1 : 1 + rng() % 127);
        const std::vector<AnyOSCValue> values = {text, OSCStringAltValue(text)};
        auto decoded = decodeMessageData(encodeMessageData(Data{'/', 's'}, values));
        EXPECT_TRUE(valueArraysEqual(decoded.values, values)) << "round " << round;
    }
}

TEST(RoundTripTest, CorruptedBytesFailCleanly) {
    std::mt19937 rng(7);
    Generator g(99);
    std::vector<AnyOSCValue> values;
    for (int i = 0; i < 12; ++i) values.push_back(g.value(0));
    const Data bytes = encodeMessageData(Data{'/', 'f'}, values);
    for (int round = 0; round < 2000; ++round) {
        Data mutated = bytes;
        for (int k = 0; k < 3; ++k)
            mutated[rng() % mutated.size()] = static_cast<std::uint8_t>(rng());
        try {
            decodeMessageData(mutated);
        } catch (const OSCDecodeError&) {
        }
    }
    SUCCEED();
}

}  // namespace
