#pragma once

// Byte strings written out in codec tests: literal bytes, and runs of them joined.
//
//     using mstest::bytes;
//     using mstest::operator+;             // found by ADL otherwise only in std
//     const Data frame = bytes({0, 0, 0, 4}) + bytes({'/', 'a', 0, 0});

#include <cstdint>
#include <initializer_list>
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

}  // namespace mstest
