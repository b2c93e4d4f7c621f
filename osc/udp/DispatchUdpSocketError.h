#pragma once

#include <map>
#include <string>

#include "osc/udp/OSCSocketError.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// The error type of the UDP socket's own domain, made from a code and a user-info dictionary.
// It is an OSCSocketError, so it can be thrown where the transports throw socket errors.
class DispatchUdpSocketError : public OSCSocketError {
  public:
    static constexpr const char* domain = "DispatchUdpSocketErrorDomain";

    enum class Code : int {
        badConfig = 1,
        badParam = 2,
        sendTimeout = 3,
        closed = 4,
        other = 5,
    };

    explicit DispatchUdpSocketError(Code code, std::map<std::string, std::string> userInfo = {});

    Code code() const noexcept { return static_cast<Code>(error().code); }

    // The plain error object of the domain, for the Boolean-plus-error operations.
    static foundation::Error make(Code code, std::map<std::string, std::string> userInfo = {});
};

}  // namespace rozuri
