#include "platform/foundation/TextTransforms.h"

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/translit.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>

#include <map>
#include <memory>

namespace foundation {

namespace {

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Transliterators are costly to build and not meant for concurrent use: one per thread and ID.
icu::Transliterator* transliterator(std::string_view id, bool reverse) {
    thread_local std::map<std::pair<std::string, bool>, std::unique_ptr<icu::Transliterator>> cache;
    auto key = std::make_pair(std::string(id), reverse);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second.get();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
        toUnicode(id), reverse ? UTRANS_REVERSE : UTRANS_FORWARD, status));
    if (U_FAILURE(status)) t.reset();
    return cache.emplace(std::move(key), std::move(t)).first->second.get();
}

icu::BreakIterator* characterBreakIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) it.reset();
        return it;
    }();
    return iterator.get();
}

// Byte length of the UTF-8 sequence at `offset`, 1 for a malformed one.
std::size_t sequenceLength(std::string_view text, std::size_t offset) {
    std::size_t start = offset;
    nextUnicodeScalar(text, offset);
    return offset - start;
}

}  // namespace

std::optional<std::string> applyingTransform(std::string_view text, std::string_view transformID,
                                             bool reverse) {
    icu::Transliterator* t = transliterator(transformID, reverse);
    if (!t) return std::nullopt;
    icu::UnicodeString u = toUnicode(text);
    t->transliterate(u);
    return toUTF8(u);
}

std::vector<std::string_view> graphemeClusters(std::string_view text) {
    std::vector<std::string_view> out;
    if (isASCII(text)) {
        out.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            std::size_t n = (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            out.push_back(text.substr(i, n));
            i += n - 1;
        }
        return out;
    }
    icu::BreakIterator* it = characterBreakIterator();
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    bool done = false;
    if (it && ut && U_SUCCESS(status)) {
        it->setText(ut, status);
        if (U_SUCCESS(status)) {
            std::size_t previous = 0;
            for (int32_t b = it->next(); b != icu::BreakIterator::DONE; b = it->next()) {
                auto end = static_cast<std::size_t>(b);
                if (end <= previous || end > text.size()) break;
                out.push_back(text.substr(previous, end - previous));
                previous = end;
            }
            done = previous == text.size();
        }
        // Detach the iterator before the UText goes away.
        UErrorCode ignored = U_ZERO_ERROR;
        UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
        it->setText(empty, ignored);
        utext_close(empty);
    }
    if (ut) utext_close(ut);
    if (!done) {
        // No ICU: one character per scalar, so that callers still end.
        out.clear();
        for (std::size_t i = 0; i < text.size();) {
            std::size_t n = sequenceLength(text, i);
            out.push_back(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string_view firstGraphemeCluster(std::string_view text) {
    if (text.empty()) return text;
    auto c0 = static_cast<unsigned char>(text[0]);
    if (c0 < 0x80 && (text.size() == 1 || static_cast<unsigned char>(text[1]) < 0x80)) {
        // An ASCII byte followed by ASCII: a cluster of one byte, or CR LF.
        if (c0 == '\r' && text.size() > 1 && text[1] == '\n') return text.substr(0, 2);
        return text.substr(0, 1);
    }
    // A combining mark may follow: look at a bounded prefix only.
    std::size_t limit = std::min<std::size_t>(text.size(), 256);
    std::size_t end = limit;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    auto clusters = graphemeClusters(text.substr(0, end));
    return clusters.empty() ? text.substr(0, 0) : clusters.front();
}

bool isSingleGraphemeCluster(std::string_view text) {
    if (text.empty()) return false;
    if (text.size() == 1) return true;
    if (isASCII(text)) return text == "\r\n";
    auto clusters = graphemeClusters(text);
    return clusters.size() == 1;
}

char32_t nextUnicodeScalar(std::string_view text, std::size_t& offset) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char c = byte(offset);
    if (c < 0x80) {
        ++offset;
        return c;
    }
    std::size_t n = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 1, value = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 2, value = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 3, value = c & 0x07, minimum = 0x10000;
    } else {
        ++offset;
        return 0xFFFD;
    }
    if (offset + n >= text.size()) {
        ++offset;
        return 0xFFFD;
    }
    for (std::size_t i = 1; i <= n; ++i) {
        unsigned char cc = byte(offset + i);
        if ((cc & 0xC0) != 0x80) {
            ++offset;
            return 0xFFFD;
        }
        value = (value << 6) | (cc & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++offset;
        return 0xFFFD;
    }
    offset += n + 1;
    return value;
}

std::vector<char32_t> unicodeScalars(std::string_view text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out.push_back(nextUnicodeScalar(text, i));
    return out;
}

void appendUTF8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool canonicallyEquivalent(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isASCII(a) && isASCII(b)) return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status) || !nfd) return false;
    icu::UnicodeString na = nfd->normalize(toUnicode(a), status);
    icu::UnicodeString nb = nfd->normalize(toUnicode(b), status);
    return U_SUCCESS(status) && na == nb;
}

