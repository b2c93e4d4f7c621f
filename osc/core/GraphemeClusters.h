#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace rozuri {

// The user-perceived characters (extended grapheme clusters) of a UTF-8 text, as byte offsets.
// Pattern matching counts in these units. ASCII text is split without ICU; the only cluster of
// two ASCII bytes is CR LF.
class GraphemeClusters {
  public:
    explicit GraphemeClusters(std::string_view text);

    std::string_view text() const { return text_; }
    std::size_t count() const { return bounds_.size() - 1; }
    bool empty() const { return count() == 0; }

    // The i-th character, i < count().
    std::string_view at(std::size_t i) const {
        return text_.substr(bounds_[i], bounds_[i + 1] - bounds_[i]);
    }
    // Byte offset where the i-th character starts (i == count() gives the text's size).
    std::size_t offset(std::size_t i) const { return bounds_[i]; }

    // The character index that starts at byte offset `byteOffset`, or npos when that offset is
    // not a character boundary.
    std::size_t indexAtOffset(std::size_t byteOffset) const;

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // True for one scalar below U+0080 and for CR LF; `value` receives the code (CR LF gives 10).
    static bool asciiValue(std::string_view character, std::uint8_t* value = nullptr);

  private:
    std::string_view text_;
    std::vector<std::uint32_t> bounds_;           // count()+1 offsets, first 0, last text_.size()
    mutable std::vector<std::uint32_t> reverse_;  // byte offset -> index+1, built on demand
};

}  // namespace rozuri
