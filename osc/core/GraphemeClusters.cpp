#include "osc/core/GraphemeClusters.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

namespace rozuri {

namespace {

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// Opening a break iterator loads rules; keep one per thread.
UBreakIterator* characterBreakIterator() {
    thread_local std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator* it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) it = nullptr;
        return std::unique_ptr<UBreakIterator, BreakIteratorCloser>(it);
    }();
    return iterator.get();
}

bool isAllASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

GraphemeClusters::GraphemeClusters(std::string_view text) : text_(text) {
    bounds_.reserve(text.size() + 1);
    bounds_.push_back(0);
    if (isAllASCII(text)) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            bounds_.push_back(static_cast<std::uint32_t>(i + 1));
        }
        return;
    }
    UBreakIterator* it = characterBreakIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* ut =
        it ? utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status)
           : nullptr;
    if (ut && U_SUCCESS(status)) {
        ubrk_setUText(it, ut, &status);
        if (U_SUCCESS(status)) {
            ubrk_first(it);
            for (int32_t b = ubrk_next(it); b != UBRK_DONE; b = ubrk_next(it))
                if (b > 0) bounds_.push_back(static_cast<std::uint32_t>(b));
        }
        // Detach the iterator before the UText goes away.
        UErrorCode ignored = U_ZERO_ERROR;
        UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
        ubrk_setUText(it, empty, &ignored);
        utext_close(ut);
        utext_close(empty);
    }
    if (bounds_.back() != text.size()) {
        // ICU unavailable or failed: fall back to one character per byte so matching still ends.
        bounds_.assign(1, 0);
        for (std::size_t i = 0; i < text.size(); ++i)
            bounds_.push_back(static_cast<std::uint32_t>(i + 1));
    }
}

std::size_t GraphemeClusters::indexAtOffset(std::size_t byteOffset) const {
    if (byteOffset > text_.size()) return npos;
    if (reverse_.empty()) {
        reverse_.assign(text_.size() + 1, 0);
        for (std::size_t i = 0; i < bounds_.size(); ++i)
            reverse_[bounds_[i]] = static_cast<std::uint32_t>(i + 1);
    }
    std::uint32_t v = reverse_[byteOffset];
    return v == 0 ? npos : v - 1;
}

bool GraphemeClusters::asciiValue(std::string_view character, std::uint8_t* value) {
    if (character.size() == 1 && static_cast<unsigned char>(character[0]) < 0x80) {
        if (value) *value = static_cast<std::uint8_t>(character[0]);
        return true;
    }
    if (character == "\r\n") {
        if (value) *value = 10;
        return true;
    }
    return false;
}

}  // namespace rozuri
