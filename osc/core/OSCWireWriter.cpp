#include "osc/core/OSCWireWriter.h"

#include <array>
#include <cstring>

#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

namespace {

std::uint8_t* putBig32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
    return p + 4;
}

std::uint8_t* putBytes(std::uint8_t* p, const void* bytes, std::size_t n) {
    if (n) std::memcpy(p, bytes, n);
    return p + n;
}

// A NUL-terminated field padded to four bytes.
std::size_t textField(std::size_t n) {
    return n + 4 - n % 4;
}

}  // namespace

bool isWireReadyText(std::string_view text) {
    if (text.size() > kWirePayloadLimit) return false;
    // One pass, eight bytes at a time: no byte may have its high bit set or be zero.
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size(), i = 0;
    constexpr std::uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    for (; n - i >= 8; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, p + i, 8);
        if ((w & highs) || ((w - ones) & ~w & highs)) return false;
    }
    for (; i < n; ++i)
        if (p[i] == 0 || p[i] >= 0x80) return false;
    return true;
}

void appendWireMessage(Data& out, std::string_view address,
                       std::span<const OSCWireArgument> arguments) {
    std::array<char, kWireArgumentLimit + 1> tags;
    tags[0] = ',';
    std::size_t payload = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const OSCWireArgument& a = arguments[i];
        tags[i + 1] = a.tag;
        switch (a.kind) {
            case OSCWireArgument::Kind::bare:
                break;
            case OSCWireArgument::Kind::word:
                payload += 4;
                break;
            case OSCWireArgument::Kind::doubleWord:
                payload += 8;
                break;
            case OSCWireArgument::Kind::text:
                payload += textField(a.size);
                break;
            case OSCWireArgument::Kind::blob:
                payload += 4 + a.size + blobPadCount(a.size);
                break;
        }
    }
    std::size_t tagCount = arguments.size() + 1;
    std::size_t addressField = textField(address.size());
    std::size_t start = out.size();
    // Zero-filled, so every padding byte is already in place.
    out.resize(start + addressField + textField(tagCount) + payload);
    std::uint8_t* p = out.data() + start;
    putBytes(p, address.data(), address.size());
    p += addressField;
    putBytes(p, tags.data(), tagCount);
    p += textField(tagCount);
    for (const OSCWireArgument& a : arguments) {
        switch (a.kind) {
            case OSCWireArgument::Kind::bare:
                break;
            case OSCWireArgument::Kind::word:
                p = putBig32(p, static_cast<std::uint32_t>(a.bits));
                break;
            case OSCWireArgument::Kind::doubleWord:
                p = putBig32(p, static_cast<std::uint32_t>(a.bits >> 32));
                p = putBig32(p, static_cast<std::uint32_t>(a.bits));
                break;
            case OSCWireArgument::Kind::text:
                p = putBytes(p, a.bytes, a.size) + (4 - a.size % 4);
                break;
            case OSCWireArgument::Kind::blob:
                p = putBig32(p, static_cast<std::uint32_t>(a.size));
                p = putBytes(p, a.bytes, a.size) + blobPadCount(a.size);
                break;
        }
    }
}

}  // namespace rozuri
