#pragma once

#include <openssl/types.h>

#include <string>
#include <string_view>

#include "platform/tls/Status.h"

namespace tls {

// Status for an X.509 verification result (X509_V_OK gives 0).
Status statusForVerifyError(long x509Error);

// Text of a verification result, as OpenSSL words it.
std::string verifyErrorText(long x509Error);

// Makes `param` check the peer's certificate against `peerName`: an IP address literal is
// matched against the certificate's IP entries, anything else against its DNS names. False
// when the name cannot be used (embedded NUL, OpenSSL refusal).
bool applyPeerName(X509_VERIFY_PARAM* param, std::string_view peerName);

// A new store holding the default anchors (SSL_CERT_FILE / SSL_CERT_DIR when set, else the
// system's). The caller owns it.
X509_STORE* newDefaultStore();

}  // namespace tls
