#pragma once

#include <map>
#include <string>

#include "osc/udp/OSCSocketError.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// The error type of the TCP socket's own domain, made from a code and a user-info dictionary.
// It is an OSCSocketError, so the TCP client and server can throw it as it stands.
class DispatchTcpSocketError : public OSCSocketError {
  public:
    static constexpr const char* domain = "DispatchTcpSocketErrorDomain";

    enum class Code : int {
        badConfig = 1,
        badParam = 2,
        connectTimeout = 3,
        readTimeout = 4,
        writeTimeout = 5,
        readMaxedOut = 6,
        closed = 7,
        other = 8,
    };

    explicit DispatchTcpSocketError(Code code, std::map<std::string, std::string> userInfo = {});

    Code code() const noexcept { return static_cast<Code>(error().code); }

    // The plain error object of the domain, for the Boolean-plus-error operations.
    static foundation::Error make(Code code, std::map<std::string, std::string> userInfo = {});
    // An error of the domain with `text` as its localized description.
    static foundation::Error make(Code code, const std::string& text);
};

}  // namespace rozuri
