#include "platform/updater/SPUUpdater.h"

#include <cmath>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <climits>
#include <cstdio>

#include "platform/updater/SPUStandardUserDriverDelegate.h"

namespace updater {

namespace {

constexpr const char* kChecksKey = "automaticallyChecksForUpdates";
constexpr const char* kDownloadsKey = "automaticallyDownloadsUpdates";
constexpr const char* kFeedKey = "feedURL";
constexpr const char* kLastCheckKey = "lastCheckTime";
constexpr const char* kErrorDomain = "UpdaterErrorDomain";
// A feed is a few hundred bytes; anything this large is not one.
constexpr qint64 kMaxFeedBytes = 1 << 20;

void logLine(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Dotted non-negative numbers; leading zeros dropped so that any length compares exactly.
std::optional<QStringList> versionParts(const QString& version) {
    if (version.isEmpty()) return std::nullopt;
    QStringList parts = version.split('.');
    for (QString& part : parts) {
        if (part.isEmpty()) return std::nullopt;
        for (QChar c : part)
            if (c < '0' || c > '9') return std::nullopt;
        while (part.size() > 1 && part.front() == '0') part.remove(0, 1);
    }
    return parts;
}

}  // namespace

SPUUpdater::SPUUpdater(UpdaterConfiguration configuration,
                       SPUStandardUserDriverDelegate* userDriverDelegate, QObject* parent)
    : QObject(parent),
      configuration_(std::move(configuration)),
      userDriverDelegate_(userDriverDelegate) {
    timeoutTimer_.setSingleShot(true);
    scheduleTimer_.setSingleShot(true);
    connect(&timeoutTimer_, &QTimer::timeout, this, [this] {
        if (reply_) reply_->abort();
    });
    connect(&scheduleTimer_, &QTimer::timeout, this, [this] { checkForUpdatesInBackground(); });
    loadSettings();
}

SPUUpdater::~SPUUpdater() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
    }
}

bool SPUUpdater::startUpdater(foundation::Error* error) {
    if (started_) return true;
    if (!versionParts(configuration_.currentVersion)) {
        foundation::setError(
            error, foundation::Error(kErrorDomain, 1,
                                     {{foundation::Error::kLocalizedDescriptionKey,
                                       "The updater could not start: the running version \"" +
                                           configuration_.currentVersion.toStdString() +
                                           "\" is not a dotted version number."}}));
        return false;
    }
    started_ = true;
    emit canCheckForUpdatesChanged(canCheckForUpdates());
    scheduleNextCheck();
    return true;
}

void SPUUpdater::setAutomaticallyChecksForUpdates(bool value) {
    if (value == automaticallyChecks_) return;
    automaticallyChecks_ = value;
    saveSettings();
    scheduleNextCheck();
    emit automaticallyChecksForUpdatesChanged(value);
}

void SPUUpdater::setAutomaticallyDownloadsUpdates(bool value) {
    if (value == automaticallyDownloads_) return;
    automaticallyDownloads_ = value;
    saveSettings();
    emit automaticallyDownloadsUpdatesChanged(value);
}

QMetaObject::Connection SPUUpdater::observeCanCheckForUpdates(QObject* context,
                                                              std::function<void(bool)> observer) {
    if (!observer) return {};
    observer(canCheckForUpdates());
    return connect(this, &SPUUpdater::canCheckForUpdatesChanged, context ? context : this,
                   [observer = std::move(observer)](bool value) { observer(value); });
}

void SPUUpdater::checkForUpdates() {
    beginCheck(true);
}

void SPUUpdater::checkForUpdatesInBackground() {
    beginCheck(false);
}

void SPUUpdater::setChecking(bool checking) {
    const bool before = canCheckForUpdates();
    checking_ = checking;
    if (before != canCheckForUpdates()) emit canCheckForUpdatesChanged(canCheckForUpdates());
}

