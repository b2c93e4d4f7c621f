#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace foundation {

// A 128-bit universally unique identifier.
class UUID {
  public:
    using Bytes = std::array<std::uint8_t, 16>;

    // A fresh random (version 4, RFC 4122 variant) identifier. Thread-safe.
    UUID();
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // Parses the 8-4-4-4-12 hexadecimal form, either case; anything else is nullopt.
    static std::optional<UUID> fromString(std::string_view text);

    // Canonical upper-case 8-4-4-4-12 form, e.g. "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
    std::string uuidString() const;
    std::string description() const { return uuidString(); }

    const Bytes& bytes() const { return bytes_; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;

  private:
    Bytes bytes_{};
};

}  // namespace foundation

template <>
struct std::hash<foundation::UUID> {
    std::size_t operator()(const foundation::UUID& uuid) const noexcept;
};
