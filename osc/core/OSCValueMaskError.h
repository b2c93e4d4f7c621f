#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <string>

namespace rozuri {

// The error of the value-mask operations.
class OSCValueMaskError : public std::exception {
  public:
    enum class Kind { invalidCount = 0, mismatchedTypes = 1 };

    explicit OSCValueMaskError(Kind kind) : kind_(kind) {}
    static OSCValueMaskError invalidCount() { return OSCValueMaskError(Kind::invalidCount); }
    static OSCValueMaskError mismatchedTypes() { return OSCValueMaskError(Kind::mismatchedTypes); }

    Kind kind() const { return kind_; }
    // "Invalid argument count", "Mismatched types"
    std::string errorDescription() const { return what(); }
    const char* what() const noexcept override {
        return kind_ == Kind::invalidCount ? "Invalid argument count" : "Mismatched types";
    }

    friend bool operator==(const OSCValueMaskError& a, const OSCValueMaskError& b) {
        return a.kind_ == b.kind_;
    }

  private:
    Kind kind_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCValueMaskError> {
    std::size_t operator()(const rozuri::OSCValueMaskError& e) const noexcept {
        return std::hash<int>{}(static_cast<int>(e.kind()));
    }
};
