#include "platform/tls/Verification.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace tls {

Status statusForVerifyError(long x509Error) {
    switch (x509Error) {
        case X509_V_OK:
            return status::ok;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return status::certExpired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return status::certNotYetValid;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return status::hostNameMismatch;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
            return status::xCertChainInvalid;
        default:
            return status::badCert;
    }
}

std::string verifyErrorText(long x509Error) {
    const char* text = X509_verify_cert_error_string(x509Error);
    return text ? text : "certificate verify failed";
}

bool applyPeerName(X509_VERIFY_PARAM* param, std::string_view peerName) {
    std::string name(peerName);
    if (name.find('\0') != std::string::npos) return false;
    unsigned char addr[16];
    bool isIP = ::inet_pton(AF_INET, name.c_str(), addr) == 1 ||
                ::inet_pton(AF_INET6, name.c_str(), addr) == 1;
    ERR_clear_error();
    bool ok = isIP ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1
                   : X509_VERIFY_PARAM_set1_host(param, name.c_str(), name.size()) == 1;
    ERR_clear_error();
    return ok;
}

X509_STORE* newDefaultStore() {
    X509_STORE* store = X509_STORE_new();
    if (!store) return nullptr;
    ERR_clear_error();
    // A missing bundle or folder leaves the store empty: every peer then fails verification,
    // which is the safe answer.
    X509_STORE_set_default_paths(store);
    ERR_clear_error();
    return store;
}

}  // namespace tls
