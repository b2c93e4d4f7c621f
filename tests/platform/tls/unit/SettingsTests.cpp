#include <gtest/gtest.h>

#include "TlsTestSupport.h"

namespace tlstest {
namespace {

using tls::ConfigFailure;
using tls::Settings;
using tls::Value;

ConfigFailure failureFor(Settings settings) {
    Pki::shared();
    ConfigFailure failure;
    auto session = tls::Session::create(
        settings, [](auto*, auto) { return tls::IOResult::wouldBlock(); },
        [](auto*, auto) { return tls::IOResult::wouldBlock(); }, &failure);
    EXPECT_EQ(session == nullptr, !failure.reason.empty());
    return failure;
}

TEST(TlsSettings, KeyConstantsAreTheirOwnNames) {
    EXPECT_STREQ(tls::kCFStreamSSLIsServer, "kCFStreamSSLIsServer");
    EXPECT_STREQ(tls::kCFStreamSSLValidatesCertificateChain,
                 "kCFStreamSSLValidatesCertificateChain");
    EXPECT_STREQ(tls::DispatchTcpSocketSSLSessionOptionSendOneByteRecord,
                 "DispatchTcpSocketSSLSessionOptionSendOneByteRecord");
}

TEST(TlsSettings, WrongTypedKeyGivesItsAssertionAndShortError) {
    const struct {
        const char* key;
        Value wrong;
        const char* type;
    } rows[] = {
        {tls::kCFStreamSSLPeerName, 1, "NSString"},
        {tls::kCFStreamSSLCertificates, "cert", "NSArray"},
        {tls::DispatchTcpSocketSSLProtocolVersionMin, "8", "NSNumber"},
        {tls::DispatchTcpSocketSSLProtocolVersionMax, Value::Array{8}, "NSNumber"},
        {tls::DispatchTcpSocketSSLSessionOptionFalseStart, "yes", "NSNumber"},
        {tls::DispatchTcpSocketSSLSessionOptionSendOneByteRecord, Value::Data{1}, "NSNumber"},
        {tls::DispatchTcpSocketSSLCipherSuites, 0x1301, "NSArray"},
        {tls::DispatchTcpSocketSSLDiffieHellmanParameters, "dh", "NSData"},
        {tls::DispatchTcpSocketSSLALPN, "h2", "NSArray"},
    };
    for (const auto& row : rows) {
        std::string key = row.key;
        EXPECT_EQ(
            failureFor({{key, row.wrong}}),
            (ConfigFailure{"Invalid value for " + key + ". Value must be of type " + row.type + ".",
                           "Invalid value for " + key + "."}));
    }
    EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLPeerID, "id"}}),
              (ConfigFailure{"Invalid value for DispatchTcpSocketSSLPeerID. Value must be of "
                             "type NSData. (You can convert strings to data using a method like "
                             "[string dataUsingEncoding:NSUTF8StringEncoding])",
                             "Invalid value for DispatchTcpSocketSSLPeerID."}));
}

TEST(TlsSettings, RefusedKeysFailWhateverTheirValue) {
    for (const char* key :
         {tls::kCFStreamSSLAllowsAnyRoot, tls::kCFStreamSSLAllowsExpiredRoots,
          tls::kCFStreamSSLValidatesCertificateChain, tls::kCFStreamSSLAllowsExpiredCertificates}) {
        std::string k = key;
        EXPECT_EQ(failureFor({{k, false}}),
                  (ConfigFailure{"Security option unavailable - " + k +
                                     " - You must use manual trust evaluation",
                                 "Security option unavailable - " + k}));
    }
    EXPECT_EQ(failureFor({{tls::kCFStreamSSLLevel, "kCFStreamSocketSecurityLevelTLSv1"}}),
              (ConfigFailure{"Security option unavailable - kCFStreamSSLLevel - You must use "
                             "DispatchTcpSocketSSLProtocolVersionMin & "
                             "DispatchTcpSocketSSLProtocolVersionMax",
                             "Security option unavailable - kCFStreamSSLLevel"}));
    // Applied keys come first: a broken one is reported before a refused one.
    EXPECT_EQ(failureFor({{tls::kCFStreamSSLLevel, 1}, {tls::kCFStreamSSLPeerName, 1}}).reason,
              "Invalid value for kCFStreamSSLPeerName.");
}

TEST(TlsSettings, ProtocolVersions) {
    for (int v : {0, 4, 7, 8, 10, 999}) {
        EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLProtocolVersionMin, v}}).reason, "") << v;
        EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLProtocolVersionMax, v}}).reason, "") << v;
    }
    // SSL 2 and 3, "TLS 1 only", "all", SSL 3 only, DTLS, unknown.
    for (const Value& v : std::vector<Value>{1, 2, 5, 6, 3, 9, 11, -1, 1000, 1e30}) {
        EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLProtocolVersionMin, v}}).reason,
                  "Error in SSLSetProtocolVersionMin");
        EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLProtocolVersionMax, v}}).reason,
                  "Error in SSLSetProtocolVersionMax");
    }
}

