#pragma once

// A number of any integer or floating-point value type, or a Bool, for handlers that want "some
// number". Not an OSC value: no tag, never sent or received.

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/OSCValueToken.h"

namespace rozuri {

class OSCNumberValueBase {
  public:
    struct Bool {
        bool value;
    };
    // A value whose type is an OSC value and an integer (any width and signedness).
    struct Int {
        AnyOSCValue value;
    };
    // A value whose type is an OSC value and a floating-point number.
    struct Float {
        AnyOSCValue value;
    };
    using Case = std::variant<Bool, Int, Float>;

    static OSCNumberValueBase boolean(bool v) { return OSCNumberValueBase(Bool{v}); }
    // Precondition: the value's numeric category is an integer one (else std::invalid_argument).
    static OSCNumberValueBase integer(AnyOSCValue v);
    // Precondition: the value's numeric category is floating point (else std::invalid_argument).
    static OSCNumberValueBase floatingPoint(AnyOSCValue v);

    const Case& value() const { return case_; }
    friend bool operator==(const OSCNumberValueBase& a, const OSCNumberValueBase& b);
    std::size_t hash() const;
    std::string description() const;

  private:
    explicit OSCNumberValueBase(Case c) : case_(std::move(c)) {}
    Case case_;
};

class AnyOSCNumberValue {
  public:
    explicit AnyOSCNumberValue(OSCNumberValueBase base) : base(std::move(base)) {}
    template <OSCValue T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) || std::is_same_v<T, rozuri::Int> ||
        std::is_same_v<T, rozuri::UInt> static AnyOSCNumberValue fromInt(T v) {
        return AnyOSCNumberValue(OSCNumberValueBase::integer(AnyOSCValue(v)));
    }
    template <OSCValue T>
    requires std::is_floating_point_v<T> || std::is_same_v<T, rozuri::CGFloat>
    static AnyOSCNumberValue fromFloat(T v) {
        return AnyOSCNumberValue(OSCNumberValueBase::floatingPoint(AnyOSCValue(v)));
    }
    static AnyOSCNumberValue fromBool(bool v) {
        return AnyOSCNumberValue(OSCNumberValueBase::boolean(v));
    }
    // Any numeric or Bool value; none for other types.
    static std::optional<AnyOSCNumberValue> fromValue(const AnyOSCValue& v);

    OSCNumberValueBase base;

    static OSCValueToken oscValueToken() { return OSCValueToken::numberOrBool; }

    // Integers: greater than 0; floats: at least 1.0 (NaN false).
    bool boolValue() const;
    // Floats truncate toward zero and clamp to the 64-bit range, NaN gives 0; unsigned values
    // above the largest Int clamp.
    std::int64_t intValue() const;
    double doubleValue() const;

    friend bool operator==(const AnyOSCNumberValue& a, const AnyOSCNumberValue& b) {
        return a.base == b.base;
    }
    std::size_t hash() const { return base.hash(); }
    std::string description() const { return base.description(); }
};

// Requestable from a value mask, yet no OSC value: without a tag or coders it cannot enter a value
// list.
template <>
struct OSCValueTraits<AnyOSCNumberValue> {
    static constexpr std::string_view name = "AnyOSCNumberValue";
    static OSCValueToken oscValueToken() { return AnyOSCNumberValue::oscValueToken(); }
};
static_assert(OSCValueMaskable<AnyOSCNumberValue> && !OSCValue<AnyOSCNumberValue>);

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCNumberValueBase> {
    std::size_t operator()(const rozuri::OSCNumberValueBase& v) const { return v.hash(); }
};
template <>
struct std::hash<rozuri::AnyOSCNumberValue> {
    std::size_t operator()(const rozuri::AnyOSCNumberValue& v) const { return v.hash(); }
};