std::string canonicalComposition(std::string_view text) {
    if (isASCII(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || !nfc) return std::string(text);
    icu::UnicodeString n = nfc->normalize(toUnicode(text), status);
    if (U_FAILURE(status)) return std::string(text);
    return toUTF8(n);
}

bool isWhitespaceOrNewline(char32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85) return true;
    if (c < 0x80) return false;
    int8_t type = u_charType(static_cast<UChar32>(c));
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::optional<std::vector<std::uint8_t>> encodeASCII(std::string_view text) {
    if (!isASCII(text)) return std::nullopt;
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::optional<std::string> decodeASCII(std::span<const std::uint8_t> bytes) {
    for (auto b : bytes)
        if (b >= 0x80) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

namespace {
int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::optional<std::string> decodeNonLossyASCII(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size());
    char32_t pendingHigh = 0;  // 0: none
    for (std::size_t i = 0; i < bytes.size();) {
        std::uint8_t b = bytes[i];
        if (b >= 0x80) return std::nullopt;
        if (b != '\\') {
            if (pendingHigh != 0) return std::nullopt;
            out.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        char32_t unit = 0;
        if (i + 5 < bytes.size() && bytes[i + 1] == 'u') {
            int v = 0;
            for (std::size_t k = 2; k < 6; ++k) {
                int d = hexDigit(bytes[i + k]);
                if (d < 0) return std::nullopt;
                v = v * 16 + d;
            }
            unit = static_cast<char32_t>(v);
            i += 6;
        } else if (i + 3 < bytes.size() && bytes[i + 1] >= '0' && bytes[i + 1] <= '3' &&
                   bytes[i + 2] >= '0' && bytes[i + 2] <= '7' && bytes[i + 3] >= '0' &&
                   bytes[i + 3] <= '7') {
            unit = static_cast<char32_t>((bytes[i + 1] - '0') * 64 + (bytes[i + 2] - '0') * 8 +
                                         (bytes[i + 3] - '0'));
            i += 4;
        } else {
            return std::nullopt;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (pendingHigh != 0) return std::nullopt;
            pendingHigh = unit;
            continue;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (pendingHigh == 0) return std::nullopt;
            unit = 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00);
            pendingHigh = 0;
        } else if (pendingHigh != 0) {
            return std::nullopt;
        }
        appendUTF8(out, unit);
    }
    if (pendingHigh != 0) return std::nullopt;
    return out;
}

std::vector<std::uint8_t> encodeNonLossyASCII(std::string_view text) {
    std::vector<std::uint8_t> out;
    static const char* hex = "0123456789abcdef";
    auto unit = [&](char32_t u) {
        out.push_back('\\');
        out.push_back('u');
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(static_cast<std::uint8_t>(hex[(u >> shift) & 0xF]));
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = nextUnicodeScalar(text, i);
        if (c == '\\') {
            out.insert(out.end(), {'\\', '1', '3', '4'});
        } else if (c < 0x80) {
            out.push_back(static_cast<std::uint8_t>(c));
        } else if (c < 0x10000) {
            unit(c);
        } else {
            char32_t v = c - 0x10000;
            unit(0xD800 + (v >> 10));
            unit(0xDC00 + (v & 0x3FF));
        }
    }
    return out;
}

bool isValidUTF8(std::span<const std::uint8_t> bytes) {
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t start = i;
        char32_t c = nextUnicodeScalar(text, i);
        if (c == 0xFFFD && !(i - start == 3 && text.substr(start, 3) == "\xEF\xBF\xBD"))
            return false;
    }
    return true;
}

}  // namespace foundation
