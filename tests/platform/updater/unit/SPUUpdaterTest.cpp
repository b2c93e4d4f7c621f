#include "platform/updater/SPUUpdater.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "platform/updater/SPUStandardUpdaterController.h"
#include "platform/updater/SPUStandardUserDriverDelegate.h"

namespace {

using updater::SPUUpdater;
using updater::UpdateCheckResult;
using Kind = updater::UpdateCheckResult::Kind;

struct CountingDelegate : updater::SPUStandardUserDriverDelegate {
    int sessionsFinished = 0;
    void standardUserDriverWillFinishUpdateSession() override { ++sessionsFinished; }
};

class UpdaterTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    updater::UpdaterConfiguration configuration(QString version = "1.0.0") {
        updater::UpdaterConfiguration c;
        c.settingsPath = settingsPath();
        c.currentVersion = version;
        c.timeout = std::chrono::milliseconds(300);
        c.showsDialogs = false;
        return c;
    }
    QString settingsPath() const { return dir_.path() + "/mantleshade/updater.json"; }

    void writeSettings(const QByteArray& bytes) {
        QDir().mkpath(dir_.path() + "/mantleshade");
        QFile f(settingsPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QJsonObject readSettings() {
        QFile f(settingsPath());
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    QString writeFeed(const QByteArray& body) {
        const QString path = dir_.path() + "/feed.json";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(body);
        return QUrl::fromLocalFile(path).toString();
    }
    void useFeed(const QString& url) {
        writeSettings(QJsonDocument(QJsonObject{{"feedURL", url}}).toJson());
    }

    // Runs one check and answers its result.
    UpdateCheckResult check(SPUUpdater& u) {
        QSignalSpy spy(&u, &SPUUpdater::updateCheckFinished);
        u.checkForUpdates();
        EXPECT_TRUE(spy.count() > 0 || spy.wait(5000));
        if (spy.isEmpty()) return {};
        return spy.takeFirst().at(0).value<UpdateCheckResult>();
    }

    QTemporaryDir dir_;
    CountingDelegate delegate_;
};

TEST(UpdaterVersions, ComparesDottedNumbers) {
    struct Case {
        const char* a;
        const char* b;
        std::optional<int> expected;
    };
    const std::vector<Case> cases = {
        {"1.0.0", "1.0.0", 0},
        {"1.0", "1.0.0", 0},
        {"1.10", "1.9", 1},
        {"1.9", "1.10", -1},
        {"2", "10", -1},
        {"01.2", "1.2", 0},
        {"1.0.1", "1.0", 1},
        {"99999999999999999999.1", "99999999999999999998.9", 1},
        {"1.a", "1.0", std::nullopt},
        {"", "1.0", std::nullopt},
        {"1..2", "1.0", std::nullopt},
        {"1.0", "-1", std::nullopt},
        {"1.0 ", "1.0", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SPUUpdater::compareVersions(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    }
}

TEST(UpdaterFeed, EvaluatesFeedBodies) {
    struct Case {
        QByteArray body;
        Kind kind;
        QString latest;
    };
    const std::vector<Case> cases = {
        {R"({"version":"1.2.0"})", Kind::updateAvailable, "1.2.0"},
        {R"({"version":"1.0"})", Kind::upToDate, "1.0"},
        {R"({"version":"0.9.9"})", Kind::upToDate, "0.9.9"},
        {R"({"version":1.2})", Kind::failed, ""},
        {R"({"version":"next"})", Kind::failed, ""},
        {R"(["1.2.0"])", Kind::failed, ""},
        {"not json", Kind::failed, ""},
        {"", Kind::failed, ""},
        {QByteArray(2 << 20, ' '), Kind::failed, ""},
    };
    for (const Case& c : cases) {
        const UpdateCheckResult r = SPUUpdater::evaluateFeed(c.body, "1.0.0");
        EXPECT_EQ(r.kind, c.kind) << c.body.left(40).toStdString();
        EXPECT_EQ(r.latestVersion, c.latest) << c.body.left(40).toStdString();
        EXPECT_FALSE(r.message.isEmpty());
    }
    const auto withPage =
        SPUUpdater::evaluateFeed(R"({"version":"2.0","url":"https://example.org/get"})", "1.0.0");
    EXPECT_TRUE(withPage.message.contains("https://example.org/get"))
        << withPage.message.toStdString();
}

TEST_F(UpdaterTest, SettingsDefaultOffAndPersistInOwnFile) {
    {
        SPUUpdater u(configuration(), &delegate_);
        EXPECT_FALSE(u.automaticallyChecksForUpdates());
        EXPECT_FALSE(u.automaticallyDownloadsUpdates());
        EXPECT_FALSE(QFile::exists(settingsPath())) << "reading the settings wrote a file";
        QSignalSpy checks(&u, &SPUUpdater::automaticallyChecksForUpdatesChanged);
        u.setAutomaticallyChecksForUpdates(true);
        u.setAutomaticallyChecksForUpdates(true);
        u.setAutomaticallyDownloadsUpdates(true);
        EXPECT_EQ(checks.count(), 1);
    }
    const QJsonObject stored = readSettings();
    EXPECT_EQ(stored.value("automaticallyChecksForUpdates"), QJsonValue(true));
    EXPECT_EQ(stored.value("automaticallyDownloadsUpdates"), QJsonValue(true));

    SPUUpdater again(configuration(), &delegate_);
    EXPECT_TRUE(again.automaticallyChecksForUpdates());
    EXPECT_TRUE(again.automaticallyDownloadsUpdates());
}

TEST_F(UpdaterTest, WritingSettingsKeepsTheFeed) {
    useFeed("https://example.org/feed.json");
    SPUUpdater u(configuration(), &delegate_);
    EXPECT_EQ(u.feedURL(), QUrl("https://example.org/feed.json"));
    u.setAutomaticallyDownloadsUpdates(true);
    EXPECT_EQ(readSettings().value("feedURL").toString(), "https://example.org/feed.json");
}

TEST_F(UpdaterTest, CorruptSettingsAreKeptAside) {
    writeSettings("{ not json");
    SPUUpdater u(configuration(), &delegate_);
    EXPECT_FALSE(u.automaticallyChecksForUpdates());
    const QStringList aside =
        QDir(dir_.path() + "/mantleshade").entryList({"updater.json.corrupt-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir_.path() + "/mantleshade/" + aside.front());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "{ not json");
}

// A hand-edited check time beyond any date is ignored, not converted (undefined behaviour).
TEST_F(UpdaterTest, LastCheckTimesOutsideTheCalendarAreIgnored) {
    for (double seconds : {1e300, -1e300, 1.7e308}) {
        writeSettings(QJsonDocument(QJsonObject{{"lastCheckTime", seconds}}).toJson());
        SPUUpdater u(configuration(), &delegate_);
        EXPECT_FALSE(u.lastUpdateCheckDate().has_value()) << seconds;
    }
    writeSettings(QJsonDocument(QJsonObject{{"lastCheckTime", 1e9}}).toJson());
    SPUUpdater u(configuration(), &delegate_);
    ASSERT_TRUE(u.lastUpdateCheckDate().has_value());
    EXPECT_EQ(u.lastUpdateCheckDate()->toSecsSinceEpoch(), 1000000000);
}

TEST_F(UpdaterTest, CanCheckFollowsStartAndChecks) {
    SPUUpdater u(configuration(), &delegate_);
    std::vector<bool> seen;
    QObject context;
    u.observeCanCheckForUpdates(&context, [&](bool v) { seen.push_back(v); });
    EXPECT_EQ(seen, std::vector<bool>{false}) << "the current value arrives at once";

    u.checkForUpdates();  // not started: nothing happens
    EXPECT_EQ(delegate_.sessionsFinished, 0);

    ASSERT_TRUE(u.startUpdater());
    ASSERT_TRUE(u.startUpdater());
    EXPECT_TRUE(u.canCheckForUpdates());
    EXPECT_EQ(check(u).kind, Kind::noFeedConfigured);
    EXPECT_EQ((std::vector<bool>{false, true, false, true}), seen);
    EXPECT_EQ(delegate_.sessionsFinished, 1);
    EXPECT_FALSE(u.lastUpdateCheckDate().has_value());
}

TEST_F(UpdaterTest, BadRunningVersionRefusesToStart) {
    SPUUpdater u(configuration("dev"), &delegate_);
    foundation::Error error;
    EXPECT_FALSE(u.startUpdater(&error));
    EXPECT_FALSE(u.canCheckForUpdates());
    EXPECT_NE(error.localizedDescription().find("\"dev\""), std::string::npos);
}

TEST_F(UpdaterTest, ChecksAFeedFromItsURL) {
    struct Case {
        QByteArray body;
        Kind kind;
    };
    const std::vector<Case> cases = {
        {R"({"version":"1.1.0"})", Kind::updateAvailable},
        {R"({"version":"1.0.0"})", Kind::upToDate},
        {R"(<rss/>)", Kind::failed},
    };
    for (const Case& c : cases) {
        useFeed(writeFeed(c.body));
        SPUUpdater u(configuration(), &delegate_);
        ASSERT_TRUE(u.startUpdater());
        const int before = delegate_.sessionsFinished;
        EXPECT_EQ(check(u).kind, c.kind) << c.body.toStdString();
        EXPECT_EQ(delegate_.sessionsFinished, before + 1);
        EXPECT_TRUE(u.canCheckForUpdates());
        EXPECT_TRUE(u.lastUpdateCheckDate().has_value());
        EXPECT_TRUE(readSettings().value("lastCheckTime").isDouble());
    }
}

TEST_F(UpdaterTest, MissingFeedFileFails) {
    useFeed(QUrl::fromLocalFile(dir_.path() + "/nowhere.json").toString());
    SPUUpdater u(configuration(), &delegate_);
    ASSERT_TRUE(u.startUpdater());
    EXPECT_EQ(check(u).kind, Kind::failed);
}

TEST_F(UpdaterTest, SilentServerTimesOut) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    std::vector<std::unique_ptr<QTcpSocket>> held;  // accepted and never answered
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (server.hasPendingConnections()) held.emplace_back(server.nextPendingConnection());
    });
    useFeed(QString("http://127.0.0.1:%1/feed.json").arg(server.serverPort()));
    SPUUpdater u(configuration(), &delegate_);
    ASSERT_TRUE(u.startUpdater());

    QSignalSpy spy(&u, &SPUUpdater::updateCheckFinished);
    u.checkForUpdates();
    EXPECT_FALSE(u.canCheckForUpdates());
    u.checkForUpdates();  // ignored while the first runs
    ASSERT_TRUE(spy.wait(10000));
    const auto result = spy.takeFirst().at(0).value<UpdateCheckResult>();
    EXPECT_EQ(result.kind, Kind::failed);
    EXPECT_TRUE(result.message.contains("in time")) << result.message.toStdString();
    QTest::qWait(50);
    EXPECT_TRUE(spy.isEmpty());
    EXPECT_TRUE(u.canCheckForUpdates());
}

TEST_F(UpdaterTest, UserCheckShowsADialogAndEndsTheSessionWhenDismissed) {
    auto c = configuration();
    c.showsDialogs = true;
    updater::SPUStandardUpdaterController controller(true, &delegate_, c);
    controller.checkForUpdates();

    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
            }
            return box != nullptr;
        },
        5000));
    EXPECT_EQ(box->text(), "No update feed is configured.");
    EXPECT_FALSE(controller.updater().canCheckForUpdates()) << "the session lasts while shown";
    EXPECT_EQ(delegate_.sessionsFinished, 0);
    box->accept();
    EXPECT_EQ(delegate_.sessionsFinished, 1);
    EXPECT_TRUE(controller.updater().canCheckForUpdates());
}

TEST_F(UpdaterTest, AutomaticCheckRunsOnItsSchedule) {
    // A scheduled check ends a session (closing the covers) only when it showed the user
    // something: an available update with dialogs on.
    struct Case {
        QByteArray feed;
        bool dialogs;
        Kind kind;
        int sessions;
    };
    const std::vector<Case> cases = {
        {R"({"version":"0.1"})", false, Kind::upToDate, 0},
        {R"({"version":"0.1"})", true, Kind::upToDate, 0},
        {R"(not a feed)", true, Kind::failed, 0},
        {R"({"version":"9.0"})", false, Kind::updateAvailable, 0},
        {R"({"version":"9.0"})", true, Kind::updateAvailable, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.feed.toStdString() + (k.dialogs ? " with dialogs" : ""));
        useFeed(writeFeed(k.feed));
        auto c = configuration();
        c.checkInterval = std::chrono::milliseconds(20);
        c.showsDialogs = k.dialogs;
        CountingDelegate delegate;
        SPUUpdater u(c, &delegate);
        u.setAutomaticallyChecksForUpdates(true);
        QSignalSpy spy(&u, &SPUUpdater::updateCheckFinished);
        ASSERT_TRUE(u.startUpdater());
        ASSERT_TRUE(spy.wait(5000));
        u.setAutomaticallyChecksForUpdates(false);
        EXPECT_EQ(spy.takeFirst().at(0).value<UpdateCheckResult>().kind, k.kind);
        if (k.dialogs && k.kind == Kind::updateAvailable) {
            QMessageBox* box = nullptr;
            ASSERT_TRUE(QTest::qWaitFor(
                [&] {
                    for (QWidget* w : QApplication::topLevelWidgets()) {
                        if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible()) box = b;
                    }
                    return box != nullptr;
                },
                5000));
            box->accept();
        }
        EXPECT_EQ(delegate.sessionsFinished, k.sessions);
        EXPECT_TRUE(u.canCheckForUpdates());
        QTest::qWait(1);  // dismissed dialogs are released
    }
}

}  // namespace
