#pragma once

#include <exception>
#include <string>

#include "platform/foundation/Error.h"

namespace rozuri {

// What the OSC transports throw when their socket fails: the socket's own error object,
// unchanged (its domain, code and texts), wrapped so that it can travel as an exception.
// what() is the error's localized description.
class OSCSocketError : public std::exception {
  public:
    explicit OSCSocketError(foundation::Error error);

    const foundation::Error& error() const noexcept { return error_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    foundation::Error error_;
    std::string description_;
};

}  // namespace rozuri
