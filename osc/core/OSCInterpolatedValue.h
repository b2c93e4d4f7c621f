#pragma once

// Integer and floating-point types that travel as a core type: Int, Int8, Int16, UInt8, UInt16
// as Int32 'i'; UInt32, UInt, UInt64 as Int64 'h'; Float80 and CGFloat as Double 'd'. They are not
// in the registry: a received 'i' is always an Int32. Out-of-range values throw
// valueEncodingError / valueDecodingError naming the value and the type.

#include <cstdint>
#include <string>

#include "osc/core/NumericTypes.h"
#include "osc/core/OSCCoreValueTypes.h"

namespace rozuri {

#define ROZURI_INTERPOLATED_TRAITS(Type, Name, Core)                                           \
    template <>                                                                                \
    struct OSCValueTraits<Type> {                                                              \
        using CoreOSCValue = Core;                                                             \
        static constexpr std::string_view name = Name;                                         \
        static OSCValueToken oscValueToken() { return OSCValueTraits<Core>::oscValueToken(); } \
        static const OSCValueTagIdentity& oscTagIdentity() {                                   \
            return OSCValueTraits<Core>::oscTagIdentity();                                     \
        }                                                                                      \
        static OSCValueStaticTagEncoder<Type> oscEncoding();                                   \
        static OSCValueStaticTagDecoder<Type> oscDecoding();                                   \
        static std::string description(const Type& v);                                         \
    };

ROZURI_INTERPOLATED_TRAITS(Int, "Int", std::int32_t)
ROZURI_INTERPOLATED_TRAITS(std::int8_t, "Int8", std::int32_t)
ROZURI_INTERPOLATED_TRAITS(std::int16_t, "Int16", std::int32_t)
ROZURI_INTERPOLATED_TRAITS(std::uint8_t, "UInt8", std::int32_t)
ROZURI_INTERPOLATED_TRAITS(std::uint16_t, "UInt16", std::int32_t)
ROZURI_INTERPOLATED_TRAITS(std::uint32_t, "UInt32", std::int64_t)
ROZURI_INTERPOLATED_TRAITS(UInt, "UInt", std::int64_t)
ROZURI_INTERPOLATED_TRAITS(std::uint64_t, "UInt64", std::int64_t)
ROZURI_INTERPOLATED_TRAITS(Float80, "Float80", double)
ROZURI_INTERPOLATED_TRAITS(CGFloat, "CGFloat", double)

#undef ROZURI_INTERPOLATED_TRAITS

}  // namespace rozuri
