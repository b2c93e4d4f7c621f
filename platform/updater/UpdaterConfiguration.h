#pragma once

#include <QString>
#include <chrono>

namespace updater {

// Where the updater keeps its settings and what it compares a feed against.
struct UpdaterConfiguration {
    // The updater's own settings file: "automaticallyChecksForUpdates",
    // "automaticallyDownloadsUpdates", "feedURL" (text) and "lastCheckTime" (seconds since 1970).
    QString settingsPath;
    // The running version, dotted numbers such as "1.0.0".
    QString currentVersion;
    // A feed fetch that takes longer fails.
    std::chrono::milliseconds timeout{15000};
    // Between automatic checks while automatic checking is on.
    std::chrono::milliseconds checkInterval{std::chrono::hours(24)};
    // False: results are only reported through signals, no dialog is shown (tests, headless).
    bool showsDialogs = true;

    // $XDG_CONFIG_HOME/mantleshade/updater.json (~/.config when unset), beside the defaults file;
    // the version is QCoreApplication::applicationVersion().
    static UpdaterConfiguration standard();
};

}  // namespace updater