TEST(TlsSettings, ValuesThatCannotBeApplied) {
    const Identity& id = Pki::shared().good;
    const struct {
        Settings settings;
        const char* reason;
    } rows[] = {
        {{{tls::DispatchTcpSocketManuallyEvaluateTrust, true}, {tls::kCFStreamSSLIsServer, 1}},
         "Manual trust validation is not supported for server sockets"},
        {{{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{0xFFFF}}},
         "Error in SSLSetEnabledCiphers"},
        {{{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{}}},
         "Error in SSLSetEnabledCiphers"},
        {{{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{0x1301, 0x11301}}},
         "Error in SSLSetEnabledCiphers"},
        {{{tls::DispatchTcpSocketSSLCipherSuites, Value::Array{"0x1301"}}},
         "Error in SSLSetEnabledCiphers"},
        {{{tls::DispatchTcpSocketSSLALPN, Value::Array{"h2", ""}}}, "Error in SSLSetALPNProtocols"},
        {{{tls::DispatchTcpSocketSSLALPN, Value::Array{"h2", 2}}}, "Error in SSLSetALPNProtocols"},
        {{{tls::kCFStreamSSLCertificates, Value::Array{}}}, "Error in SSLSetCertificate"},
        {{{tls::kCFStreamSSLCertificates, Value::Array{id.certificate()}}},
         "Error in SSLSetCertificate"},
        {{{tls::kCFStreamSSLCertificates, Value::Array{id, "chain"}}},
         "Error in SSLSetCertificate"},
        {{{tls::DispatchTcpSocketSSLDiffieHellmanParameters, Value::Data{1, 2, 3}}},
         "Error in SSLSetDiffieHellmanParams"},
        {{{tls::kCFStreamSSLPeerName, std::string("local\0host", 10)}},
         "Error in SSLSetPeerDomainName"},
    };
    for (const auto& row : rows) EXPECT_EQ(failureFor(row.settings).reason, row.reason);
    // Accepted without effect on Linux.
    EXPECT_EQ(failureFor({{tls::DispatchTcpSocketSSLSessionOptionFalseStart, true},
                          {tls::DispatchTcpSocketSSLSessionOptionSendOneByteRecord, 1}})
                  .reason,
              "");
}

TEST(TlsCertificate, IdentityFromPEMAndPKCS12) {
    const Identity& id = Pki::shared().good;
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, id.certificate().native());
    PEM_write_bio_X509(bio, Pki::shared().ca.native());
    PEM_write_bio_PrivateKey(bio, id.privateKey(), EVP_aes_128_cbc(), nullptr, 0, nullptr,
                             const_cast<char*>("pw"));
    char* text = nullptr;
    long length = BIO_get_mem_data(bio, &text);
    std::string pem(text, static_cast<std::size_t>(length));
    BIO_free(bio);

    auto fromPem = Identity::fromPEM(pem, pem, "pw");
    ASSERT_TRUE(fromPem);
    EXPECT_TRUE(fromPem->certificate() == id.certificate());
    ASSERT_EQ(fromPem->chain().size(), 1u);
    EXPECT_EQ(fromPem->chain()[0].subjectSummary(), "Mantleshade Test CA");
    std::string error;
    EXPECT_FALSE(Identity::fromPEM(pem, pem, "wrong", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(tls::Certificate::fromPEM("-----BEGIN CERTIFICATE-----\nAAAA\n").empty());

    STACK_OF(X509)* ca = sk_X509_new_null();
    sk_X509_push(ca, Pki::shared().ca.native());
    PKCS12* p12 =
        PKCS12_create("pw", "id", id.privateKey(), id.certificate().native(), ca, 0, 0, 0, 0, 0);
    sk_X509_free(ca);
    ASSERT_TRUE(p12);
    unsigned char* der = nullptr;
    int len = i2d_PKCS12(p12, &der);
    PKCS12_free(p12);
    std::vector<std::uint8_t> bytes(der, der + len);
    OPENSSL_free(der);
    auto fromP12 = Identity::fromPKCS12(bytes, "pw");
    ASSERT_TRUE(fromP12);
    EXPECT_TRUE(fromP12->certificate() == id.certificate());
    EXPECT_EQ(fromP12->chain().size(), 1u);
    EXPECT_FALSE(Identity::fromPKCS12(bytes, "wrong"));
    EXPECT_FALSE(Identity::fromPKCS12(std::vector<std::uint8_t>{1, 2, 3}, "pw"));
}

}  // namespace
}  // namespace tlstest
