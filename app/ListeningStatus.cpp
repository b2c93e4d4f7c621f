#include "app/ListeningStatus.h"

#include "app/PreferencesTexts.h"

namespace mantleshade {

ListeningStatus::Color ListeningStatus::listeningStatusColor(
    bool serverIsListening, std::optional<std::int64_t> currentListeningPort, std::int64_t port) {
    if (!serverIsListening) return Color::red;
    if (currentListeningPort && *currentListeningPort == port) return Color::green;
    return Color::orange;
}

bool ListeningStatus::applyEnabled(std::optional<std::int64_t> currentListeningPort,
                                   std::int64_t port) {
    return !(currentListeningPort && *currentListeningPort == port);
}

QLocale ListeningStatus::portLocale(QLocale locale) {
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

QString ListeningStatus::formatPort(std::int64_t port, const QLocale& locale) {
    return portLocale(locale).toString(static_cast<qlonglong>(port));
}

std::optional<std::int64_t> ListeningStatus::parsePort(const QString& text, const QLocale& locale) {
    const QString digits = text.trimmed();
    // Digits alone: a sign or a separator would change the number the user sees into another.
    if (digits.isEmpty() || digits.size() > 16) return std::nullopt;
    for (const QChar c : digits)
        if (!c.isDigit()) return std::nullopt;
    bool ok = false;
    const qlonglong value = portLocale(locale).toLongLong(digits, &ok);
    if (!ok || value < 0 || value > 65535) return std::nullopt;
    return value;
}

QString ListeningStatus::refusedPortHint() {
    return PreferencesTexts::text("Not a port: enter a whole number from 0 to 65535.");
}

QString ListeningStatus::statusText(std::int64_t port, const QLocale& locale) {
    return PreferencesTexts::text("Listening on Port ", formatPort(port, locale));
}

}  // namespace mantleshade
