#pragma once

#include <cstdint>

namespace tls {

// The numeric TLS statuses the socket reports (domain "kCFStreamErrorDomainSSL"). OpenSSL's
// results are mapped onto these so callers see the same codes on every platform.
using Status = std::int32_t;

namespace status {
inline constexpr Status ok = 0;
inline constexpr Status protocol = -9800;     // unparseable records
inline constexpr Status negotiation = -9801;  // no shared cipher
inline constexpr Status fatalAlert = -9802;   // a fatal alert with no closer match
inline constexpr Status wouldBlock = -9803;
inline constexpr Status closedGraceful = -9805;     // close_notify received
inline constexpr Status closedAbort = -9806;        // end of stream without close_notify
inline constexpr Status xCertChainInvalid = -9807;  // unknown issuer or self-signed
inline constexpr Status badCert = -9808;            // other verification failures
inline constexpr Status internal = -9810;
inline constexpr Status certExpired = -9814;
inline constexpr Status certNotYetValid = -9815;
inline constexpr Status peerUnexpectedMsg = -9819;
inline constexpr Status peerBadCert = -9825;  // also: trust refused by the caller
inline constexpr Status peerUnknownCA = -9831;
inline constexpr Status peerProtocolVersion = -9836;  // also: version refused locally
inline constexpr Status peerNoRenegotiation = -9840;
inline constexpr Status peerAuthCompleted = -9841;  // peer chain ready for the caller's verdict
inline constexpr Status hostNameMismatch = -9843;
}  // namespace status

// Recovery suggestion carried by every TLS error.
inline constexpr const char* kSSLErrorDomain = "kCFStreamErrorDomainSSL";
inline constexpr const char* kSSLRecoverySuggestion =
    "Error code definition can be found in Apple's SecureTransport.h";

}  // namespace tls
