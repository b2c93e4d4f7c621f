#include "osc/core/CoreUtilities.h"

#include <climits>
#include <cmath>
#include <thread>


namespace rozuri {

std::uint64_t sleepNanoseconds(double seconds) {
    static constexpr double cap = 18446744073.0;
    if (!(seconds > 0)) return 0;
    return static_cast<std::uint64_t>(std::min(seconds, cap) * 1'000'000'000.0);
}

void sleepSeconds(double seconds) {
    std::uint64_t ns = sleepNanoseconds(seconds);
    // sleep_for takes signed nanoseconds; sleep in slices so the cap cannot overflow them.
    constexpr std::uint64_t slice = 1'000'000'000ULL * 3600 * 24 * 365;
    while (ns > 0) {
        std::uint64_t step = std::min(ns, slice);
        std::this_thread::sleep_for(std::chrono::nanoseconds(static_cast<std::int64_t>(step)));
        ns -= step;
    }
}

double secondsSinceOSCEpoch(OSCTimeTag::Date date) {
    return (date - OSCTimeTag::epoch()).count();
}

std::optional<std::int64_t> oscEra(OSCTimeTag::Date date) {
    double q = std::trunc(secondsSinceOSCEpoch(date) / OSCTimeTag::secondsPerEra);
    if (!(q >= -9223372036854775808.0 && q < 9223372036854775808.0)) return std::nullopt;
    return static_cast<std::int64_t>(q);
}

std::string detail::radixString(std::uint64_t magnitude, bool negative, unsigned radix, int padTo,
                                bool prefix) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string body;
    do {
        body.insert(body.begin(), digits[magnitude % radix]);
        magnitude /= radix;
    } while (magnitude != 0);
    if (padTo > 0 && body.size() < static_cast<std::size_t>(padTo))
        body.insert(0, static_cast<std::size_t>(padTo) - body.size(), '0');
    std::string text = negative ? "-" : "";
    if (prefix) text += radix == 16 ? "0x" : "0b";
    return text + body;
}

namespace {

// Decodes one UTF-8 scalar at `i`; false on invalid input.
bool nextScalar(std::string_view text, std::size_t& i, char32_t& scalar) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char b = byte(i);
    int extra;
    if (b < 0x80) {
        scalar = b;
        extra = 0;
    } else if ((b & 0xE0) == 0xC0) {
        scalar = b & 0x1F;
        extra = 1;
    } else if ((b & 0xF0) == 0xE0) {
        scalar = b & 0x0F;
        extra = 2;
    } else if ((b & 0xF8) == 0xF0) {
        scalar = b & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        unsigned char c = byte(i + static_cast<std::size_t>(k));
        if ((c & 0xC0) != 0x80) return false;
        scalar = (scalar << 6) | (c & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (scalar < minimum[extra] || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
        return false;
    i += static_cast<std::size_t>(extra) + 1;
    return true;
}

}  // namespace

CharacterSet::CharacterSet(const std::vector<std::string>& strings) {
    for (const std::string& s : strings) {
        std::size_t i = 0;
        char32_t scalar;
        while (i < s.size()) {
            if (nextScalar(s, i, scalar))
                insert(scalar);
            else
                ++i;
        }
    }
}

CharacterSet& CharacterSet::operator+=(const CharacterSet& other) {
    scalars_.insert(other.scalars_.begin(), other.scalars_.end());
    return *this;
}

CharacterSet& CharacterSet::operator-=(const CharacterSet& other) {
    for (char32_t s : other.scalars_) scalars_.erase(s);
    return *this;
}

bool isMadeOf(std::string_view text, const CharacterSet& set) {
    std::size_t i = 0;
    char32_t scalar;
    while (i < text.size()) {
        if (!nextScalar(text, i, scalar) || !set.contains(scalar)) return false;
    }
    return true;
}

}  // namespace rozuri
