#include "FileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

namespace FileManager {

void reveal(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    QStringList uris;
    for (const QString& path : paths)
        uris.append(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto openFolders = [paths] {
        QSet<QString> opened;
        for (const QString& path : paths) {
            const QString folder = QFileInfo(path).absolutePath();
            if (!opened.contains(folder)) {
                opened.insert(folder);
                QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
            }
        }
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolders();
        return;
    }
    // Asked without waiting: the window stays responsive while the file manager starts.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, qApp, [openFolders](QDBusPendingCallWatcher* done) {
        if (done->isError())
            openFolders();
        done->deleteLater();
    });
}

} // namespace FileManager
