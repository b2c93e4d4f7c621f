#include "platform/tls/Certificate.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "platform/tls/ErrorQueue.h"

namespace tls {

namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

BioPtr memoryBio(std::string_view text) {
    return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::shared_ptr<EVP_PKEY> keyPtr(EVP_PKEY* key) {
    return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

// PEM callbacks receive the password through `userdata`; never prompt on a terminal.
int passwordCallback(char* buf, int size, int, void* userdata) {
    auto* password = static_cast<std::string_view*>(userdata);
    if (!password || password->size() > static_cast<std::size_t>(size)) return 0;
    std::copy(password->begin(), password->end(), buf);
    return static_cast<int>(password->size());
}

}  // namespace

Certificate Certificate::adopt(X509* x509) {
    return Certificate(std::shared_ptr<X509>(x509, X509_free));
}

Certificate Certificate::retain(X509* x509) {
    X509_up_ref(x509);
    return adopt(x509);
}

std::optional<Certificate> Certificate::fromDER(std::span<const std::uint8_t> der) {
    ERR_clear_error();
    const unsigned char* p = der.data();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    ERR_clear_error();
    if (!x509) return std::nullopt;
    if (p != der.data() + der.size()) {
        X509_free(x509);
        return std::nullopt;
    }
    return adopt(x509);
}

std::vector<Certificate> Certificate::fromPEM(std::string_view pem) {
    std::vector<Certificate> out;
    ERR_clear_error();
    BioPtr bio = memoryBio(pem);
    while (bio) {
        X509* x509 = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
        if (!x509) break;
        out.push_back(adopt(x509));
    }
    // The loop ends on "no start line" at the end of the text; anything else is a broken file.
    unsigned long err = ERR_peek_last_error();
    if (ERR_GET_REASON(err) != PEM_R_NO_START_LINE || ERR_GET_LIB(err) != ERR_LIB_PEM) out.clear();
    ERR_clear_error();
    return out;
}

std::vector<std::uint8_t> Certificate::der() const {
    int length = i2d_X509(x509_.get(), nullptr);
    if (length <= 0) return {};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(length));
    unsigned char* p = out.data();
    i2d_X509(x509_.get(), &p);
    return out;
}

std::string Certificate::subjectSummary() const {
    X509_NAME* name = X509_get_subject_name(x509_.get());
    char buf[256] = {};
    if (X509_NAME_get_text_by_NID(name, NID_commonName, buf, sizeof buf) > 0) return buf;
    char* line = X509_NAME_oneline(name, nullptr, 0);
    std::string out = line ? line : "";
    OPENSSL_free(line);
    return out;
}

bool operator==(const Certificate& a, const Certificate& b) {
    return a.x509_ == b.x509_ || X509_cmp(a.x509_.get(), b.x509_.get()) == 0;
}

std::optional<Identity> Identity::make(EVP_PKEY* key, Certificate certificate,
                                       std::vector<Certificate> chain, std::string* error) {
    auto owned = keyPtr(key);
    ERR_clear_error();
    if (X509_check_private_key(certificate.native(), key) != 1) {
        if (error) *error = takeErrorText("private key does not match the certificate");
        return std::nullopt;
    }
    return Identity(std::move(owned), std::move(certificate), std::move(chain));
}

std::optional<Identity> Identity::fromPEM(std::string_view certificatesPem,
                                          std::string_view privateKeyPem, std::string_view password,
                                          std::string* error) {
    std::vector<Certificate> certs = Certificate::fromPEM(certificatesPem);
    if (certs.empty()) {
        if (error) *error = "no certificate in the PEM text";
        return std::nullopt;
    }
    ERR_clear_error();
    BioPtr bio = memoryBio(privateKeyPem);
    EVP_PKEY* key =
        bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, passwordCallback, &password) : nullptr;
    if (!key) {
        if (error) *error = takeErrorText("no private key in the PEM text");
        return std::nullopt;
    }
    Certificate leaf = certs.front();
    certs.erase(certs.begin());
    return make(key, std::move(leaf), std::move(certs), error);
}

std::optional<Identity> Identity::fromPKCS12(std::span<const std::uint8_t> data,
                                             std::string_view password, std::string* error) {
    ERR_clear_error();
    const unsigned char* p = data.data();
    PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(data.size()));
    if (!p12) {
        if (error) *error = takeErrorText("not a PKCS#12 bundle");
        return std::nullopt;
    }
    std::string pass(password);
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* ca = nullptr;
    int parsed = PKCS12_parse(p12, pass.c_str(), &key, &cert, &ca);
    PKCS12_free(p12);
    std::vector<Certificate> chain;
    for (int i = 0; ca && i < sk_X509_num(ca); ++i)
        chain.push_back(Certificate::adopt(sk_X509_value(ca, i)));
    sk_X509_free(ca);
    if (parsed != 1 || !key || !cert) {
        if (error) *error = takeErrorText("the PKCS#12 bundle holds no key and certificate");
        EVP_PKEY_free(key);
        X509_free(cert);
        return std::nullopt;
    }
    return make(key, Certificate::adopt(cert), std::move(chain), error);
}

}  // namespace tls
