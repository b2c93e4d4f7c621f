// Compiled by the test set, never linked. Int32's traits live in OSCCoreValueTypes.h, which
// OSCMessage.h does not include: without it, reading an Int32 out of a message must not compile
// (it once compiled to "never an Int32" in that file alone). With MS_WITH_TRAITS it compiles.
#include "osc/core/OSCMessage.h"
#ifdef MS_WITH_TRAITS
#include "osc/core/OSCCoreValueTypes.h"
#endif

bool firstIsInt32(const rozuri::OSCMessage& message) {
    return message.values().front().get_if<std::int32_t>() != nullptr;
}
