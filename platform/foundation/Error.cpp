#include "platform/foundation/Error.h"

#include <netdb.h>
#include <string.h>

namespace foundation {

Error::Error(std::string domain, std::int64_t code, std::map<std::string, std::string> userInfo)
    : domain(std::move(domain)), code(code), userInfo(std::move(userInfo)) {}

std::string Error::localizedDescription() const {
    if (auto it = userInfo.find(kLocalizedDescriptionKey); it != userInfo.end()) return it->second;
    return "The operation couldn\u2019t be completed. (" + domain + " error " +
           std::to_string(code) + ".)";
}

std::optional<std::string> Error::localizedFailureReason() const {
    if (auto it = userInfo.find(kLocalizedFailureReasonKey); it != userInfo.end())
        return it->second;
    return std::nullopt;
}

std::optional<std::string> Error::localizedRecoverySuggestion() const {
    if (auto it = userInfo.find(kLocalizedRecoverySuggestionKey); it != userInfo.end())
        return it->second;
    return std::nullopt;
}

namespace {

// glibc's GNU strerror_r returns a pointer (maybe to a static string); the XSI one an int.
[[maybe_unused]] const char* strerrorResult(const char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* strerrorResult(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}

}  // namespace

std::string Error::posixDescription(int err) {
    char buffer[256] = {};
    const char* text = strerrorResult(::strerror_r(err, buffer, sizeof buffer), buffer);
    if (!text || !*text) return "Unknown error " + std::to_string(err);
    return text;
}

Error Error::posix(int err, std::string reason) {
    Error error(kPOSIXDomain, err);
    error.userInfo[kLocalizedDescriptionKey] = posixDescription(err);
    if (!reason.empty()) error.userInfo[kLocalizedFailureReasonKey] = std::move(reason);
    return error;
}

std::string Error::gaiDescription(int eaiCode) {
    // gai_strerror returns static strings in glibc; it is thread-safe there.
    const char* text = ::gai_strerror(eaiCode);
    std::string out;
    for (const char* p = text ? text : ""; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    if (out.empty()) out = "Unknown resolver error " + std::to_string(eaiCode);
    return out;
}

Error Error::gai(int eaiCode) {
    Error error(kNetDBDomain, eaiCode);
    error.userInfo[kLocalizedDescriptionKey] = gaiDescription(eaiCode);
    return error;
}

}  // namespace foundation
