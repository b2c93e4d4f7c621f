#include "osc/core/Character.h"

#include "platform/foundation/TextTransforms.h"

namespace rozuri {

std::optional<Character> Character::fromText(std::string_view text) {
    if (!foundation::isSingleGraphemeCluster(text)) return std::nullopt;
    return Character(std::string(text), Trusted{});
}

std::optional<Character> Character::firstOf(std::string_view text) {
    if (text.empty()) return std::nullopt;
    return Character(std::string(foundation::firstGraphemeCluster(text)), Trusted{});
}

bool Character::equivalent(const std::string& a, const std::string& b) {
    return foundation::canonicallyEquivalent(a, b);
}

std::size_t Character::hash() const {
    if (text_.size() == 1) return std::hash<std::string>{}(text_);
    return std::hash<std::string>{}(foundation::canonicalComposition(text_));
}

}  // namespace rozuri
