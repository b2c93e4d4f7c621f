#include "app/PreferencesTexts.h"

#include <map>

#include "platform/foundation/Localization.h"

namespace mantleshade {

namespace {

const std::map<std::string, std::string>& englishTable() {
    static const std::map<std::string, std::string> table = {
        {"Show icon in Dock", "Show the Preferences window in the taskbar"},
        {"Lock Out - Disable all interactions with the Mac",
         "Lock Out - Disable all interactions with the computer"},
        {"Lock Out disables all keyboard and mouse input while the overlay is displayed. Control "
         "of the Mac can only be restored by sending an OSC message or using the keyboard shortcut "
         "**Command ⌘ + Shift ⇧ + H**.",
         "Lock Out disables all keyboard and mouse input while the overlay is displayed. Control "
         "of the computer can only be restored by sending an OSC message or using the keyboard "
         "shortcut **Ctrl + Shift ⇧ + H**."},
        {"Lock Out requires Accessibility permission from macOS. You will be prompted to grant "
         "this permission the first time the feature is used.",
         "Lock Out holds the keyboard through the X11 display server; no permission needs to be "
         "granted. It is not available on Wayland."},
        {"Accessibility required", "Needs an X11 session"},
    };
    return table;
}

}  // namespace

std::string PreferencesTexts::english(const std::string& key) {
    auto it = englishTable().find(key);
    return it == englishTable().end() ? key : it->second;
}

QString PreferencesTexts::text(const std::string& key) {
    return QString::fromStdString(foundation::localizedString(kTable, key, english(key)));
}

QString PreferencesTexts::inlineMarkdownToHtml(const QString& text) {
    QString html;
    qsizetype i = 0;
    while (i < text.size()) {
        bool handled = false;
        for (const QString& marker : {QStringLiteral("**"), QStringLiteral("*")}) {
            if (!text.mid(i).startsWith(marker)) continue;
            const qsizetype end = text.indexOf(marker, i + marker.size());
            if (end <= i + marker.size()) continue;  // unpaired or empty: shown as typed
            const QString tag = marker.size() == 2 ? "b" : "i";
            html += "<" + tag + ">" +
                    text.mid(i + marker.size(), end - i - marker.size()).toHtmlEscaped() + "</" +
                    tag + ">";
            i = end + marker.size();
            handled = true;
            break;
        }
        if (handled) continue;
        html += QString(text[i]).toHtmlEscaped();
        ++i;
    }
    return html;
}

QString PreferencesTexts::text(const std::string& key, const QString& argument) {
    return text(key) + argument;
}

}  // namespace mantleshade