void SPUUpdater::beginCheck(bool userInitiated) {
    if (!canCheckForUpdates()) return;
    setChecking(true);
    if (feedURL_.isEmpty()) {
        finishCheck(
            {UpdateCheckResult::Kind::noFeedConfigured, {}, "No update feed is configured."},
            userInitiated);
        return;
    }
    if (!network_) network_ = new QNetworkAccessManager(this);
    QNetworkRequest request(feedURL_);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network_->get(request);
    reply_ = reply;
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [reply, tooLarge](qint64 received, qint64) {
                if (received > kMaxFeedBytes && !*tooLarge) {
                    *tooLarge = true;
                    reply->abort();
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, tooLarge, userInitiated] {
        const bool timedOut = !timeoutTimer_.isActive();
        timeoutTimer_.stop();
        reply->deleteLater();
        reply_ = nullptr;
        UpdateCheckResult result;
        if (*tooLarge) {
            result = {UpdateCheckResult::Kind::failed,
                      {},
                      "The update check failed: the feed is too large."};
        } else if (reply->error() == QNetworkReply::OperationCanceledError && timedOut) {
            result = {UpdateCheckResult::Kind::failed,
                      {},
                      "The update check failed: the server did not answer in time."};
        } else if (reply->error() != QNetworkReply::NoError) {
            result = {UpdateCheckResult::Kind::failed,
                      {},
                      "The update check failed: " + reply->errorString()};
        } else {
            result = evaluateFeed(reply->read(kMaxFeedBytes + 1), configuration_.currentVersion);
        }
        finishCheck(result, userInitiated);
    });
    timeoutTimer_.start(
        static_cast<int>(std::clamp<long long>(configuration_.timeout.count(), 1, INT_MAX)));
}

void SPUUpdater::finishCheck(const UpdateCheckResult& result, bool userInitiated) {
    if (result.kind != UpdateCheckResult::Kind::noFeedConfigured) {
        lastCheck_ = QDateTime::currentDateTimeUtc();
        saveSettings();
    }
    emit updateCheckFinished(result);

    const bool show = configuration_.showsDialogs &&
                      (userInitiated || result.kind == UpdateCheckResult::Kind::updateAvailable);
    // A scheduled check that found nothing and showed nothing is no session the user saw: it
    // must not close the covers of a running show.
    const bool session = userInitiated || show;
    auto endSession = [this, session] {
        if (session && userDriverDelegate_) {
            userDriverDelegate_->standardUserDriverWillFinishUpdateSession();
        }
        setChecking(false);
        scheduleNextCheck();
    };
    if (!show) {
        endSession();
        return;
    }
    auto* box =
        new QMessageBox(result.kind == UpdateCheckResult::Kind::failed ? QMessageBox::Warning
                                                                       : QMessageBox::Information,
                        "Software Update", result.message, QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, endSession);
    box->show();
    box->raise();
    box->activateWindow();
}

void SPUUpdater::scheduleNextCheck() {
    scheduleTimer_.stop();
    if (!started_ || !automaticallyChecks_) return;
    const qint64 interval = configuration_.checkInterval.count();
    qint64 wait = interval;
    if (lastCheck_) {
        const qint64 since = lastCheck_->msecsTo(QDateTime::currentDateTimeUtc());
        wait = since < 0 ? interval : std::max<qint64>(0, interval - since);
    }
    scheduleTimer_.start(static_cast<int>(std::clamp<qint64>(wait, 0, INT_MAX)));
}

