#include "osc/udp/DispatchUdpSocketError.h"

#include <utility>

namespace rozuri {

DispatchUdpSocketError::DispatchUdpSocketError(Code code,
                                               std::map<std::string, std::string> userInfo)
    : OSCSocketError(make(code, std::move(userInfo))) {}

foundation::Error DispatchUdpSocketError::make(Code code,
                                               std::map<std::string, std::string> userInfo) {
    return foundation::Error(domain, static_cast<std::int64_t>(code), std::move(userInfo));
}

}  // namespace rozuri
