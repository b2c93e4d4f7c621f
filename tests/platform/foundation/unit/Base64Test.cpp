#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/foundation/Base64.h"

namespace foundation {
namespace {

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(Base64, Rfc4648Vectors) {
    const std::vector<std::pair<std::string, std::string>> vectors = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(bytes(plain)), encoded);
        EXPECT_EQ(base64Decode(encoded), bytes(plain)) << encoded;
    }
}

TEST(Base64, AllByteValuesRoundTripAndUseStandardAlphabet) {
    std::vector<std::uint8_t> all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
    for (std::size_t len = 0; len <= all.size(); len += 37) {
        std::vector<std::uint8_t> part(all.begin(), all.begin() + static_cast<long>(len));
        EXPECT_EQ(base64Decode(base64Encode(part)), part);
    }
    EXPECT_EQ(base64Encode(std::vector<std::uint8_t>{0xFB, 0xFF}), "+/8=");
}

TEST(Base64, InvalidInputIsRejected) {
    for (std::string bad : {
             "Zg",        // no padding
             "Zg=",       // short padding
             "Zm9v=",     // length not a multiple of 4
             "Z===",      // too much padding
             "Zg==Zg==",  // padding in the middle
             "Zm=v",      // data after padding
             "Zh==",      // non-zero bits under the padding
             "Zm9=",      // non-zero bits under one pad
             "Zm9v\n",    // whitespace
             "Zm 9v",     // space
             "Zm9-",      // URL-safe alphabet
             "Zm9_",      // URL-safe alphabet
             "====",      // padding only
         }) {
        EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
    }
    std::string withNul("Zm9\0", 4);
    EXPECT_FALSE(base64Decode(withNul).has_value());
}

}  // namespace
}  // namespace foundation
