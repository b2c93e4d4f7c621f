#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

namespace mantleshade {

// The OSC section's status logic: the dot's colour, whether "Apply" may restart, and the port's
// text in the user's locale without grouping.
class ListeningStatus {
  public:
    enum class Color { red = 0, green = 1, orange = 2 };

    static Color listeningStatusColor(bool serverIsListening,
                                      std::optional<std::int64_t> currentListeningPort,
                                      std::int64_t port);
    // Disabled while the manager listens on exactly the stored port.
    static bool applyEnabled(std::optional<std::int64_t> currentListeningPort, std::int64_t port);

    // The locale's integer format, never grouped.
    static QLocale portLocale(QLocale locale = QLocale());
    static QString formatPort(std::int64_t port, const QLocale& locale = QLocale());
    // A port typed in the locale's digits alone (no sign, no separator): 0...65535, else nullopt.
    static std::optional<std::int64_t> parsePort(const QString& text,
                                                 const QLocale& locale = QLocale());
    // The one-line hint shown under a port field whose text is refused.
    static QString refusedPortHint();
    // "Listening on Port 5000"
    static QString statusText(std::int64_t port, const QLocale& locale = QLocale());
};

}  // namespace mantleshade
