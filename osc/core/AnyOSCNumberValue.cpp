#include "osc/core/AnyOSCNumberValue.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace rozuri {

namespace {

bool isInteger(const AnyOSCValue& v) {
    auto c = v.descriptor().numericCategory;
    return c == OSCNumericCategory::signedInteger || c == OSCNumericCategory::unsignedInteger;
}

// Truncates toward zero and clamps; NaN gives 0.
std::int64_t clampToInt64(long double f) {
    if (std::isnan(f)) return 0;
    if (f >= 9223372036854775808.0L) return std::numeric_limits<std::int64_t>::max();
    if (f <= -9223372036854775808.0L) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(f);
}

long double floating(const AnyOSCValue& v) {
    return v.descriptor().floatingValue(v.rawValue());
}

std::int64_t integer(const AnyOSCValue& v) {
    const auto& d = v.descriptor();
    if (d.numericCategory == OSCNumericCategory::unsignedInteger) {
        std::uint64_t u = d.unsignedValue(v.rawValue());
        return u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                   ? std::numeric_limits<std::int64_t>::max()
                   : static_cast<std::int64_t>(u);
    }
    return d.signedValue(v.rawValue());
}

}  // namespace

OSCNumberValueBase OSCNumberValueBase::integer(AnyOSCValue v) {
    if (!isInteger(v))
        throw std::invalid_argument("Not an integer value: " + std::string(v.typeName()));
    return OSCNumberValueBase(Int{std::move(v)});
}

OSCNumberValueBase OSCNumberValueBase::floatingPoint(AnyOSCValue v) {
    if (v.descriptor().numericCategory != OSCNumericCategory::floatingPoint)
        throw std::invalid_argument("Not a floating-point value: " + std::string(v.typeName()));
    return OSCNumberValueBase(Float{std::move(v)});
}

bool operator==(const OSCNumberValueBase& a, const OSCNumberValueBase& b) {
    if (a.case_.index() != b.case_.index()) return false;
    if (auto x = std::get_if<OSCNumberValueBase::Bool>(&a.case_))
        return x->value == std::get<OSCNumberValueBase::Bool>(b.case_).value;
    if (auto x = std::get_if<OSCNumberValueBase::Int>(&a.case_))
        return x->value == std::get<OSCNumberValueBase::Int>(b.case_).value;
    return std::get<OSCNumberValueBase::Float>(a.case_).value ==
           std::get<OSCNumberValueBase::Float>(b.case_).value;
}

std::size_t OSCNumberValueBase::hash() const {
    return std::visit(
        [](const auto& c) -> std::size_t {
            if constexpr (std::is_same_v<std::decay_t<decltype(c)>, Bool>) {
                return std::hash<bool>{}(c.value);
            } else {
                return c.value.hash();
            }
        },
        case_);
}

std::string OSCNumberValueBase::description() const {
    if (auto b = std::get_if<Bool>(&case_)) return b->value ? "true" : "false";
    if (auto i = std::get_if<Int>(&case_)) return i->value.description();
    return std::get<Float>(case_).value.description();
}

std::optional<AnyOSCNumberValue> AnyOSCNumberValue::fromValue(const AnyOSCValue& v) {
    switch (v.descriptor().numericCategory) {
        case OSCNumericCategory::boolean:
            return AnyOSCNumberValue(
                OSCNumberValueBase::boolean(v.descriptor().signedValue(v.rawValue()) != 0));
        case OSCNumericCategory::signedInteger:
        case OSCNumericCategory::unsignedInteger:
            return AnyOSCNumberValue(OSCNumberValueBase::integer(v));
        case OSCNumericCategory::floatingPoint:
            return AnyOSCNumberValue(OSCNumberValueBase::floatingPoint(v));
        case OSCNumericCategory::none:
            break;
    }
    return std::nullopt;
}

bool AnyOSCNumberValue::boolValue() const {
    const auto& c = base.value();
    if (auto b = std::get_if<OSCNumberValueBase::Bool>(&c)) return b->value;
    if (auto i = std::get_if<OSCNumberValueBase::Int>(&c)) return integer(i->value) > 0;
    // NaN compares false.
    return static_cast<double>(floating(std::get<OSCNumberValueBase::Float>(c).value)) >= 1.0;
}

std::int64_t AnyOSCNumberValue::intValue() const {
    const auto& c = base.value();
    if (auto b = std::get_if<OSCNumberValueBase::Bool>(&c)) return b->value ? 1 : 0;
    if (auto i = std::get_if<OSCNumberValueBase::Int>(&c)) return integer(i->value);
    return clampToInt64(floating(std::get<OSCNumberValueBase::Float>(c).value));
}

double AnyOSCNumberValue::doubleValue() const {
    const auto& c = base.value();
    if (auto b = std::get_if<OSCNumberValueBase::Bool>(&c)) return b->value ? 1.0 : 0.0;
    if (auto i = std::get_if<OSCNumberValueBase::Int>(&c)) {
        const auto& d = i->value.descriptor();
        if (d.numericCategory == OSCNumericCategory::unsignedInteger)
            return static_cast<double>(d.unsignedValue(i->value.rawValue()));
        return static_cast<double>(d.signedValue(i->value.rawValue()));
    }
    return static_cast<double>(floating(std::get<OSCNumberValueBase::Float>(c).value));
}

}  // namespace rozuri
