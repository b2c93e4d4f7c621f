#pragma once

// One user-perceived character: a single extended grapheme cluster of UTF-8 text.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace rozuri {

class Character {
  public:
    // A blank space.
    Character() : text_(" ") {}
    // From one ASCII byte (a tag character, for example).
    static Character fromASCII(char c) { return Character(std::string(1, c), Trusted{}); }
    Character(char c) : text_(1, c) {}  // NOLINT: tags are written as 'i', 'f', ...
    // The first grapheme cluster of the text; none when the text is not exactly one cluster.
    static std::optional<Character> fromText(std::string_view text);
    // The first grapheme cluster of the text; none for empty text.
    static std::optional<Character> firstOf(std::string_view text);

    const std::string& text() const { return text_; }
    operator std::string_view() const { return text_; }  // NOLINT

    // True for a single ASCII byte equal to c (the fast path of tag comparisons).
    bool isASCIIByte(char c) const { return text_.size() == 1 && text_[0] == c; }

    // Canonical equivalence, the platform's character equality.
    friend bool operator==(const Character& a, const Character& b) {
        if (a.text_.size() == 1 && b.text_.size() == 1) return a.text_[0] == b.text_[0];
        return equivalent(a.text_, b.text_);
    }
    friend bool operator==(const Character& a, char c) { return a.isASCIIByte(c); }

    std::size_t hash() const;
    const std::string& description() const { return text_; }

  private:
    static bool equivalent(const std::string& a, const std::string& b);
    struct Trusted {};
    Character(std::string text, Trusted) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::Character> {
    std::size_t operator()(const rozuri::Character& c) const noexcept { return c.hash(); }
};
