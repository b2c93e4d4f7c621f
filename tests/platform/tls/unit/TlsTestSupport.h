#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/tls/Session.h"
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

    Pki() {
        EVP_PKEY_free(caKey_);
        std::string file = (dir->path() / "ca.pem").string();
        FILE* f = fopen(file.c_str(), "w");
        PEM_write_X509(f, ca.native());
        fclose(f);
        setenv("SSL_CERT_FILE", file.c_str(), 1);
        setenv("SSL_CERT_DIR", dir->path().c_str(), 1);
    }

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

// One direction of an in-memory connection with a bounded amount in flight, so writers meet
// would-block the way they do on a socket.
struct Link {
    std::deque<std::uint8_t> bytes;
    std::size_t capacity = 64 * 1024;
    bool closed = false;
    std::size_t moved = 0;

    tls::IOResult read(std::uint8_t* buf, std::size_t len) {
        if (bytes.empty())
            return closed ? tls::IOResult::endOfStream() : tls::IOResult::wouldBlock();
        std::size_t n = std::min(len, bytes.size());
        std::copy_n(bytes.begin(), n, buf);
        bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(n));
        moved += n;
        return tls::IOResult::transferred(n);
    }
    tls::IOResult write(const std::uint8_t* buf, std::size_t len) {
        if (closed) return tls::IOResult::failed();
        if (bytes.size() >= capacity) return tls::IOResult::wouldBlock();
        std::size_t n = std::min(len, capacity - bytes.size());
        bytes.insert(bytes.end(), buf, buf + n);
        moved += n;
        return tls::IOResult::transferred(n);
    }
    void put(const std::string& text) { bytes.insert(bytes.end(), text.begin(), text.end()); }
};

inline tls::Session::Result noResult() {
    return {tls::status::wouldBlock, 0, tls::Session::Want::nothing};
}

// A client and a server session joined in memory.
struct Pair {
    Link toServer, toClient;
    std::shared_ptr<tls::Session> client, server;
    tls::ConfigFailure clientFailure, serverFailure;

    Pair(tls::Settings clientSettings, tls::Settings serverSettings) {
        serverSettings.emplace(tls::kCFStreamSSLIsServer, true);
        client = tls::Session::create(
            clientSettings, [this](auto* b, auto n) { return toClient.read(b, n); },
            [this](auto* b, auto n) { return toServer.write(b, n); }, &clientFailure);
        server = tls::Session::create(
            serverSettings, [this](auto* b, auto n) { return toServer.read(b, n); },
            [this](auto* b, auto n) { return toClient.write(b, n); }, &serverFailure);
    }

    // Runs both handshakes until neither can move; answers the last statuses.
    std::pair<tls::Status, tls::Status> handshake() {
        tls::Status c = tls::status::wouldBlock, s = tls::status::wouldBlock;
        for (int i = 0; i < 100; ++i) {
            std::size_t before = toServer.moved + toClient.moved;
            if (c == tls::status::wouldBlock) c = client->handshake().status;
            if (s == tls::status::wouldBlock) s = server->handshake().status;
            if (before == toServer.moved + toClient.moved) break;
        }
        return {c, s};
    }
};

inline tls::Settings serverWith(const Identity& identity, tls::Settings more = {}) {
    more.emplace(tls::kCFStreamSSLCertificates, tls::Value::Array{identity});
    return more;
}

}  // namespace tlstest
