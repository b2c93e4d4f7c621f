#include "platform/tls/StatusMapping.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <iterator>

#include "platform/tls/ErrorQueue.h"
#include "platform/tls/Verification.h"

namespace tls {

namespace {

constexpr int kVersionReasons[] = {
    SSL_R_UNSUPPORTED_PROTOCOL,
    SSL_R_NO_PROTOCOLS_AVAILABLE,
    SSL_R_VERSION_TOO_LOW,
    SSL_R_VERSION_TOO_HIGH,
    SSL_R_UNSUPPORTED_SSL_VERSION,
    SSL_R_WRONG_SSL_VERSION,
    SSL_R_BAD_PROTOCOL_VERSION_NUMBER,
};

constexpr int kCipherReasons[] = {
    SSL_R_NO_SHARED_CIPHER,
    SSL_R_NO_CIPHERS_AVAILABLE,
    SSL_R_NO_SHARED_GROUPS,
    SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM,
    SSL_R_NO_SHARED_SIGNATURE_ALGORITHMS,
    SSL_R_WRONG_CIPHER_RETURNED,
};

// Bytes that are not TLS records, or records that do not parse.
constexpr int kRecordReasons[] = {
    SSL_R_WRONG_VERSION_NUMBER,   SSL_R_HTTP_REQUEST,
    SSL_R_HTTPS_PROXY_REQUEST,    SSL_R_UNKNOWN_PROTOCOL,
    SSL_R_PACKET_LENGTH_TOO_LONG, SSL_R_ENCRYPTED_LENGTH_TOO_LONG,
    SSL_R_RECORD_LENGTH_MISMATCH, SSL_R_LENGTH_MISMATCH,
    SSL_R_BAD_PACKET_LENGTH,      SSL_R_BAD_LENGTH,
    SSL_R_UNEXPECTED_RECORD,      SSL_R_UNEXPECTED_MESSAGE,
    SSL_R_BAD_RECORD_TYPE,        SSL_R_RECORD_TOO_SMALL,
    SSL_R_LENGTH_TOO_SHORT,       SSL_R_LENGTH_TOO_LONG,
    SSL_R_DATA_LENGTH_TOO_LONG,   SSL_R_EXCESSIVE_MESSAGE_SIZE,
    SSL_R_UNEXPECTED_CCS_MESSAGE, SSL_R_DECRYPTION_FAILED_OR_BAD_RECORD_MAC,
    SSL_R_BAD_EXTENSION,
};

template <std::size_t N>
bool contains(const int (&list)[N], int value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

}  // namespace

Status statusForPeerAlert(int alert) {
    switch (alert) {
        case 10:
            return status::peerUnexpectedMsg;  // unexpected_message
        case 20:
            return -9820;  // bad_record_mac
        case 21:
            return -9821;  // decryption_failed
        case 22:
            return -9822;  // record_overflow
        case 30:
            return -9823;  // decompression_failure
        case 40:
            return -9824;  // handshake_failure
        case 42:
            return status::peerBadCert;  // bad_certificate
        case 43:
            return -9826;  // unsupported_certificate
        case 44:
            return -9827;  // certificate_revoked
        case 45:
            return -9828;  // certificate_expired
        case 46:
            return -9829;  // certificate_unknown
        case 47:
            return -9830;  // illegal_parameter
        case 48:
            return status::peerUnknownCA;  // unknown_ca
        case 49:
            return -9832;  // access_denied
        case 50:
            return -9833;  // decode_error
        case 51:
            return -9834;  // decrypt_error
        case 60:
            return -9835;  // export_restriction
        case 70:
            return status::peerProtocolVersion;  // protocol_version
        case 71:
            return -9837;  // insufficient_security
        case 80:
            return -9838;  // internal_error
        case 90:
            return -9839;  // user_canceled
        case 100:
            return status::peerNoRenegotiation;  // no_renegotiation
        default:
            return status::fatalAlert;
    }
}

Failure failureForSSLCall(const SSL* ssl, int sslError) {
    switch (sslError) {
        case SSL_ERROR_NONE:
            return {};
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            ERR_clear_error();
            return {status::wouldBlock, {}};
        case SSL_ERROR_WANT_RETRY_VERIFY:
            ERR_clear_error();
            return {status::peerAuthCompleted,
                    "peer certificate awaits the caller's trust decision"};
        case SSL_ERROR_ZERO_RETURN:
            ERR_clear_error();
            return {status::closedGraceful, "the peer closed the TLS session (close_notify)"};
        case SSL_ERROR_SYSCALL:
            // Our I/O functions report end of stream and transport failures this way.
            return {status::closedAbort, takeErrorText("unexpected end of stream")};
        case SSL_ERROR_SSL:
            break;
        default:
            return {status::internal, takeErrorText("internal TLS error")};
    }

    // The first SSL entry names the cause; later ones are follow-ups.
    unsigned long err = 0;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        if (!err || (ERR_GET_LIB(err) != ERR_LIB_SSL && ERR_GET_LIB(e) == ERR_LIB_SSL)) err = e;
    ERR_clear_error();
    if (!err) return {status::internal, "internal TLS error"};
    std::string text = errorText(err);
    int reason = ERR_GET_LIB(err) == ERR_LIB_SSL ? ERR_GET_REASON(err) : 0;

    if (reason == SSL_R_CERTIFICATE_VERIFY_FAILED) {
        long result = SSL_get_verify_result(ssl);
        Status s = statusForVerifyError(result);
        return {s == status::ok ? status::badCert : s, text + ": " + verifyErrorText(result)};
    }
    if (reason >= SSL_AD_REASON_OFFSET && reason < SSL_AD_REASON_OFFSET + 256)
        return {statusForPeerAlert(reason - SSL_AD_REASON_OFFSET), text};
    if (reason == SSL_R_UNEXPECTED_EOF_WHILE_READING) return {status::closedAbort, text};
    if (reason == SSL_R_NO_RENEGOTIATION) return {status::peerNoRenegotiation, text};
    if (contains(kVersionReasons, reason)) return {status::peerProtocolVersion, text};
    if (contains(kCipherReasons, reason)) return {status::negotiation, text};
    if (contains(kRecordReasons, reason)) return {status::protocol, text};
    return {status::internal, text};
}

}  // namespace tls
