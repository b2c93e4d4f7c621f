#include "platform/tls/ErrorQueue.h"

#include <openssl/err.h>

namespace tls {

std::string errorText(unsigned long err) {
    if (const char* reason = ERR_reason_error_string(err)) return reason;
    char buf[256] = {};
    ERR_error_string_n(err, buf, sizeof buf);
    return buf;
}

std::string takeErrorText(const std::string& fallback) {
    unsigned long err = ERR_get_error();
    ERR_clear_error();
    return err ? errorText(err) : fallback;
}

}  // namespace tls
