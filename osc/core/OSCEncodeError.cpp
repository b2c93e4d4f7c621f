#include "osc/core/OSCEncodeError.h"

namespace rozuri {

namespace {
std::string describe(const OSCEncodeError::Case& c) {
    switch (c.index()) {
        case 0:
            return "Encoding error: " + std::get<0>(c).text;
        case 1:
            return "OSC value encoding error: " + std::get<1>(c).text;
        default:
            return "Internal inconsistency: " + std::get<2>(c).text;
    }
}
}  // namespace

OSCEncodeError::OSCEncodeError(Case c) : case_(std::move(c)), description_(describe(case_)) {}

const std::string& OSCEncodeError::text() const {
    return std::visit([](const auto& v) -> const std::string& { return v.text; }, case_);
}

std::int32_t checkedOSCLength(std::size_t count, std::string_view what) {
    if (count > 0x7FFFFFFFu)
        throw OSCEncodeError::valueEncodingError(
            std::string(what) + " of " + std::to_string(count) +
            " bytes is too long for OSC (at most 2147483647).");
    return static_cast<std::int32_t>(count);
}

}  // namespace rozuri