UpdateCheckResult SPUUpdater::evaluateFeed(const QByteArray& body, const QString& currentVersion) {
    const UpdateCheckResult unreadable{UpdateCheckResult::Kind::failed,
                                       {},
                                       "The update check failed: the feed could not be read."};
    if (body.size() > kMaxFeedBytes) return unreadable;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) return unreadable;
    const QJsonObject feed = document.object();
    const QJsonValue version = feed.value("version");
    if (!version.isString()) return unreadable;
    const QString latest = version.toString();
    const std::optional<int> order = compareVersions(latest, currentVersion);
    if (!order) return unreadable;
    if (*order <= 0) {
        return {
            UpdateCheckResult::Kind::upToDate, latest,
            "You're up to date: version " + currentVersion + " is the newest version available."};
    }
    QString message = "Version " + latest + " is available (you have " + currentVersion + ").";
    const QUrl page(feed.value("url").toString());
    if (page.isValid() && !page.isRelative()) message += " Get it from " + page.toString() + ".";
    return {UpdateCheckResult::Kind::updateAvailable, latest, message};
}

std::optional<int> SPUUpdater::compareVersions(const QString& a, const QString& b) {
    const auto left = versionParts(a);
    const auto right = versionParts(b);
    if (!left || !right) return std::nullopt;
    const qsizetype count = std::max(left->size(), right->size());
    for (qsizetype i = 0; i < count; ++i) {
        const QString l = i < left->size() ? left->at(i) : QStringLiteral("0");
        const QString r = i < right->size() ? right->at(i) : QStringLiteral("0");
        if (l.size() != r.size()) return l.size() < r.size() ? -1 : 1;
        const int c = l.compare(r);
        if (c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

void SPUUpdater::loadSettings() {
    if (configuration_.settingsPath.isEmpty()) return;
    QFile file(configuration_.settingsPath);
    if (!file.exists()) return;
    if (!file.open(QIODevice::ReadOnly)) {
        logLine("Updater settings could not be read: " + configuration_.settingsPath + ": " +
                file.errorString());
        return;
    }
    const QByteArray bytes = file.read(kMaxFeedBytes + 1);
    file.close();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        // Keep the unreadable file for the user instead of overwriting it with defaults later.
        const QString aside = configuration_.settingsPath + ".corrupt-" +
                              QDateTime::currentDateTimeUtc().toString("yyyyMMdd'T'HHmmss'Z'");
        QFile::rename(configuration_.settingsPath, aside);
        logLine("Updater settings are not valid JSON; kept aside as " + aside);
        return;
    }
    const QJsonObject settings = document.object();
    automaticallyChecks_ = settings.value(kChecksKey).toBool(false);
    automaticallyDownloads_ = settings.value(kDownloadsKey).toBool(false);
    const QUrl feed(settings.value(kFeedKey).toString(), QUrl::StrictMode);
    if (feed.isValid() && !feed.isRelative()) feedURL_ = feed;
    const QJsonValue last = settings.value(kLastCheckKey);
    // A hand-edited time outside what a date can hold is ignored rather than converted.
    constexpr double kLatestSeconds = 253402300799.0;  // 9999-12-31T23:59:59Z
    if (last.isDouble() && std::fabs(last.toDouble()) <= kLatestSeconds) {
        lastCheck_ = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(last.toDouble()), Qt::UTC);
    }
}

void SPUUpdater::saveSettings() {
    if (configuration_.settingsPath.isEmpty()) return;
    // Keep keys this updater does not write (the feed URL in particular).
    QJsonObject settings;
    {
        QFile file(configuration_.settingsPath);
        if (file.open(QIODevice::ReadOnly)) {
            const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxFeedBytes + 1));
            if (document.isObject()) settings = document.object();
        }
    }
    settings.insert(kChecksKey, automaticallyChecks_);
    settings.insert(kDownloadsKey, automaticallyDownloads_);
    if (lastCheck_) settings.insert(kLastCheckKey, double(lastCheck_->toSecsSinceEpoch()));

    QDir().mkpath(QFileInfo(configuration_.settingsPath).absolutePath());
    QSaveFile out(configuration_.settingsPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(settings).toJson()) < 0 ||
        !out.commit()) {
        logLine("Updater settings could not be written: " + configuration_.settingsPath + ": " +
                out.errorString());
    }
}

}  // namespace updater
