#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace foundation {

// An absolute URL, kept as its percent-encoded text. File URLs hold an absolute path and read as
// "file:///...". JSON form: the absolute string.
class URL {
  public:
    // The file URL for `path`, percent-encoded. A relative path is made absolute against the
    // current directory; an existing directory gets a trailing slash. The path is cut at a NUL.
    static URL fileURL(std::string path);
    // Parses absolute URL text ("file:///a%20b.png", "https://host/x?y"). Needs a scheme; rejects
    // control characters and malformed percent escapes; spaces, non-ASCII bytes and the other
    // characters a URL may not hold are percent-encoded. "file:" URLs must carry an absolute
    // path, with an empty or "localhost" host, and no encoded NUL.
    static std::optional<URL> fromString(std::string text);

    // The percent-encoded text.
    const std::string& absoluteString() const { return text_; }
    std::string description() const { return text_; }
    // Lower-case scheme, e.g. "file", "https".
    std::string scheme() const;
    // The host part (decoded) or empty.
    std::string host() const;
    // The decoded path ("/a b.png"); empty when the URL has none. A trailing slash is dropped
    // except for the root.
    std::string path() const;
    bool isFileURL() const;
    // Last path segment, decoded ("a b.png"); "/" for the root; empty when no path.
    std::string lastPathComponent() const;
    // Text after the last '.' of the last component (not counting a leading dot), else empty.
    std::string pathExtension() const;
    // The URL one level up, with a trailing slash ("file:///a/b.png" -> "file:///a/"); the root
    // stays the root. Query and fragment are dropped.
    URL deletingLastPathComponent() const;

    friend bool operator==(const URL&, const URL&) = default;

  private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

// The decoded form of a percent-encoded string; nullopt on a malformed escape.
std::optional<std::string> percentDecode(const std::string& text);
// Percent-encodes every byte outside the unreserved set and `allowed`.
std::string percentEncode(const std::string& text, const std::string& allowed = "/");

}  // namespace foundation

// JSON form: the absolute string. Reading throws nlohmann::json::type_error for a non-string and
// nlohmann::json::other_error for text that is not a URL.
template <>
struct nlohmann::adl_serializer<foundation::URL> {
    static foundation::URL from_json(const nlohmann::json& json);
    static void to_json(nlohmann::json& json, const foundation::URL& url);
};

template <>
struct std::hash<foundation::URL> {
    std::size_t operator()(const foundation::URL& url) const noexcept {
        return std::hash<std::string>{}(url.absoluteString());
    }
};
