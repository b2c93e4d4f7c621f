#include "platform/updater/UpdaterConfiguration.h"

#include <QCoreApplication>
#include <QDir>

namespace updater {

UpdaterConfiguration UpdaterConfiguration::standard() {
    UpdaterConfiguration configuration;
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.config";
    configuration.settingsPath = base + "/mantleshade/updater.json";
    configuration.currentVersion = QCoreApplication::applicationVersion();
    return configuration;
}

}  // namespace updater
