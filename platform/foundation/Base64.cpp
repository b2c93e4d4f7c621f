#include "platform/foundation/Base64.h"

#include <array>

namespace foundation {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kDecode = makeDecodeTable();

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        std::uint32_t v =
            std::uint32_t(data[i]) << 16 | std::uint32_t(data[i + 1]) << 8 | data[i + 2];
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(kAlphabet[v >> 6 & 63]);
        out.push_back(kAlphabet[v & 63]);
    }
    std::size_t rest = data.size() - i;
    if (rest == 1) {
        std::uint32_t v = std::uint32_t(data[i]) << 16;
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.append("==");
    } else if (rest == 2) {
        std::uint32_t v = std::uint32_t(data[i]) << 16 | std::uint32_t(data[i + 1]) << 8;
        out.push_back(kAlphabet[v >> 18 & 63]);
        out.push_back(kAlphabet[v >> 12 & 63]);
        out.push_back(kAlphabet[v >> 6 & 63]);
        out.push_back('=');
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int j = 0; j < 4; ++j) {
            char c = text[i + j];
            if (c == '=') {
                // Padding only in the last quantum, only in its last two places, and only trailing.
                if (!last || j < 2) return std::nullopt;
                ++pad;
                v[j] = 0;
                continue;
            }
            if (pad) return std::nullopt;
            v[j] = kDecode[static_cast<unsigned char>(c)];
            if (v[j] < 0) return std::nullopt;
        }
        std::uint32_t word = std::uint32_t(v[0]) << 18 | std::uint32_t(v[1]) << 12 |
                             std::uint32_t(v[2]) << 6 | std::uint32_t(v[3]);
        // Non-zero bits under the padding make a second spelling of the same bytes; refuse it.
        if (pad == 1 && (word & 0xFF)) return std::nullopt;
        if (pad == 2 && (word & 0xFFFF)) return std::nullopt;
        out.push_back(static_cast<std::uint8_t>(word >> 16));
        if (pad < 2) out.push_back(static_cast<std::uint8_t>(word >> 8));
        if (pad < 1) out.push_back(static_cast<std::uint8_t>(word));
    }
    return out;
}

}  // namespace foundation
