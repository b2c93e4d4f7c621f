#include "osc/udp/OSCSocketError.h"

#include <utility>

namespace rozuri {

OSCSocketError::OSCSocketError(foundation::Error error)
    : error_(std::move(error)), description_(error_.localizedDescription()) {}

}  // namespace rozuri
