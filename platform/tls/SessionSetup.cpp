#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <limits>

#include "platform/tls/Session.h"
#include "platform/tls/SessionHooks.h"
#include "platform/tls/Verification.h"

namespace tls {

namespace {

// Keys applied in this order; a key of another type than its own is a caller's error.
constexpr const char* kAppliedKeys[] = {
    kCFStreamSSLPeerName,
    kCFStreamSSLCertificates,
    DispatchTcpSocketSSLPeerID,
    DispatchTcpSocketSSLProtocolVersionMin,
    DispatchTcpSocketSSLProtocolVersionMax,
    DispatchTcpSocketSSLSessionOptionFalseStart,
    DispatchTcpSocketSSLSessionOptionSendOneByteRecord,
    DispatchTcpSocketSSLCipherSuites,
    DispatchTcpSocketSSLDiffieHellmanParameters,
    DispatchTcpSocketSSLALPN,
};

constexpr const char* kRefusedKeys[] = {
    kCFStreamSSLAllowsAnyRoot,
    kCFStreamSSLAllowsExpiredRoots,
    kCFStreamSSLValidatesCertificateChain,
    kCFStreamSSLAllowsExpiredCertificates,
    kCFStreamSSLLevel,
};

bool fail(ConfigFailure* failure, const char* reason) {
    *failure = {{}, reason};
    return false;
}

bool contractFail(ConfigFailure* failure, std::string_view key) {
    *failure = contractFailureFor(key);
    return false;
}

// A protocol version number of the settings as OpenSSL's version; -1 when refused (SSL 2/3,
// "only" variants, DTLS, anything unknown). `isMax` maps "highest supported" to no limit.
int opensslVersion(const Value& value, bool isMax) {
    std::optional<std::int64_t> n = value.integerValue();
    if (!n || *n < std::numeric_limits<std::int32_t>::min() ||
        *n > std::numeric_limits<std::int32_t>::max())
        return -1;
    switch (*n) {
        case protocol::tls1_0:
            return TLS1_VERSION;
        case protocol::tls1_1:
            return TLS1_1_VERSION;
        case protocol::tls1_2:
            return TLS1_2_VERSION;
        case protocol::tls1_3:
            return TLS1_3_VERSION;
        case protocol::maxSupported:
            return isMax ? 0 : TLS1_3_VERSION;
        default:
            return -1;
    }
}

EVP_PKEY* parseDHParameters(const Value::Data& data) {
    ERR_clear_error();
    const unsigned char* p = data.data();
    EVP_PKEY* pkey = d2i_KeyParams(EVP_PKEY_DH, nullptr, &p, static_cast<long>(data.size()));
    if (!pkey) {
        BIO* bio = BIO_new_mem_buf(data.data(), static_cast<int>(data.size()));
        pkey = bio ? PEM_read_bio_Parameters(bio, nullptr) : nullptr;
        BIO_free(bio);
    }
    ERR_clear_error();
    if (pkey && !EVP_PKEY_is_a(pkey, "DH")) {
        EVP_PKEY_free(pkey);
        pkey = nullptr;
    }
    return pkey;
}

}  // namespace

bool Session::configure(const Settings& settings, ConfigFailure* failure) {
    ERR_clear_error();
    SSL_CTX* ctx = SessionHooks::context(server_);
    ssl_ = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl_) {
        ERR_clear_error();
        return fail(failure, texts::createContext);
    }
    if (!SessionHooks::attach(ssl_, this)) {
        ERR_clear_error();
        return fail(failure, texts::setIOFuncs);
    }
    if (server_) {
        SSL_set_accept_state(ssl_);
    } else {
        SSL_set_connect_state(ssl_);
        X509_STORE* store = SessionHooks::defaultStore();
        bool stored = store && SSL_set1_verify_cert_store(ssl_, store) == 1;
        X509_STORE_free(store);
        if (!stored) {
            ERR_clear_error();
            return fail(failure, texts::createContext);
        }
    }

    if (auto it = settings.find(DispatchTcpSocketManuallyEvaluateTrust);
        it != settings.end() && it->second.boolValue().value_or(false)) {
        if (server_) return fail(failure, texts::manualTrustOnServer);
        manualTrust_ = true;
    }
    for (const char* key : kAppliedKeys) {
        auto it = settings.find(key);
        if (it != settings.end() && !applyKey(key, it->second, failure)) {
            ERR_clear_error();
            return false;
        }
    }
    for (const char* key : kRefusedKeys)
        if (settings.contains(key)) return contractFail(failure, key);
    ERR_clear_error();
    return true;
}

