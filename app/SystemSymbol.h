#pragma once

#include <QIcon>
#include <string>

namespace mantleshade {

// The symbols the Preferences window shows ("photo", "video", "laptopcomputer", "display",
// "folder", "trash", "film"): the icon of the same meaning from the desktop's freedesktop theme,
// or the one shipped with the application when the theme has none.
class SystemSymbol {
  public:
    static QIcon icon(const std::string& name);
    // The freedesktop icon name used for `name`; empty for an unknown symbol.
    static QString themeName(const std::string& name);
    // The shipped icon for `name` (always present for the known symbols).
    static QIcon fallback(const std::string& name);
};

}  // namespace mantleshade
