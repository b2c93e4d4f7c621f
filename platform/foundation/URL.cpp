#include "platform/foundation/URL.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include <nlohmann/json.hpp>

namespace foundation {

namespace {

bool isAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
bool isHex(unsigned char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(unsigned char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}
bool isUnreserved(unsigned char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

std::string lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Characters a URL may carry as they are: unreserved, reserved and '%' (checked separately).
bool isURLCharacter(unsigned char c) {
    return isUnreserved(c) || std::strchr(":/?#[]@!$&'()*+,;=%", c) != nullptr;
}

const char* const kPathAllowed = "!$&'()*+,/:;=@";

struct Parts {
    std::string_view scheme;
    bool hasAuthority = false;
    std::string_view authority;
    std::string_view path;
    std::string_view rest;  // "?query#fragment", as it stands
};

Parts split(std::string_view text) {
    Parts parts;
    auto colon = text.find(':');
    parts.scheme = text.substr(0, colon);
    std::string_view after = text.substr(colon + 1);
    if (after.starts_with("//")) {
        parts.hasAuthority = true;
        after.remove_prefix(2);
        auto end = after.find_first_of("/?#");
        parts.authority = after.substr(0, end);
        after = end == std::string_view::npos ? std::string_view() : after.substr(end);
    }
    auto end = after.find_first_of("?#");
    parts.path = after.substr(0, end);
    parts.rest = end == std::string_view::npos ? std::string_view() : after.substr(end);
    return parts;
}

}  // namespace

std::optional<std::string> percentDecode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '%') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        unsigned char h = static_cast<unsigned char>(text[i + 1]);
        unsigned char l = static_cast<unsigned char>(text[i + 2]);
        if (!isHex(h) || !isHex(l)) return std::nullopt;
        out.push_back(static_cast<char>(hexValue(h) << 4 | hexValue(l)));
        i += 2;
    }
    return out;
}

std::string percentEncode(const std::string& text, const std::string& allowed) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (isUnreserved(c) ||
            (c != 0 && allowed.find(static_cast<char>(c)) != std::string::npos)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 15]);
        }
    }
    return out;
}

URL URL::fileURL(std::string path) {
    if (auto nul = path.find('\0'); nul != std::string::npos) path.resize(nul);
    if (path.empty() || path.front() != '/') {
        std::error_code ec;
        auto cwd = std::filesystem::current_path(ec);
        std::string base = ec ? std::string("/") : cwd.string();
        if (base.empty() || base.back() != '/') base.push_back('/');
        path = base + path;
    }
    if (path.back() != '/') {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) path.push_back('/');
    }
    return URL("file://" + percentEncode(path, kPathAllowed));
}

std::optional<URL> URL::fromString(std::string text) {
    // Scheme: a letter, then letters, digits, '+', '-', '.', then ':'.
    auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    if (!isAlpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    std::string normal;
    normal.reserve(text.size());
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return std::nullopt;
        if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            if (!isHex(static_cast<unsigned char>(text[i + 1])) ||
                !isHex(static_cast<unsigned char>(text[i + 2])))
                return std::nullopt;
            normal.push_back('%');
            continue;
        }
        if (isURLCharacter(c)) {
            normal.push_back(static_cast<char>(c));
        } else {
            normal.push_back('%');
            normal.push_back(kDigits[c >> 4]);
            normal.push_back(kDigits[c & 15]);
        }
    }
    URL url(std::move(normal));
    if (url.isFileURL()) {
        Parts parts = split(url.text_);
        if (parts.hasAuthority && !parts.authority.empty() &&
            lower(std::string(parts.authority)) != "localhost")
            return std::nullopt;
        if (!parts.path.starts_with("/")) return std::nullopt;
        auto decoded = percentDecode(std::string(parts.path));
        if (!decoded || decoded->find('\0') != std::string::npos) return std::nullopt;
    }
    return url;
}

std::string URL::scheme() const {
    return lower(std::string(split(text_).scheme));
}

std::string URL::host() const {
    Parts parts = split(text_);
    std::string_view authority = parts.authority;
    if (auto at = authority.rfind('@'); at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    if (authority.starts_with("[")) {
        auto close = authority.find(']');
        return std::string(authority.substr(
            1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    if (auto port = authority.rfind(':'); port != std::string_view::npos)
        authority = authority.substr(0, port);
    return percentDecode(std::string(authority)).value_or(std::string(authority));
}

bool URL::isFileURL() const {
    return scheme() == "file";
}

std::string URL::path() const {
    std::string raw(split(text_).path);
    std::string decoded = percentDecode(raw).value_or(raw);
    while (decoded.size() > 1 && decoded.back() == '/') decoded.pop_back();
    return decoded;
}

std::string URL::lastPathComponent() const {
    std::string p = path();
    if (p.empty() || p == "/") return p;
    auto slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string URL::pathExtension() const {
    std::string last = lastPathComponent();
    auto dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
    return last.substr(dot + 1);
}

URL URL::deletingLastPathComponent() const {
    Parts parts = split(text_);
    std::string_view path = parts.path;
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    std::string parent;
    if (auto slash = path.rfind('/'); slash != std::string_view::npos)
        parent = std::string(path.substr(0, slash + 1));
    std::string text(parts.scheme);
    text.push_back(':');
    if (parts.hasAuthority) {
        text += "//";
        text += parts.authority;
    }
    text += parent;
    return URL(std::move(text));
}

}  // namespace foundation

foundation::URL nlohmann::adl_serializer<foundation::URL>::from_json(const nlohmann::json& json) {
    if (!json.is_string())
        throw nlohmann::json::type_error::create(302, "URL must be a string", &json);
    const auto& text = json.get_ref<const std::string&>();
    auto parsed = foundation::URL::fromString(text);
    if (!parsed)
        throw nlohmann::json::other_error::create(501, "Invalid URL string: " + text, &json);
    return std::move(*parsed);
}

void nlohmann::adl_serializer<foundation::URL>::to_json(nlohmann::json& json,
                                                        const foundation::URL& url) {
    json = url.absoluteString();
}
