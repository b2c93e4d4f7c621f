#pragma once

#include <QString>
#include <string>

namespace mantleshade {

// The Preferences window's fixed texts. Each quoted text is its own key; a translation comes
// from the process's localization provider (table "Preferences"), else the key shows as it stands.
// A few keys name another platform's keys and words; their English rendering here names the
// Linux ones instead, the keys stay unchanged.
class PreferencesTexts {
  public:
    static constexpr const char* kTable = "Preferences";

    // The text for `key`.
    static QString text(const std::string& key);
    // The text for a key with one interpolated argument ("Version " + argument).
    static QString text(const std::string& key, const QString& argument);
    // Rich text for a text with inline Markdown: "**bold**" and "*italic*" become bold and
    // italic, everything else is shown as it stands (HTML-escaped). Unpaired markers stay.
    static QString inlineMarkdownToHtml(const QString& text);
    // The English rendering of `key` when it differs from the key itself, else the key.
    static std::string english(const std::string& key);
};

}  // namespace mantleshade
