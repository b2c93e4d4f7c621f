#pragma once

#include <exception>
#include <string>
#include <variant>

#include "osc/core/Character.h"

namespace rozuri {

// Everything that goes wrong while bytes become packets, messages and values. what() is the
// case's prefix followed by its text.
class OSCDecodeError : public std::exception {
  public:
    struct Malformed {
        std::string text;
    };
    struct UnexpectedType {
        Character tag;
    };
    struct ValueDecodingError {
        std::string text;
    };
    struct InternalInconsistency {
        std::string text;
    };
    using Case = std::variant<Malformed, UnexpectedType, ValueDecodingError, InternalInconsistency>;

    enum class Kind {
        malformed = 0,
        unexpectedType = 1,
        valueDecodingError = 2,
        internalInconsistency = 3
    };

    static OSCDecodeError malformed(std::string text) {
        return OSCDecodeError(Malformed{std::move(text)});
    }
    static OSCDecodeError unexpectedType(Character tag) {
        return OSCDecodeError(UnexpectedType{std::move(tag)});
    }
    static OSCDecodeError valueDecodingError(std::string text) {
        return OSCDecodeError(ValueDecodingError{std::move(text)});
    }
    static OSCDecodeError internalInconsistency(std::string text) {
        return OSCDecodeError(InternalInconsistency{std::move(text)});
    }

    explicit OSCDecodeError(Case c);

    Kind kind() const { return static_cast<Kind>(case_.index()); }
    const Case& value() const { return case_; }
    // The payload text (the tag's text for unexpectedType).
    const std::string& text() const;
    // "Malformed data: ...", "Unexpected OSC Type Tag: ...", ...
    const std::string& errorDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

  private:
    Case case_;
    std::string description_;
};

}  // namespace rozuri
