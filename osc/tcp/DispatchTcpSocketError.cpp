#include "osc/tcp/DispatchTcpSocketError.h"

#include <utility>

namespace rozuri {

DispatchTcpSocketError::DispatchTcpSocketError(Code code,
                                               std::map<std::string, std::string> userInfo)
    : OSCSocketError(make(code, std::move(userInfo))) {}

foundation::Error DispatchTcpSocketError::make(Code code,
                                               std::map<std::string, std::string> userInfo) {
    return foundation::Error(domain, static_cast<std::int64_t>(code), std::move(userInfo));
}

foundation::Error DispatchTcpSocketError::make(Code code, const std::string& text) {
    return make(code, {{foundation::Error::kLocalizedDescriptionKey, text}});
}

}  // namespace rozuri
