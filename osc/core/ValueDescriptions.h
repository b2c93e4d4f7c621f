#pragma once

// Text descriptions of numbers and texts as the platform writes them: 1.0, 0.1, 1e+16, 1e-05,
// "a\"b".

#include <string>
#include <string_view>

namespace rozuri {

std::string describeFloat(float v);
std::string describeDouble(double v);
std::string describeFloat80(long double v);
// The text in double quotes with \\, \", \n, \r, \t, \0 and other controls escaped.
std::string debugQuoted(std::string_view text);

}  // namespace rozuri
