#pragma once

#include <string>
#include <vector>

#include "platform/tls/Certificate.h"
#include "platform/tls/Status.h"

namespace tls {

// The outcome of checking a peer's chain: 0 when trusted, else the status the handshake would
// fail with (-9807 unknown issuer or self-signed, -9814 expired, -9815 not yet valid, -9843
// name mismatch, -9808 anything else), with OpenSSL's text for it.
struct TrustVerdict {
    Status status = status::ok;
    std::string reason;
    bool trusted() const { return status == status::ok; }
    friend bool operator==(const TrustVerdict&, const TrustVerdict&) = default;
};

// The server's certificate chain as a client received it, with the verdict the default checks
// reached (anchors from SSL_CERT_FILE / SSL_CERT_DIR or the system, validity dates, and the peer
// name when one was set). Immutable: it may be handed to any thread.
class Trust {
  public:
    Trust(std::vector<Certificate> certificates, std::string peerName, TrustVerdict defaultVerdict);

    // Leaf first, then the rest in the order the peer sent them.
    const std::vector<Certificate>& certificates() const { return certificates_; }
    // The name the leaf is checked against; empty when no peer name was set (no name check).
    const std::string& peerName() const { return peerName_; }
    const TrustVerdict& defaultVerdict() const { return defaultVerdict_; }

    // Checks the chain again with `extraAnchors` trusted beside the default anchors, with the
    // same name check and the current time.
    TrustVerdict evaluate(const std::vector<Certificate>& extraAnchors = {}) const;

  private:
    std::vector<Certificate> certificates_;
    std::string peerName_;
    TrustVerdict defaultVerdict_;
};

}  // namespace tls
