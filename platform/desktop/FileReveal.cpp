#include "platform/desktop/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace desktop {

QString FileReveal::fileURI(const std::string& absolutePath) {
    return QUrl::fromLocalFile(QString::fromStdString(absolutePath)).toString(QUrl::FullyEncoded);
}

QUrl FileReveal::folderURL(const std::string& absolutePath) {
    return QUrl::fromLocalFile(QFileInfo(QString::fromStdString(absolutePath)).absolutePath());
}

namespace {

// Opens `folder` with the desktop's handler; `onFailure` when there is none or it failed.
void openFolder(const QUrl& folder, const std::function<void()>& onFailure) {
    const QString xdgOpen = QStandardPaths::findExecutable("xdg-open");
    if (xdgOpen.isEmpty()) {
        if (!QDesktopServices::openUrl(folder) && onFailure) onFailure();
        return;
    }
    // xdg-open says by its exit status whether a handler took the folder.
    auto* process = new QProcess();
    process->setProgram(xdgOpen);
    process->setArguments({folder.toString(QUrl::FullyEncoded)});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(process, &QProcess::finished, process,
                     [process, onFailure](int code, QProcess::ExitStatus status) {
                         if ((status != QProcess::NormalExit || code != 0) && onFailure)
                             onFailure();
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, onFailure](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart) return;
                         if (onFailure) onFailure();
                         process->deleteLater();
                     });
    process->start();
}

}  // namespace

void FileReveal::reveal(const std::string& absolutePath, std::function<void()> onFailure) {
    const QUrl folder = folderURL(absolutePath);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(folder, onFailure);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{fileURI(absolutePath)} << QString();
    // Bounded: a bus without a file manager answers with an error, a hung one times out.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder, onFailure](QDBusPendingCallWatcher* w) {
                         if (w->isError()) openFolder(folder, onFailure);
                         w->deleteLater();
                     });
}

}  // namespace desktop
