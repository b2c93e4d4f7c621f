#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "osc/core/Character.h"

namespace rozuri {

// Which type-tag characters a value type is written with.
class OSCValueTagIdentity {
  public:
    // Always this one tag character.
    struct Tag {
        Character character;
    };
    // One character out of the list, chosen per value (Bool: "T" or "F").
    struct Variable {
        std::vector<Character> characters;
    };
    // A run of tag characters whose length lies between the bounds; none is no bound.
    struct Variadic {
        std::optional<std::int64_t> minCount;
        std::optional<std::int64_t> maxCount;
    };
    using Case = std::variant<Tag, Variable, Variadic>;

    static OSCValueTagIdentity tag(Character c) { return OSCValueTagIdentity(Tag{std::move(c)}); }
    static OSCValueTagIdentity variable(std::vector<Character> list) {
        return OSCValueTagIdentity(Variable{std::move(list)});
    }
    static OSCValueTagIdentity variadic(std::optional<std::int64_t> minCount,
                                        std::optional<std::int64_t> maxCount) {
        return OSCValueTagIdentity(Variadic{minCount, maxCount});
    }

    explicit OSCValueTagIdentity(Case c) : case_(std::move(c)) {}

    const Case& value() const { return case_; }
    const Tag* asTag() const { return std::get_if<Tag>(&case_); }
    const Variable* asVariable() const { return std::get_if<Variable>(&case_); }
    const Variadic* asVariadic() const { return std::get_if<Variadic>(&case_); }
    bool isVariadic() const { return asVariadic() != nullptr; }

    // tag: equal character; variable: the list holds it; variadic: never.
    bool matches(const Character& tag) const;
    // The characters this identity owns: [c], the list, or none for variadic.
    std::vector<Character> tagCharacters() const;

    friend bool operator==(const OSCValueTagIdentity& a, const OSCValueTagIdentity& b);
    std::size_t hash() const;

  private:
    Case case_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCValueTagIdentity> {
    std::size_t operator()(const rozuri::OSCValueTagIdentity& i) const noexcept { return i.hash(); }
};
