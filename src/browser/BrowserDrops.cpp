#include "BrowserModel.h"

#include "ADBError.h"
#include "BrowserPaths.h"
#include "Paths.h"

#include <QFileInfo>

namespace {

bool isPackage(const QUrl& url)
{
    return QFileInfo(url.path()).suffix().toLower() == QLatin1StringView("apk");
}

bool readyOverAdb(const std::optional<Device>& device)
{
    return device && device->isReady() && device->transport == Device::Transport::adb;
}

// As a person reads it: a byte that isn't text shows as U+FFFD.
QString lastComponent(const QUrl& url)
{
    return paths::shown(browserpaths::lastName(paths::localPath(url)));
}

} // namespace

void BrowserModel::installAPK()
{
    const std::optional<Shown> asked = shown();
    Desktop::Panel panel;
    panel.prompt = QStringLiteral("Install");
    // Any letter case: "Game.APK" is a package too.
    const QStringList chosen = m_desktop->chooseFiles(panel, {QStringLiteral("*.[aA][pP][kK]")});
    if (chosen.isEmpty())
        return;
    if (!asked)
        return;
    QList<QUrl> urls;
    for (const QString& path : chosen)
        urls.append(paths::localUrl(path));
    installOn(*asked, urls);
}

void BrowserModel::handleDrop(const QList<QUrl>& urls, const std::optional<QString>& folder)
{
    if (const std::optional<Shown> asked = shown())
        handleDrop(*asked, urls, folder);
}

void BrowserModel::handleDrop(const Shown& asked, const QList<QUrl>& urls, const std::optional<QString>& folder)
{
    // A folder dropped on was named on the phone shown at the drop; the folder
    // shown then is where a drop on the file area goes.
    if (!stillShown(asked, !folder, QStringLiteral("copied")))
        return;
    QList<QUrl> packages;
    for (const QUrl& url : urls) {
        if (isPackage(url))
            packages.append(url);
    }
    if (packages.isEmpty() || packages.size() != urls.size() || !readyOverAdb(selectedDevice())) {
        uploadTo(asked, urls, folder);
        return;
    }
    Desktop::Question question;
    question.message = packages.size() == 1
                           ? QStringLiteral("Install “") + lastComponent(packages.first()) + QStringLiteral("”?")
                           : QStringLiteral("Install ") + QString::number(packages.size()) + QStringLiteral(" apps?");
    question.informative = QStringLiteral("You can install the app on the phone, or just copy the APK file.");
    question.buttons = {QStringLiteral("Install"), QStringLiteral("Copy File"), QStringLiteral("Cancel")};
    const std::optional<int> answer = m_desktop->ask(question);
    if (answer == 0)
        installOn(asked, packages);
    else if (answer == 1)
        uploadTo(asked, urls, folder);
}

void BrowserModel::install(const QList<QUrl>& urls)
{
    if (const std::optional<Shown> asked = shown())
        installOn(*asked, urls);
}

void BrowserModel::installOn(const Shown& asked, const QList<QUrl>& urls)
{
    if (!stillShown(asked, false, QStringLiteral("installed")))
        return;
    const std::optional<Device> device = selectedDevice();
    if (!m_adb || !readyOverAdb(device) || urls.isEmpty())
        return;
    const ADB adb = *m_adb;
    const QString serial = device->serial;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    startJob(QStringLiteral("Installing…"), true, false, [=](JobContext& job) {
        const int count = int(urls.size());
        for (int index = 0; index < count; ++index) {
            const QUrl& url = urls[index];
            job.setItem(QStringLiteral("Installing “") + lastComponent(url) + QStringLiteral("” (")
                        + QString::number(index + 1) + QStringLiteral(" of ") + QString::number(count)
                        + QStringLiteral(")…"));
            // One argument, exactly as the file is named: no shell between.
            QString output;
            try {
                output = source->run(
                    adb, {QStringLiteral("-s"), serial, QStringLiteral("install"), QStringLiteral("-r"), paths::localPath(url)},
                    job.cancel());
            } catch (...) {
                // No clear answer (adb ended, the connection dropped, a Stop):
                // the phone may have installed it, so its lists are read again.
                job.post([serial](BrowserModel& model) { Q_EMIT model.appsInstalled(serial); });
                throw;
            }
            if (output.contains(QLatin1StringView("Failure")))
                throw ADBError::failed(ADB::clean(output));
            job.post([serial](BrowserModel& model) { Q_EMIT model.appsInstalled(serial); });
            // adb 29 ends an install whose connection dropped with status 0
            // and no word: neither done nor refused.
            if (output.trimmed().isEmpty())
                throw ADBError::failed(ADB::clean(QStringLiteral("failed to install ") + paths::localPath(url)
                                                      + QStringLiteral(": "),
                                                  ADB::Named{{paths::localPath(url)}, {}}));
        }
    });
}
