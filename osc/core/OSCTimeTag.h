#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace rozuri {

// An OSC time tag: 32.32 fixed-point seconds since 1900-01-01 00:00:00 UTC (the NTP epoch),
// the raw value 1 meaning "immediately", plus an era count for times past one era of
// 2^32 - 1 seconds. Only the raw value travels; tags read from the wire have era 0.
class OSCTimeTag {
  public:
    using Date = std::chrono::time_point<std::chrono::system_clock, std::chrono::duration<double>>;

    // Length of one era in seconds (2^32 - 1).
    static constexpr double secondsPerEra = 4294967295.0;
    // 1900-01-01 00:00:00 UTC as a date (Unix time -2,208,988,800 s).
    static Date epoch();

    constexpr OSCTimeTag() = default;
    constexpr explicit OSCTimeTag(std::uint64_t rawValue, std::int64_t era = 0)
        : era_(era), rawValue_(rawValue) {}

    static constexpr OSCTimeTag immediate() { return OSCTimeTag(1, 0); }
    static OSCTimeTag now();
    // Zero, negative and NaN give raw value 0; infinite or too large seconds clamp to the
    // latest representable tag.
    static OSCTimeTag fromSecondsSince1900(double seconds);
    static OSCTimeTag fromTimeIntervalSinceNow(double seconds);
    static OSCTimeTag fromDate(Date date);

    std::int64_t era() const { return era_; }
    std::uint64_t rawValue() const { return rawValue_; }

    bool isImmediate() const { return rawValue_ == 1; }
    // Immediate tags stand for the current date.
    Date dateValue() const;
    // Compares raw values only (eras ignored); immediate is never later.
    bool isLaterThanNow() const;
    double timeIntervalSinceNow() const;
    double timeIntervalSince(Date date) const;

    std::string description() const;

    // Keyed coding: a single unsigned number, the raw value (era not written); decoding gives
    // era 0. Errors of the JSON value pass through.
    nlohmann::json toJSON() const;
    static OSCTimeTag fromJSON(const nlohmann::json& json);

    friend constexpr bool operator==(const OSCTimeTag&, const OSCTimeTag&) = default;

  private:
    std::int64_t era_ = 0;
    std::uint64_t rawValue_ = 0;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCTimeTag> {
    std::size_t operator()(const rozuri::OSCTimeTag& tag) const noexcept;
};

#include "osc/core/OSCValue.h"
#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

// The time tag as the OSC argument "t": 8 bytes big-endian, the raw value (era not sent).
template <>
struct OSCValueTraits<OSCTimeTag> {
    static constexpr std::string_view name = "OSCTimeTag";
    static OSCValueToken oscValueToken() { return OSCValueToken::timeTag; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('t');
        return identity;
    }
    static constexpr OSCValueStaticTagEncoder<OSCTimeTag> oscEncoding() {
        return {[](const OSCTimeTag& t) {
            return OSCEncodedTag{'t',
                                 dataRepresentation(t.rawValue(), NumberEndianness::bigEndian)};
        }};
    }
    static constexpr OSCValueStaticTagDecoder<OSCTimeTag> oscDecoding() {
        return {[](OSCValueDecoder& d) { return OSCTimeTag(d.readUInt64(), 0); }};
    }
    static std::string description(const OSCTimeTag& t) { return t.description(); }
};

}  // namespace rozuri
