#pragma once

#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/tls/Certificate.h"

namespace tls {

// One settings value: a number (Boolean, integer or floating point), text, bytes, an array, or
// a certificate or identity (elements of the certificates array).
class Value {
  public:
    using Data = std::vector<std::uint8_t>;
    using Array = std::vector<Value>;
    using Storage =
        std::variant<bool, std::int64_t, double, std::string, Data, Array, Certificate, Identity>;

    Value(bool b) : storage_(b) {}
    template <std::integral T>
    requires(!std::same_as<T, bool>) Value(T v) : storage_(static_cast<std::int64_t>(v)) {}
    Value(double d) : storage_(d) {}
    Value(const char* s) : storage_(std::string(s)) {}
    Value(std::string s) : storage_(std::move(s)) {}
    Value(Data d) : storage_(std::move(d)) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Certificate c) : storage_(std::move(c)) {}
    Value(Identity i) : storage_(std::move(i)) {}

    bool isNumber() const;
    // A number read as Boolean (non-zero is true); empty for other kinds.
    std::optional<bool> boolValue() const;
    // A number read as a whole number (fractions dropped); empty for other kinds, NaN and
    // values outside the 64-bit range.
    std::optional<std::int64_t> integerValue() const;
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    const Data* data() const { return std::get_if<Data>(&storage_); }
    const Array* array() const { return std::get_if<Array>(&storage_); }
    const Certificate* certificate() const { return std::get_if<Certificate>(&storage_); }
    const Identity* identity() const { return std::get_if<Identity>(&storage_); }
    const Storage& storage() const { return storage_; }

    friend bool operator==(const Value&, const Value&) = default;

  private:
    Storage storage_;
};

// The TLS settings: key text to value. Keys not listed below are ignored.
using Settings = std::map<std::string, Value, std::less<>>;

// Key constants; each one's text is its own name.
inline constexpr const char kCFStreamSSLIsServer[] = "kCFStreamSSLIsServer";
inline constexpr const char kCFStreamSSLPeerName[] = "kCFStreamSSLPeerName";
inline constexpr const char kCFStreamSSLCertificates[] = "kCFStreamSSLCertificates";
inline constexpr const char kCFStreamSSLAllowsAnyRoot[] = "kCFStreamSSLAllowsAnyRoot";
inline constexpr const char kCFStreamSSLAllowsExpiredRoots[] = "kCFStreamSSLAllowsExpiredRoots";
inline constexpr const char kCFStreamSSLValidatesCertificateChain[] =
    "kCFStreamSSLValidatesCertificateChain";
inline constexpr const char kCFStreamSSLAllowsExpiredCertificates[] =
    "kCFStreamSSLAllowsExpiredCertificates";
inline constexpr const char kCFStreamSSLLevel[] = "kCFStreamSSLLevel";

// The socket's own keys.
inline constexpr const char DispatchTcpSocketManuallyEvaluateTrust[] =
    "DispatchTcpSocketManuallyEvaluateTrust";
inline constexpr const char DispatchTcpSocketSSLPeerID[] = "DispatchTcpSocketSSLPeerID";
inline constexpr const char DispatchTcpSocketSSLProtocolVersionMin[] =
    "DispatchTcpSocketSSLProtocolVersionMin";
inline constexpr const char DispatchTcpSocketSSLProtocolVersionMax[] =
    "DispatchTcpSocketSSLProtocolVersionMax";
inline constexpr const char DispatchTcpSocketSSLSessionOptionFalseStart[] =
    "DispatchTcpSocketSSLSessionOptionFalseStart";
inline constexpr const char DispatchTcpSocketSSLSessionOptionSendOneByteRecord[] =
    "DispatchTcpSocketSSLSessionOptionSendOneByteRecord";
inline constexpr const char DispatchTcpSocketSSLCipherSuites[] = "DispatchTcpSocketSSLCipherSuites";
inline constexpr const char DispatchTcpSocketSSLDiffieHellmanParameters[] =
    "DispatchTcpSocketSSLDiffieHellmanParameters";
inline constexpr const char DispatchTcpSocketSSLALPN[] = "DispatchTcpSocketSSLALPN";

// Protocol version numbers of the settings.
namespace protocol {
inline constexpr std::int32_t tls1_0 = 4;
inline constexpr std::int32_t tls1_1 = 7;
inline constexpr std::int32_t tls1_2 = 8;
inline constexpr std::int32_t tls1_3 = 10;
inline constexpr std::int32_t maxSupported = 999;
}  // namespace protocol

// Why the settings could not be applied. `assertionText` is set for a caller's contract error
// (a key of the wrong type, a refused key): the socket reports it through the assertion handler
// and, when that returns, closes with an Other error carrying `reason`. Otherwise only `reason`
// is set ("Error in SSLSetEnabledCiphers", ...).
struct ConfigFailure {
    std::string assertionText;
    std::string reason;
    friend bool operator==(const ConfigFailure&, const ConfigFailure&) = default;
};

// The texts of a key of the wrong type or a refused key: the assertion text and the short
// error text; empty for any other key.
ConfigFailure contractFailureFor(std::string_view key);

// Failure texts of the configuration steps.
namespace texts {
inline constexpr const char createContext[] = "Error in SSLCreateContext";
inline constexpr const char setIOFuncs[] = "Error in SSLSetIOFuncs";
inline constexpr const char setConnection[] = "Error in SSLSetConnection";
inline constexpr const char manualTrustOnServer[] =
    "Manual trust validation is not supported for server sockets";
inline constexpr const char setSessionOption[] = "Error in SSLSetSessionOption";
inline constexpr const char setPeerDomainName[] = "Error in SSLSetPeerDomainName";
inline constexpr const char setCertificate[] = "Error in SSLSetCertificate";
inline constexpr const char setPeerID[] = "Error in SSLSetPeerID";
inline constexpr const char setProtocolVersionMin[] = "Error in SSLSetProtocolVersionMin";
inline constexpr const char setProtocolVersionMax[] = "Error in SSLSetProtocolVersionMax";
inline constexpr const char setFalseStart[] =
    "Error in SSLSetSessionOption (kSSLSessionOptionFalseStart)";
inline constexpr const char setOneByteRecord[] =
    "Error in SSLSetSessionOption (kSSLSessionOptionSendOneByteRecord)";
inline constexpr const char setEnabledCiphers[] = "Error in SSLSetEnabledCiphers";
inline constexpr const char setDiffieHellmanParams[] = "Error in SSLSetDiffieHellmanParams";
inline constexpr const char setALPNProtocols[] = "Error in SSLSetALPNProtocols";
inline constexpr const char trustDelegateMissing[] =
    "DispatchTcpSocketManuallyEvaluateTrust specified in tlsSettings, but delegate doesn't "
    "implement socket:shouldTrustPeer:";
inline constexpr const char logicError[] = "Logic error";
}  // namespace texts

}  // namespace tls
