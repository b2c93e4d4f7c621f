#include "osc/core/OSCTimeTag.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace rozuri {

namespace {

constexpr double twoTo32 = 4294967296.0;
constexpr double unixToNTPSeconds = 2208988800.0;

// 32.32 fixed point of seconds within one era; r is kept in [0, secondsPerEra].
std::uint64_t fixedPoint(double r) {
    if (!(r > 0)) return 0;
    if (r > OSCTimeTag::secondsPerEra) r = OSCTimeTag::secondsPerEra;
    return static_cast<std::uint64_t>(r * twoTo32);
}

double secondsSinceEpoch(OSCTimeTag::Date date) {
    return (date - OSCTimeTag::epoch()).count();
}

}  // namespace

OSCTimeTag::Date OSCTimeTag::epoch() {
    return Date(std::chrono::duration<double>(-unixToNTPSeconds));
}

OSCTimeTag OSCTimeTag::fromSecondsSince1900(double s) {
    if (!(s > 0)) return OSCTimeTag(0, 0);
    if (s <= secondsPerEra) return OSCTimeTag(fixedPoint(s), 0);
    double eras = std::trunc(s / secondsPerEra);
    // 2^63 as a double: the first era count that does not fit.
    if (!(eras < 9223372036854775808.0))
        return OSCTimeTag(fixedPoint(secondsPerEra), std::numeric_limits<std::int64_t>::max());
    return OSCTimeTag(fixedPoint(s - eras * secondsPerEra), static_cast<std::int64_t>(eras));
}

OSCTimeTag OSCTimeTag::now() {
    return fromSecondsSince1900(secondsSinceEpoch(std::chrono::system_clock::now()));
}

OSCTimeTag OSCTimeTag::fromTimeIntervalSinceNow(double seconds) {
    if (seconds == 0) return now();
    Date date = Date(std::chrono::system_clock::now()) + std::chrono::duration<double>(seconds);
    return fromSecondsSince1900(secondsSinceEpoch(date));
}

OSCTimeTag OSCTimeTag::fromDate(Date date) {
    return fromSecondsSince1900(secondsSinceEpoch(date));
}

OSCTimeTag::Date OSCTimeTag::dateValue() const {
    if (isImmediate()) return Date(std::chrono::system_clock::now());
    double seconds =
        static_cast<double>(rawValue_) / twoTo32 + static_cast<double>(era_) * secondsPerEra;
    return epoch() + std::chrono::duration<double>(seconds);
}

bool OSCTimeTag::isLaterThanNow() const {
    if (isImmediate()) return false;
    return now().rawValue_ < rawValue_;
}

double OSCTimeTag::timeIntervalSinceNow() const {
    if (isImmediate()) return 0;
    return (dateValue() - Date(std::chrono::system_clock::now())).count();
}

double OSCTimeTag::timeIntervalSince(Date date) const {
    if (isImmediate()) return 0;
    return (dateValue() - date).count();
}

std::string OSCTimeTag::description() const {
    if (isImmediate()) return "1 (immediate)";
    if (era_ == 0) return std::to_string(rawValue_);
    return std::to_string(rawValue_) + "-era:" + std::to_string(era_);
}

nlohmann::json OSCTimeTag::toJSON() const {
    return rawValue_;
}

OSCTimeTag OSCTimeTag::fromJSON(const nlohmann::json& json) {
    return OSCTimeTag(json.get<std::uint64_t>(), 0);
}

}  // namespace rozuri

std::size_t std::hash<rozuri::OSCTimeTag>::operator()(
    const rozuri::OSCTimeTag& tag) const noexcept {
    std::size_t h = std::hash<std::int64_t>{}(tag.era());
    return h ^ (std::hash<std::uint64_t>{}(tag.rawValue()) + 0x9e3779b97f4a7c15ULL + (h << 6) +
                (h >> 2));
}
