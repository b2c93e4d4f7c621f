#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <variant>

namespace rozuri {

// Everything that goes wrong while values, messages and packets become bytes. what() is the
// case's prefix followed by its text.
class OSCEncodeError : public std::exception {
  public:
    struct General {
        std::string text;
    };
    struct ValueEncodingError {
        std::string text;
    };
    struct InternalInconsistency {
        std::string text;
    };
    using Case = std::variant<General, ValueEncodingError, InternalInconsistency>;

    enum class Kind { general = 0, valueEncodingError = 1, internalInconsistency = 2 };

    static OSCEncodeError general(std::string text) {
        return OSCEncodeError(General{std::move(text)});
    }
    static OSCEncodeError valueEncodingError(std::string text) {
        return OSCEncodeError(ValueEncodingError{std::move(text)});
    }
    static OSCEncodeError internalInconsistency(std::string text) {
        return OSCEncodeError(InternalInconsistency{std::move(text)});
    }

    explicit OSCEncodeError(Case c);

    Kind kind() const { return static_cast<Kind>(case_.index()); }
    const Case& value() const { return case_; }
    const std::string& text() const;
    // "Encoding error: ...", "OSC value encoding error: ...", "Internal inconsistency: ..."
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    Case case_;
    std::string description_;
};

// The byte count of a blob, string or packet element as its 32-bit length field; 2^31 bytes or
// more cannot be described and throw valueEncodingError naming `what` ("Blob", "String", ...).
std::int32_t checkedOSCLength(std::size_t count, std::string_view what);

}  // namespace rozuri
