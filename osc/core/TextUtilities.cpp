#include "osc/core/TextUtilities.h"

#include <cstring>

#include "platform/foundation/TextTransforms.h"

namespace rozuri {

bool isASCIICharacter(std::string_view c) {
    return (c.size() == 1 && static_cast<unsigned char>(c[0]) < 0x80) || c == "\r\n";
}
bool isASCIICharacter(const Character& c) {
    return isASCIICharacter(std::string_view(c.text()));
}

bool isASCIIText(std::string_view text) {
    // Every byte below 0x80 means every character is one ASCII scalar or CR LF. Eight bytes at
    // a time: the decoder asks this of every address, tag string and text argument.
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t high = 0;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    if (n >= 4) {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        high |= word;
        p += 4;
        n -= 4;
    }
    for (; n > 0; ++p, --n) high |= static_cast<unsigned char>(*p);
    return (high & 0x8080808080808080ULL) == 0;
}

bool isASCIIPrintable(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

std::optional<char32_t> firstUnicodeScalar(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::size_t offset = 0;
    return foundation::nextUnicodeScalar(text, offset);
}

bool allUnicodeScalarsSatisfy(std::string_view text,
                              const std::function<bool(char32_t)>& predicate) {
    for (std::size_t i = 0; i < text.size();)
        if (!predicate(foundation::nextUnicodeScalar(text, i))) return false;
    return true;
}

bool consistsOfCharacters(std::string_view text, const CharacterSet& set) {
    return allUnicodeScalarsSatisfy(text, [&](char32_t c) { return set.contains(c); });
}

namespace {
CharacterSet unionSet(const CharacterSet& set, std::span<const CharacterSet> more) {
    CharacterSet all = set;
    for (const auto& s : more) all += s;
    return all;
}
CharacterSet setOf(std::string_view text) {
    CharacterSet set;
    for (std::size_t i = 0; i < text.size();) set.insert(foundation::nextUnicodeScalar(text, i));
    return set;
}
}  // namespace

bool allConsistOfCharacters(std::span<const std::string> texts, const CharacterSet& set,
                            std::span<const CharacterSet> more) {
    CharacterSet all = unionSet(set, more);
    for (const auto& t : texts)
        if (!consistsOfCharacters(t, all)) return false;
    return true;
}
bool allConsistOfCharacters(std::span<const std::string> texts, std::string_view in) {
    return allConsistOfCharacters(texts, setOf(in));
}
bool anyConsistsOfCharacters(std::span<const std::string> texts, const CharacterSet& set,
                             std::span<const CharacterSet> more) {
    CharacterSet all = unionSet(set, more);
    for (const auto& t : texts)
        if (consistsOfCharacters(t, all)) return true;
    return false;
}
bool anyConsistsOfCharacters(std::span<const std::string> texts, std::string_view in) {
    return anyConsistsOfCharacters(texts, setOf(in));
}

std::string trimmingWhitespaceAndNewlines(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t next = begin;
        if (!foundation::isWhitespaceOrNewline(foundation::nextUnicodeScalar(text, next))) break;
        begin = next;
    }
    std::size_t end = begin;
    for (std::size_t i = begin; i < text.size();) {
        bool white = foundation::isWhitespaceOrNewline(foundation::nextUnicodeScalar(text, i));
        if (!white) end = i;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return out;
}

bool hasCharacterPrefix(std::string_view slice, std::string_view prefix) {
    if (prefix.empty()) return true;
    if (isASCIIText(slice) && isASCIIText(prefix)) {
        if (!slice.starts_with(prefix)) return false;
        // CR LF is one character: a prefix ending in CR does not match the CR of a CR LF.
        return !(prefix.back() == '\r' && slice.size() > prefix.size() &&
                 slice[prefix.size()] == '\n');
    }
    auto a = foundation::graphemeClusters(slice);
    auto b = foundation::graphemeClusters(prefix);
    if (b.size() > a.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (!foundation::canonicallyEquivalent(a[i], b[i])) return false;
    return true;
}

bool hasCharacterSuffix(std::string_view slice, std::string_view suffix) {
    if (suffix.empty()) return true;
    if (isASCIIText(slice) && isASCIIText(suffix)) {
        if (!slice.ends_with(suffix)) return false;
        std::size_t start = slice.size() - suffix.size();
        return !(suffix.front() == '\n' && start > 0 && slice[start - 1] == '\r');
    }
    auto a = foundation::graphemeClusters(slice);
    auto b = foundation::graphemeClusters(suffix);
    if (b.size() > a.size()) return false;
    for (std::size_t i = 0; i < b.size(); ++i)
        if (!foundation::canonicallyEquivalent(a[a.size() - 1 - i], b[b.size() - 1 - i]))
            return false;
    return true;
}

std::vector<std::string_view> addressPathComponents(std::string_view address) {
    std::vector<std::string_view> out;
    if (address.empty()) return out;
    std::string_view rest = address;
    if (hasCharacterPrefix(rest, "/")) rest.remove_prefix(1);
    if (hasCharacterSuffix(rest, "/")) rest.remove_suffix(1);
    if (rest.empty()) return out;
    if (!isASCIIText(rest)) {
        // A '/' carrying a combining mark is another character, not a separator.
        std::size_t start = 0;
        std::size_t offset = 0;
        for (std::string_view c : foundation::graphemeClusters(rest)) {
            if (c == "/") {
                out.push_back(rest.substr(start, offset - start));
                start = offset + 1;
            }
            offset += c.size();
        }
        out.push_back(rest.substr(start));
        return out;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = rest.find('/', start);
        if (slash == std::string_view::npos) {
            out.push_back(rest.substr(start));
            break;
        }
        out.push_back(rest.substr(start, slash - start));
        start = slash + 1;
    }
    return out;
}

bool dataHasPrefix(DataView bytes, DataView prefix) {
    if (bytes.size() < prefix.size()) return false;
    return std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

Data dataFromByte(std::uint8_t byte) {
    return Data{byte};
}
Data dataFromBytes(std::span<const std::uint8_t> bytes) {
    return Data(bytes.begin(), bytes.end());
}

}  // namespace rozuri
