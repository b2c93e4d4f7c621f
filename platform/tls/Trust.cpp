#include "platform/tls/Trust.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

#include "platform/tls/Verification.h"

namespace tls {

Trust::Trust(std::vector<Certificate> certificates, std::string peerName,
             TrustVerdict defaultVerdict)
    : certificates_(std::move(certificates)),
      peerName_(std::move(peerName)),
      defaultVerdict_(std::move(defaultVerdict)) {}

TrustVerdict Trust::evaluate(const std::vector<Certificate>& extraAnchors) const {
    if (certificates_.empty()) return {status::badCert, "the peer sent no certificate"};
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(newDefaultStore(),
                                                                  X509_STORE_free);
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> ctx(X509_STORE_CTX_new(),
                                                                        X509_STORE_CTX_free);
    struct StackFree {
        void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
    };
    std::unique_ptr<STACK_OF(X509), StackFree> untrusted(sk_X509_new_null());
    if (!store || !ctx || !untrusted) return {status::internal, "out of memory"};
    ERR_clear_error();
    for (const auto& anchor : extraAnchors) X509_STORE_add_cert(store.get(), anchor.native());
    for (std::size_t i = 1; i < certificates_.size(); ++i)
        sk_X509_push(untrusted.get(), certificates_[i].native());
    if (X509_STORE_CTX_init(ctx.get(), store.get(), certificates_[0].native(), untrusted.get()) !=
        1) {
        ERR_clear_error();
        return {status::internal, "cannot set up the verification"};
    }
    // The same purpose checks as a TLS client's verification of a server.
    X509_STORE_CTX_set_default(ctx.get(), "ssl_server");
    if (!peerName_.empty() && !applyPeerName(X509_STORE_CTX_get0_param(ctx.get()), peerName_))
        return {status::hostNameMismatch, "the peer name cannot be checked"};
    int ok = X509_verify_cert(ctx.get());
    long result = X509_STORE_CTX_get_error(ctx.get());
    ERR_clear_error();
    if (ok == 1) return {};
    if (result == X509_V_OK) result = X509_V_ERR_UNSPECIFIED;
    return {statusForVerifyError(result), verifyErrorText(result)};
}

}  // namespace tls
