#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>

#include "platform/foundation/Error.h"
#include "platform/updater/UpdateCheckResult.h"
#include "platform/updater/UpdaterConfiguration.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace updater {

class SPUStandardUserDriverDelegate;

// The updater: its two settings (stored in its own file), whether a check may start now, and the
// check itself, which fetches the configured feed and reports whether a newer version exists.
// It neither downloads nor installs anything. Main thread only.
//
// The feed is a JSON object: {"version": "1.2.0"} with an optional "url" (a page to get it from).
class SPUUpdater : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates WRITE
                   setAutomaticallyDownloadsUpdates NOTIFY automaticallyDownloadsUpdatesChanged)

  public:
    SPUUpdater(UpdaterConfiguration configuration,
               SPUStandardUserDriverDelegate* userDriverDelegate, QObject* parent = nullptr);
    ~SPUUpdater() override;

    // Reads the settings and allows checks; schedules automatic checks when they are on.
    // Starting twice does nothing more.
    bool startUpdater(foundation::Error* error = nullptr);
    bool isStarted() const { return started_; }

    bool automaticallyChecksForUpdates() const { return automaticallyChecks_; }
    void setAutomaticallyChecksForUpdates(bool value);
    bool automaticallyDownloadsUpdates() const { return automaticallyDownloads_; }
    void setAutomaticallyDownloadsUpdates(bool value);

    // True once started and while no check is running.
    bool canCheckForUpdates() const { return started_ && !checking_; }

    // Calls `observer` at once with the current value, then at every change, for as long as
    // `context` lives (or until the returned connection is disconnected).
    QMetaObject::Connection observeCanCheckForUpdates(QObject* context,
                                                      std::function<void(bool)> observer);

    // A check the user asked for: its result is shown in a small dialog (when dialogs are on)
    // and reported by updateCheckFinished. Does nothing while canCheckForUpdates is false.
    void checkForUpdates();
    // A check of the schedule: a dialog only when an update is available.
    void checkForUpdatesInBackground();

    // The feed from the settings file; empty when none is configured or it is not a valid URL.
    QUrl feedURL() const { return feedURL_; }
    std::optional<QDateTime> lastUpdateCheckDate() const { return lastCheck_; }
    const UpdaterConfiguration& configuration() const { return configuration_; }

    // Parses a feed body against `currentVersion`; never fails, a bad feed is Kind::failed.
    static UpdateCheckResult evaluateFeed(const QByteArray& body, const QString& currentVersion);
    // Compares dotted versions ("1.10" > "1.9", "1.0" == "1.0.0"); empty when either does not
    // parse as dotted non-negative numbers.
    static std::optional<int> compareVersions(const QString& a, const QString& b);

  signals:
    void canCheckForUpdatesChanged(bool canCheck);
    void automaticallyChecksForUpdatesChanged(bool value);
    void automaticallyDownloadsUpdatesChanged(bool value);
    void updateCheckFinished(const updater::UpdateCheckResult& result);

  private:
    void loadSettings();
    void saveSettings();
    void setChecking(bool checking);
    void beginCheck(bool userInitiated);
    void finishCheck(const UpdateCheckResult& result, bool userInitiated);
    void scheduleNextCheck();
    void showResult(const UpdateCheckResult& result);

    UpdaterConfiguration configuration_;
    SPUStandardUserDriverDelegate* userDriverDelegate_;
    bool started_ = false;
    bool checking_ = false;
    bool automaticallyChecks_ = false;
    bool automaticallyDownloads_ = false;
    QUrl feedURL_;
    std::optional<QDateTime> lastCheck_;
    QNetworkAccessManager* network_ = nullptr;
    QPointer<QNetworkReply> reply_;
    QTimer timeoutTimer_;
    QTimer scheduleTimer_;
};

}  // namespace updater
