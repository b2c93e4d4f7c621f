#include "app/SystemSymbol.h"

#include <QFile>
#include <map>

// Resources in a static library must be registered by hand.
static void initPreferencesResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(preferences);
        return true;
    }();
    (void)done;
}

namespace mantleshade {

namespace {

const std::map<std::string, QString>& themeNames() {
    static const std::map<std::string, QString> names = {
        {"photo", "image-x-generic"},
        {"video", "video-x-generic"},
        {"laptopcomputer", "computer-laptop"},
        {"display", "video-display"},
        {"folder", "folder"},
        {"trash", "user-trash"},
        {"film", "applications-multimedia"},
    };
    return names;
}

}  // namespace

QString SystemSymbol::themeName(const std::string& name) {
    auto it = themeNames().find(name);
    return it == themeNames().end() ? QString() : it->second;
}

QIcon SystemSymbol::fallback(const std::string& name) {
    initPreferencesResources();
    const QString path =
        QStringLiteral(":/mantleshade/icons/%1.svg").arg(QString::fromStdString(name));
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QIcon SystemSymbol::icon(const std::string& name) {
    const QString theme = themeName(name);
    QIcon shipped = fallback(name);
    if (theme.isEmpty()) return shipped;
    return QIcon::fromTheme(theme, shipped);
}

}  // namespace mantleshade
