#pragma once

// Byte strings written out in codec tests and benchmarks: literal bytes, runs of them joined,
// and a plain OSC message built by hand (for peers that must not use the library under test).
//
//     using mstest::bytes;
//     using mstest::operator+;             // found by ADL otherwise only in std
//     const Data frame = bytes({0, 0, 0, 4}) + bytes({'/', 'a', 0, 0});

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace mstest {

using Bytes = std::vector<std::uint8_t>;

// Values are written as ints so that chars and numbers mix; each is taken modulo 256.
inline Bytes bytes(std::initializer_list<int> list) {
    Bytes d;
    d.reserve(list.size());
    for (int b : list) d.push_back(static_cast<std::uint8_t>(b));
    return d;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes d;
    for (const Bytes& p : parts) d.insert(d.end(), p.begin(), p.end());
    return d;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// An OSC message with int32 arguments: the address and the type tags each padded to 4 bytes,
// the arguments big-endian.
inline Bytes oscMessage(const std::string& address, const std::vector<std::int32_t>& ints = {}) {
    Bytes out;
    const auto padded = [&out](const std::string& text) {
        out.insert(out.end(), text.begin(), text.end());
        do out.push_back(0);
        while (out.size() % 4 != 0);
    };
    padded(address);
    padded("," + std::string(ints.size(), 'i'));
    for (const std::int32_t i : ints) {
        const auto v = static_cast<std::uint32_t>(i);
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    return out;
}

}  // namespace mstest
