#include "osc/core/OSCDecodeError.h"

namespace rozuri {

namespace {
std::string describe(const OSCDecodeError::Case& c) {
    switch (c.index()) {
        case 0:
            return "Malformed data: " + std::get<0>(c).text;
        case 1:
            return "Unexpected OSC Type Tag: " + std::get<1>(c).tag.text();
        case 2:
            return "OSC value decoding error: " + std::get<2>(c).text;
        default:
            return "Internal inconsistency: " + std::get<3>(c).text;
    }
}
}  // namespace

OSCDecodeError::OSCDecodeError(Case c) : case_(std::move(c)), description_(describe(case_)) {}

const std::string& OSCDecodeError::text() const {
    return std::visit(
        [](const auto& v) -> const std::string& {
            if constexpr (requires { v.tag; }) {
                return v.tag.text();
            } else {
                return v.text;
            }
        },
        case_);
}

}  // namespace rozuri
