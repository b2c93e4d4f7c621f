#include "platform/desktop/FileReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QStringList>

namespace desktop {

QString FileReveal::fileURI(const std::string& absolutePath) {
    return QUrl::fromLocalFile(QString::fromStdString(absolutePath)).toString(QUrl::FullyEncoded);
}

QUrl FileReveal::folderURL(const std::string& absolutePath) {
    return QUrl::fromLocalFile(QFileInfo(QString::fromStdString(absolutePath)).absolutePath());
}

void FileReveal::reveal(const std::string& absolutePath) {
    const QUrl folder = folderURL(absolutePath);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{fileURI(absolutePath)} << QString();
    // Bounded: a bus without a file manager answers with an error, a hung one times out.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [folder](QDBusPendingCallWatcher* w) {
                         if (w->isError()) QDesktopServices::openUrl(folder);
                         w->deleteLater();
                     });
}

}  // namespace desktop
