#include "osc/core/ValueDescriptions.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/foundation/TextTransforms.h"

namespace rozuri {

namespace {

// Shortest round-trip digits in the platform's style: decimal between 1e-4 and 2^mantissaBits,
// exponential outside ("1e+16", "1.5e-05"); whole numbers end in ".0".
template <class F>
std::string describe(F v, F exponentialAbove) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    if (v == 0) return std::signbit(v) ? "-0.0" : "0.0";
    char buf[128];
    auto result = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string sci(buf, result.ptr);
    bool negative = sci[0] == '-';
    if (negative) sci.erase(0, 1);
    auto e = sci.find('e');
    std::string digits = sci.substr(0, e);
    int exponent = std::stoi(sci.substr(e + 1));
    if (auto dot = digits.find('.'); dot != std::string::npos) digits.erase(dot, 1);
    std::string out = negative ? "-" : "";
    if (exponent < -4 || std::fabs(v) > exponentialAbove) {
        out += digits[0];
        if (digits.size() > 1) out += "." + digits.substr(1);
        char exp[16];
        std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return out + exp;
    }
    if (exponent >= 0) {
        auto intDigits = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= intDigits) {
            out += digits + std::string(intDigits - digits.size(), '0') + ".0";
        } else {
            out += digits.substr(0, intDigits) + "." + digits.substr(intDigits);
        }
        return out;
    }
    return out + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
}

}  // namespace

std::string describeFloat(float v) {
    return describe<float>(v, 16777216.0f);
}
std::string describeDouble(double v) {
    return describe<double>(v, 9007199254740992.0);
}
std::string describeFloat80(long double v) {
    return describe<long double>(v, 18446744073709551616.0L);
}

std::string debugQuoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        std::size_t start = i;
        char32_t c = foundation::nextUnicodeScalar(text, i);
        switch (c) {
            case '\0':
                out += "\\0";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\'':
                out += "\\'";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%X}", static_cast<unsigned>(c));
                    out += buf;
                } else {
                    out.append(text.substr(start, i - start));
                }
        }
    }
    return out + "\"";
}

}  // namespace rozuri
