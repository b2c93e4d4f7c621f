#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace foundation {

// A domain, a code and string user info: the one error type shared by the sockets and the
// rest of the platform layer.
struct Error {
    static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
    static constexpr const char* kLocalizedRecoverySuggestionKey = "NSLocalizedRecoverySuggestion";
    static constexpr const char* kReasonKey = "Reason";
    static constexpr const char* kPOSIXDomain = "NSPOSIXErrorDomain";
    static constexpr const char* kNetDBDomain = "kCFStreamErrorDomainNetDB";

    std::string domain;
    std::int64_t code = 0;
    std::map<std::string, std::string> userInfo;

    Error() = default;
    Error(std::string domain, std::int64_t code, std::map<std::string, std::string> userInfo = {});

    // userInfo "NSLocalizedDescription" if present, else
    // "The operation couldn’t be completed. (<domain> error <code>.)".
    std::string localizedDescription() const;
    // userInfo "NSLocalizedFailureReason" if present.
    std::optional<std::string> localizedFailureReason() const;
    // userInfo "NSLocalizedRecoverySuggestion" if present.
    std::optional<std::string> localizedRecoverySuggestion() const;
    // Same as localizedDescription(); for logs.
    std::string description() const { return localizedDescription(); }

    // POSIX domain error for errno value `err`: description from strerror_r (thread-safe),
    // `reason` (when not empty) under "NSLocalizedFailureReason".
    static Error posix(int err, std::string reason = {});
    // Resolver error in the "kCFStreamErrorDomainNetDB" domain: code `eaiCode`, description from
    // gai_strerror.
    static Error gai(int eaiCode);
    // Text for a getaddrinfo() EAI_* code (ASCII).
    static std::string gaiDescription(int eaiCode);
    // Text for an errno value, thread-safe.
    static std::string posixDescription(int err);

    friend bool operator==(const Error&, const Error&) = default;
};

// Assigns `value` to `*out` when out is not null; for the `Error* error = nullptr` out-parameters.
inline void setError(Error* out, Error value) {
    if (out) *out = std::move(value);
}

}  // namespace foundation
