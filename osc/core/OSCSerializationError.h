#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace rozuri {

// The refusal of the value-type registry.
class OSCSerializationError : public std::exception {
  public:
    enum class Kind { tagAlreadyRegistered = 0 };

    static OSCSerializationError tagAlreadyRegistered() { return OSCSerializationError(); }

    Kind kind() const { return Kind::tagAlreadyRegistered; }
    // "Tag already registered"
    std::string errorDescription() const { return "Tag already registered"; }
    std::optional<std::string> failureReason() const { return std::nullopt; }
    std::optional<std::string> recoverySuggestion() const { return std::nullopt; }
    std::optional<std::string> helpAnchor() const { return std::nullopt; }
    const char* what() const noexcept override { return "Tag already registered"; }

    friend bool operator==(const OSCSerializationError&, const OSCSerializationError&) {
        return true;
    }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCSerializationError> {
    std::size_t operator()(const rozuri::OSCSerializationError&) const noexcept {
        return std::hash<int>{}(0);
    }
};
