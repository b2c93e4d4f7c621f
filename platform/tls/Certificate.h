#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tls {

// One X.509 certificate. Copies share the same immutable certificate, so it may be handed to
// other threads.
class Certificate {
  public:
    // Takes over one reference of `x509` (not null).
    static Certificate adopt(X509* x509);
    // Adds a reference to `x509` (not null).
    static Certificate retain(X509* x509);
    static std::optional<Certificate> fromDER(std::span<const std::uint8_t> der);
    // Every certificate in PEM text, in order; empty when none parses or anything else is broken.
    static std::vector<Certificate> fromPEM(std::string_view pem);

    X509* native() const { return x509_.get(); }
    std::vector<std::uint8_t> der() const;
    // The subject's common name, or the whole one-line subject when it has none.
    std::string subjectSummary() const;

    friend bool operator==(const Certificate& a, const Certificate& b);

  private:
    explicit Certificate(std::shared_ptr<X509> x509) : x509_(std::move(x509)) {}
    std::shared_ptr<X509> x509_;
};

// A private key with its certificate and the chain sent after it.
class Identity {
  public:
    // PEM certificates (leaf first, then its chain) and a PEM private key, encrypted or not.
    static std::optional<Identity> fromPEM(std::string_view certificatesPem,
                                           std::string_view privateKeyPem,
                                           std::string_view password = {},
                                           std::string* error = nullptr);
    // A PKCS#12 bundle holding one key, its certificate and optionally the chain.
    static std::optional<Identity> fromPKCS12(std::span<const std::uint8_t> data,
                                              std::string_view password,
                                              std::string* error = nullptr);
    // Takes over one reference of `key` (not null); fails when key and certificate differ.
    static std::optional<Identity> make(EVP_PKEY* key, Certificate certificate,
                                        std::vector<Certificate> chain = {},
                                        std::string* error = nullptr);

    const Certificate& certificate() const { return certificate_; }
    const std::vector<Certificate>& chain() const { return chain_; }
    EVP_PKEY* privateKey() const { return key_.get(); }

    friend bool operator==(const Identity& a, const Identity& b) {
        return a.certificate_ == b.certificate_ && a.chain_ == b.chain_;
    }

  private:
    Identity(std::shared_ptr<EVP_PKEY> key, Certificate certificate, std::vector<Certificate> chain)
        : key_(std::move(key)), certificate_(std::move(certificate)), chain_(std::move(chain)) {}
    std::shared_ptr<EVP_PKEY> key_;
    Certificate certificate_;
    std::vector<Certificate> chain_;
};

}  // namespace tls
