#pragma once

#include <cstdint>
#include <span>
#include <typeinfo>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/OSCValueToken.h"

namespace rozuri {

// Value tokens as masks: which argument kinds a handler expects.

// The tokens the two group tokens accept, as bit sets of ordinals.
inline constexpr std::uint32_t numberTokenSet = 0x4186;        // float32 int32 double int64 number
inline constexpr std::uint32_t numberOrBoolTokenSet = 0x81A6;  // ... bool, numberOrBool

// The type that stands for a token (its optional form alike): String for string and stringAlt,
// Int64 for timeTag, AnyOSCNumberValue for number and numberOrBool.
const std::type_info& tokenType(OSCValueToken token);

// Whether the values fit the mask: no more values than tokens, a value per required token, each
// of the kind its token names. Values of interpolated types only fit the group tokens.
bool valuesMatchMask(std::span<const AnyOSCValue> values, std::span<const OSCValueToken> mask);

// Whether a mask token accepts a value token: equal tokens, or with `allowGroups` the members
// of number / numberOrBool.
bool tokenAccepts(OSCValueToken maskToken, bool allowGroups, OSCValueToken valueToken);

}  // namespace rozuri