bool Session::applyKey(std::string_view key, const Value& value, ConfigFailure* failure) {
    if (key == kCFStreamSSLPeerName) {
        const std::string* name = value.string();
        if (!name) return contractFail(failure, key);
        if (name->empty()) return true;
        if (!applyPeerName(SSL_get0_param(ssl_), *name))
            return fail(failure, texts::setPeerDomainName);
        unsigned char addr[16];
        bool isIP = ::inet_pton(AF_INET, name->c_str(), addr) == 1 ||
                    ::inet_pton(AF_INET6, name->c_str(), addr) == 1;
        // Server name indication carries host names only.
        if (!server_ && !isIP && SSL_set_tlsext_host_name(ssl_, name->c_str()) != 1)
            return fail(failure, texts::setPeerDomainName);
        peerName_ = *name;
        return true;
    }
    if (key == kCFStreamSSLCertificates) {
        const Value::Array* items = value.array();
        if (!items) return contractFail(failure, key);
        // The identity first, then certificates sent after its own chain.
        const Identity* identity = items->empty() ? nullptr : items->front().identity();
        if (!identity) return fail(failure, texts::setCertificate);
        std::vector<Certificate> chain = identity->chain();
        for (std::size_t i = 1; i < items->size(); ++i) {
            const Certificate* cert = (*items)[i].certificate();
            if (!cert) return fail(failure, texts::setCertificate);
            chain.push_back(*cert);
        }
        if (SSL_use_certificate(ssl_, identity->certificate().native()) != 1 ||
            SSL_use_PrivateKey(ssl_, identity->privateKey()) != 1 ||
            SSL_check_private_key(ssl_) != 1)
            return fail(failure, texts::setCertificate);
        for (const auto& cert : chain)
            if (SSL_add1_chain_cert(ssl_, cert.native()) != 1)
                return fail(failure, texts::setCertificate);
        return true;
    }
    if (key == DispatchTcpSocketSSLPeerID) {
        const Value::Data* id = value.data();
        if (!id) return contractFail(failure, key);
        peerID_ = *id;
        if (!server_ && !peerID_.empty()) {
            if (SSL_SESSION* cached = SessionHooks::cachedSession(peerID_)) {
                int ok = SSL_set_session(ssl_, cached);
                SSL_SESSION_free(cached);
                if (ok != 1) return fail(failure, texts::setPeerID);
            }
        }
        return true;
    }
    if (key == DispatchTcpSocketSSLProtocolVersionMin ||
        key == DispatchTcpSocketSSLProtocolVersionMax) {
        if (!value.isNumber()) return contractFail(failure, key);
        bool isMax = key == DispatchTcpSocketSSLProtocolVersionMax;
        if (value.integerValue() == 0) return true;  // leaves the default
        int version = opensslVersion(value, isMax);
        bool ok = version >= 0 && (isMax ? SSL_set_max_proto_version(ssl_, version)
                                         : SSL_set_min_proto_version(ssl_, version)) == 1;
        if (!ok)
            return fail(failure,
                        isMax ? texts::setProtocolVersionMax : texts::setProtocolVersionMin);
        return true;
    }
    if (key == DispatchTcpSocketSSLSessionOptionFalseStart ||
        key == DispatchTcpSocketSSLSessionOptionSendOneByteRecord) {
        // Accepted without effect: OpenSSL has no false start, and already protects CBC.
        return value.isNumber() ? true : contractFail(failure, key);
    }
    if (key == DispatchTcpSocketSSLCipherSuites) {
        const Value::Array* codes = value.array();
        if (!codes) return contractFail(failure, key);
        return applyCipherSuites(*codes) ? true : fail(failure, texts::setEnabledCiphers);
    }
    if (key == DispatchTcpSocketSSLDiffieHellmanParameters) {
        const Value::Data* data = value.data();
        if (!data) return contractFail(failure, key);
        EVP_PKEY* params = parseDHParameters(*data);
        if (!params) return fail(failure, texts::setDiffieHellmanParams);
        if (SSL_set0_tmp_dh_pkey(ssl_, params) != 1) {
            EVP_PKEY_free(params);
            return fail(failure, texts::setDiffieHellmanParams);
        }
        return true;
    }
    if (key == DispatchTcpSocketSSLALPN) {
        const Value::Array* protocols = value.array();
        if (!protocols) return contractFail(failure, key);
        return applyALPN(*protocols) ? true : fail(failure, texts::setALPNProtocols);
    }
    return true;
}

bool Session::applyCipherSuites(const Value::Array& codes) {
    if (codes.empty()) return false;
    std::string tls12, tls13;
    for (const Value& code : codes) {
        std::optional<std::int64_t> n = code.integerValue();
        if (!n || *n < 0 || *n > 0xFFFF) return false;
        const unsigned char bytes[2] = {static_cast<unsigned char>(*n >> 8),
                                        static_cast<unsigned char>(*n & 0xFF)};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl_, bytes);
        if (!cipher) return false;
        const char* name = SSL_CIPHER_get_name(cipher);
        // OpenSSL skips names it does not know, so each one is tried on its own first.
        bool isTLS13 = (*n & 0xFF00) == 0x1300;
        if ((isTLS13 ? SSL_set_ciphersuites(ssl_, name) : SSL_set_cipher_list(ssl_, name)) != 1)
            return false;
        std::string& list = isTLS13 ? tls13 : tls12;
        if (!list.empty()) list += ':';
        list += name;
    }
    if (SSL_set_ciphersuites(ssl_, tls13.c_str()) != 1) return false;
    // An empty list is no valid cipher string: limit the versions instead.
    if (tls12.empty()) {
        long min = SSL_get_min_proto_version(ssl_);
        if (min == 0 || min < TLS1_3_VERSION)
            return SSL_set_min_proto_version(ssl_, TLS1_3_VERSION);
        return true;
    }
    if (SSL_set_cipher_list(ssl_, tls12.c_str()) != 1) return false;
    if (tls13.empty()) {
        long max = SSL_get_max_proto_version(ssl_);
        if (max == 0 || max > TLS1_2_VERSION)
            return SSL_set_max_proto_version(ssl_, TLS1_2_VERSION);
    }
    return true;
}

bool Session::applyALPN(const Value::Array& protocols) {
    std::vector<std::uint8_t> wire;
    for (const Value& protocol : protocols) {
        const std::string* name = protocol.string();
        if (!name || name->empty() || name->size() > 255) return false;
        wire.push_back(static_cast<std::uint8_t>(name->size()));
        wire.insert(wire.end(), name->begin(), name->end());
    }
    if (wire.empty()) return true;
    if (server_) {
        alpnWire_ = std::move(wire);
        return true;
    }
    // Answers 0 on success.
    return SSL_set_alpn_protos(ssl_, wire.data(), static_cast<unsigned int>(wire.size())) == 0;
}

}  // namespace tls
