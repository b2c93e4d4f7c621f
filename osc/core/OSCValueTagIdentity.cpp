#include "osc/core/OSCValueTagIdentity.h"

#include <algorithm>

namespace rozuri {

namespace {
void combine(std::size_t& seed, std::size_t v) {
    seed ^= v + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
}  // namespace

bool OSCValueTagIdentity::matches(const Character& tag) const {
    if (auto t = asTag()) return t->character == tag;
    if (auto v = asVariable())
        return std::any_of(v->characters.begin(), v->characters.end(),
                           [&](const Character& c) { return c == tag; });
    return false;
}

std::vector<Character> OSCValueTagIdentity::tagCharacters() const {
    if (auto t = asTag()) return {t->character};
    if (auto v = asVariable()) return v->characters;
    return {};
}

bool operator==(const OSCValueTagIdentity& a, const OSCValueTagIdentity& b) {
    if (a.case_.index() != b.case_.index()) return false;
    if (auto t = a.asTag()) return t->character == b.asTag()->character;
    if (auto v = a.asVariable()) return v->characters == b.asVariable()->characters;
    auto va = a.asVariadic();
    auto vb = b.asVariadic();
    return va->minCount == vb->minCount && va->maxCount == vb->maxCount;
}

std::size_t OSCValueTagIdentity::hash() const {
    std::size_t seed = 0;
    combine(seed, case_.index());
    if (auto t = asTag()) {
        combine(seed, t->character.hash());
    } else if (auto v = asVariable()) {
        combine(seed, v->characters.size());
        for (const auto& c : v->characters) combine(seed, c.hash());
    } else {
        auto va = asVariadic();
        for (const auto& bound : {va->minCount, va->maxCount}) {
            combine(seed, bound ? 1 : 0);
            if (bound) combine(seed, static_cast<std::size_t>(*bound));
        }
    }
    return seed;
}

}  // namespace rozuri
