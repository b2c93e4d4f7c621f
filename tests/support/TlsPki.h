#pragma once

// A throwaway certificate authority made at run time, shared by the TLS session tests and the
// TCP socket's TLS tests.

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/tls/Certificate.h"
#include "platform/tls/Settings.h"
#include "tests/support/TempDir.h"

namespace tlstest {

using tls::Certificate;
using tls::Identity;

// A throwaway certificate authority made at run time (P-256, SHA-256) with the leaves the tests
// need. Its certificate is the only anchor: SSL_CERT_FILE points at it.
class Pki {
  public:
    static const Pki& shared() {
        static const Pki* pki = new Pki;
        return *pki;
    }

  private:
    static EVP_PKEY* newKey() { return EVP_EC_gen("P-256"); }

    static X509* newCert(const char* cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                         long fromDays, long toDays, const char* san, bool isCA) {
        static long serial = 1;
        X509* x = X509_new();
        X509_set_version(x, X509_VERSION_3);
        ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
        X509_gmtime_adj(X509_getm_notBefore(x), fromDays * 86400);
        X509_gmtime_adj(X509_getm_notAfter(x), toDays * 86400);
        X509_set_pubkey(x, key);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
        X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
        X509V3_CTX ctx;
        X509V3_set_ctx_nodb(&ctx);
        X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
        auto add = [&](int nid, const char* value) {
            X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
            X509_add_ext(x, ext, -1);
            X509_EXTENSION_free(ext);
        };
        add(NID_basic_constraints, isCA ? "critical,CA:TRUE" : "critical,CA:FALSE");
        add(NID_key_usage, isCA ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
        if (!isCA) add(NID_ext_key_usage, "serverAuth,clientAuth");
        if (san) add(NID_subject_alt_name, san);
        X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256());
        return x;
    }

    static Identity leaf(const char* cn, X509* ca, EVP_PKEY* caKey, long from, long to,
                         const char* san) {
        EVP_PKEY* key = newKey();
        X509* x = newCert(cn, key, ca, caKey, from, to, san, false);
        std::vector<Certificate> chain;
        return *Identity::make(key, Certificate::adopt(x), chain);
    }

    // Before any other OpenSSL call (see platform/tls: no clean-up at exit while pool threads
    // may still free sessions).
    static bool initOpenSSL() { return OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1; }

    Pki() {
        EVP_PKEY_free(caKey_);
        std::string file = (dir->path() / "ca.pem").string();
        FILE* f = fopen(file.c_str(), "w");
        PEM_write_X509(f, ca.native());
        fclose(f);
        setenv("SSL_CERT_FILE", file.c_str(), 1);
        setenv("SSL_CERT_DIR", dir->path().c_str(), 1);
    }

    bool openSSLReady_ = initOpenSSL();
    static constexpr const char* kSAN = "DNS:localhost,IP:127.0.0.1,IP:::1";
    EVP_PKEY* caKey_ = newKey();
    X509* caX509_ = newCert("Mantleshade Test CA", caKey_, nullptr, nullptr, -1, 30, nullptr, true);
    EVP_PKEY* ownKey_ = newKey();

  public:
    Certificate ca = Certificate::adopt(caX509_);
    Identity good = leaf("localhost", caX509_, caKey_, -1, 30, kSAN);
    Identity wrongHost = leaf("elsewhere", caX509_, caKey_, -1, 30, "DNS:elsewhere.invalid");
    Identity expired = leaf("localhost", caX509_, caKey_, -30, -1, kSAN);
    Identity notYetValid = leaf("localhost", caX509_, caKey_, 1, 30, kSAN);
    Identity selfSigned = *Identity::make(
        ownKey_,
        Certificate::adopt(newCert("localhost", ownKey_, nullptr, nullptr, -1, 30, kSAN, false)));
    std::unique_ptr<testsupport::TempDir> dir = std::make_unique<testsupport::TempDir>("ms-tls");
};

inline tls::Settings serverWith(const Identity& identity, tls::Settings more = {}) {
    more.emplace(tls::kCFStreamSSLCertificates, tls::Value::Array{identity});
    return more;
}

}  // namespace tlstest
