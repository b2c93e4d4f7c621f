#pragma once

#include <openssl/types.h>

#include <string>

#include "platform/tls/Status.h"

namespace tls {

struct Failure {
    Status status = status::ok;
    std::string text;
};

// Status for a TLS alert the peer sent (its description number).
Status statusForPeerAlert(int alert);

// Maps an SSL call that returned `sslError` (from SSL_get_error) to a status and OpenSSL's
// reason text. Empties this thread's error queue.
Failure failureForSSLCall(const SSL* ssl, int sslError);

}  // namespace tls
