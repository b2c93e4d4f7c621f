#include "platform/tls/Settings.h"

#include <cmath>

namespace tls {

bool Value::isNumber() const {
    return std::holds_alternative<bool>(storage_) ||
           std::holds_alternative<std::int64_t>(storage_) ||
           std::holds_alternative<double>(storage_);
}

std::optional<bool> Value::boolValue() const {
    if (auto* b = std::get_if<bool>(&storage_)) return *b;
    if (auto* i = std::get_if<std::int64_t>(&storage_)) return *i != 0;
    if (auto* d = std::get_if<double>(&storage_)) return *d != 0.0;
    return std::nullopt;
}

std::optional<std::int64_t> Value::integerValue() const {
    if (auto* b = std::get_if<bool>(&storage_)) return *b ? 1 : 0;
    if (auto* i = std::get_if<std::int64_t>(&storage_)) return *i;
    if (auto* d = std::get_if<double>(&storage_)) {
        // 2^63 is exact in a double; anything at or beyond it does not fit.
        if (std::isnan(*d) || *d >= 9223372036854775808.0 || *d < -9223372036854775808.0)
            return std::nullopt;
        return static_cast<std::int64_t>(*d);
    }
    return std::nullopt;
}

namespace {

struct KeyTexts {
    const char* key;
    const char* assertionText;
    const char* reason;
};

constexpr KeyTexts kContractTexts[] = {
    {kCFStreamSSLPeerName,
     "Invalid value for kCFStreamSSLPeerName. Value must be of type NSString.",
     "Invalid value for kCFStreamSSLPeerName."},
    {kCFStreamSSLCertificates,
     "Invalid value for kCFStreamSSLCertificates. Value must be of type NSArray.",
     "Invalid value for kCFStreamSSLCertificates."},
    {DispatchTcpSocketSSLPeerID,
     "Invalid value for DispatchTcpSocketSSLPeerID. Value must be of type NSData. (You can "
     "convert strings to data using a method like [string "
     "dataUsingEncoding:NSUTF8StringEncoding])",
     "Invalid value for DispatchTcpSocketSSLPeerID."},
    {DispatchTcpSocketSSLProtocolVersionMin,
     "Invalid value for DispatchTcpSocketSSLProtocolVersionMin. Value must be of type NSNumber.",
     "Invalid value for DispatchTcpSocketSSLProtocolVersionMin."},
    {DispatchTcpSocketSSLProtocolVersionMax,
     "Invalid value for DispatchTcpSocketSSLProtocolVersionMax. Value must be of type NSNumber.",
     "Invalid value for DispatchTcpSocketSSLProtocolVersionMax."},
    {DispatchTcpSocketSSLSessionOptionFalseStart,
     "Invalid value for DispatchTcpSocketSSLSessionOptionFalseStart. Value must be of type "
     "NSNumber.",
     "Invalid value for DispatchTcpSocketSSLSessionOptionFalseStart."},
    {DispatchTcpSocketSSLSessionOptionSendOneByteRecord,
     "Invalid value for DispatchTcpSocketSSLSessionOptionSendOneByteRecord. Value must be of "
     "type NSNumber.",
     "Invalid value for DispatchTcpSocketSSLSessionOptionSendOneByteRecord."},
    {DispatchTcpSocketSSLCipherSuites,
     "Invalid value for DispatchTcpSocketSSLCipherSuites. Value must be of type NSArray.",
     "Invalid value for DispatchTcpSocketSSLCipherSuites."},
    {DispatchTcpSocketSSLDiffieHellmanParameters,
     "Invalid value for DispatchTcpSocketSSLDiffieHellmanParameters. Value must be of type "
     "NSData.",
     "Invalid value for DispatchTcpSocketSSLDiffieHellmanParameters."},
    {DispatchTcpSocketSSLALPN,
     "Invalid value for DispatchTcpSocketSSLALPN. Value must be of type NSArray.",
     "Invalid value for DispatchTcpSocketSSLALPN."},
    {kCFStreamSSLAllowsAnyRoot,
     "Security option unavailable - kCFStreamSSLAllowsAnyRoot - You must use manual trust "
     "evaluation",
     "Security option unavailable - kCFStreamSSLAllowsAnyRoot"},
    {kCFStreamSSLAllowsExpiredRoots,
     "Security option unavailable - kCFStreamSSLAllowsExpiredRoots - You must use manual trust "
     "evaluation",
     "Security option unavailable - kCFStreamSSLAllowsExpiredRoots"},
    {kCFStreamSSLValidatesCertificateChain,
     "Security option unavailable - kCFStreamSSLValidatesCertificateChain - You must use "
     "manual trust evaluation",
     "Security option unavailable - kCFStreamSSLValidatesCertificateChain"},
    {kCFStreamSSLAllowsExpiredCertificates,
     "Security option unavailable - kCFStreamSSLAllowsExpiredCertificates - You must use "
     "manual trust evaluation",
     "Security option unavailable - kCFStreamSSLAllowsExpiredCertificates"},
    {kCFStreamSSLLevel,
     "Security option unavailable - kCFStreamSSLLevel - You must use "
     "DispatchTcpSocketSSLProtocolVersionMin & DispatchTcpSocketSSLProtocolVersionMax",
     "Security option unavailable - kCFStreamSSLLevel"},
};

}  // namespace

ConfigFailure contractFailureFor(std::string_view key) {
    for (const auto& entry : kContractTexts)
        if (key == entry.key) return {entry.assertionText, entry.reason};
    return {};
}

}  // namespace tls
