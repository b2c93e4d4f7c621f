#pragma once

#include <string_view>
#include <vector>

#include "osc/core/OSCAddressPattern.h"

namespace rozuri {

// OSC 1.0 wildcard matching, one "/"-separated component at a time: "*" any run of characters,
// "?" one character, "[...]" one character of a (negated) set, "{a,b}" one of several strings.
// Lengths count user-perceived characters. Matching is a scan over the set of reachable
// positions per token, so its cost is bounded by (pattern length x component length) whatever
// the pattern; it never recurses.

// The pattern text split on "/" (one leading and one trailing "/" dropped) and tokenised.
std::vector<OSCAddressPattern::Component> tokenizedComponents(std::string_view patternText);

// Whether one address component matches one pattern component.
bool matchComponent(std::string_view addressComponent,
                    const OSCAddressPattern::Component& component);

// Whether the whole address matches the pattern: the same number of components, each matching.
// A pattern without components matches nothing.
bool matchesAddress(const OSCAddressPattern& pattern, std::string_view address);

}  // namespace rozuri
