#include "osc/core/OSCValueTokenMatching.h"

#include <string>

#include "osc/core/AnyOSCNumberValue.h"
#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"

namespace rozuri {

namespace {

bool inSet(std::uint32_t set, OSCValueToken t) {
    return ordinal(t) < 32 && ((set >> ordinal(t)) & 1u) != 0;
}

}  // namespace

const std::type_info& tokenType(OSCValueToken token) {
    switch (baseToken(token)) {
        case OSCValueToken::blob:
            return typeid(Data);
        case OSCValueToken::float32:
            return typeid(float);
        case OSCValueToken::int32:
            return typeid(std::int32_t);
        case OSCValueToken::string:
        case OSCValueToken::stringAlt:
            return typeid(std::string);
        case OSCValueToken::array:
            return typeid(OSCArrayValue);
        case OSCValueToken::bool_:
            return typeid(bool);
        case OSCValueToken::character:
            return typeid(Character);
        case OSCValueToken::double_:
            return typeid(double);
        case OSCValueToken::int64:
        case OSCValueToken::timeTag:
            return typeid(std::int64_t);
        case OSCValueToken::impulse:
            return typeid(OSCImpulseValue);
        case OSCValueToken::midi:
            return typeid(OSCMIDIValue);
        case OSCValueToken::null:
            return typeid(OSCNullValue);
        default:
            return typeid(AnyOSCNumberValue);
    }
}

bool valuesMatchMask(std::span<const AnyOSCValue> values, std::span<const OSCValueToken> mask) {
    if (mask.size() < values.size()) return false;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        if (i >= values.size()) {
            if (!isOptional(mask[i])) return false;
            continue;
        }
        OSCValueToken base = baseToken(mask[i]);
        const OSCValueDescriptor& type = values[i].descriptor();
        bool group = base == OSCValueToken::number || base == OSCValueToken::numberOrBool;
        if (!group && type.interpolated) return false;
        OSCValueToken v = type.token;
        if (base == OSCValueToken::number) {
            if (!inSet(numberTokenSet, v)) return false;
        } else if (base == OSCValueToken::numberOrBool) {
            if (!inSet(numberOrBoolTokenSet, v)) return false;
        } else if (v != base) {
            return false;
        }
    }
    return true;
}

bool tokenAccepts(OSCValueToken maskToken, bool allowGroups, OSCValueToken valueToken) {
    if (maskToken == valueToken) return true;
    if (!allowGroups) return false;
    if (maskToken == OSCValueToken::numberOrBool) return inSet(0x1A6, valueToken);
    if (maskToken == OSCValueToken::number) return inSet(0x186, valueToken);
    return false;
}

}  // namespace rozuri
