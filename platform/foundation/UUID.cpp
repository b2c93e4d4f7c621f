#include "platform/foundation/UUID.h"

#include <random>

namespace foundation {

namespace {

std::mt19937_64& generator() {
    // One engine per thread, each fully seeded from the system's entropy source.
    thread_local std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device(),
                           device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    return engine;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr bool isDashPosition(std::size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

}  // namespace

UUID::UUID() {
    auto& engine = generator();
    for (std::size_t i = 0; i < 16; i += 8) {
        std::uint64_t word = engine();
        for (std::size_t j = 0; j < 8; ++j)
            bytes_[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
    }
    bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);  // version 4
    bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

std::optional<UUID> UUID::fromString(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    Bytes bytes{};
    std::size_t out = 0;
    for (std::size_t i = 0; i < 36;) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int hi = hexValue(text[i]);
        int lo = i + 1 < 36 && !isDashPosition(i + 1) ? hexValue(text[i + 1]) : -1;
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[out++] = static_cast<std::uint8_t>(hi << 4 | lo);
        i += 2;
    }
    return UUID(bytes);
}

std::string UUID::uuidString() const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kDigits[bytes_[i] >> 4]);
        text.push_back(kDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

}  // namespace foundation

std::size_t std::hash<foundation::UUID>::operator()(const foundation::UUID& uuid) const noexcept {
    // FNV-1a over the 16 bytes.
    std::uint64_t h = 1469598103934665603ull;
    for (auto b : uuid.bytes()) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return static_cast<std::size_t>(h);
}
