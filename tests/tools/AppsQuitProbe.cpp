// Quits the way the application does while an app action is under way: the
// window has let the model go, the quit clean-up waits for the workers, and
// the application object goes with the action's answer still in its queue.
// Exits 0; a hang is what the test that runs it looks for.
//
// With "--save FOLDER" the action is a Save APK whose copy is still running
// when the clean-up stops it; exits 3 when something is left in FOLDER.
#include "AppsModel.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>

namespace {

// An adb that names one package file and copies it for ever, having written
// a part of it.
QString slowCopyingAdb(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("adb"));
    QFile script(path);
    script.open(QIODevice::WriteOnly);
    script.write("#!/bin/sh\n"
                 "case \"$3\" in\n"
                 "  shell) echo package:/data/app/base.apk ;;\n"
                 "  pull) printf 'PK part of a package' > \"$5\"; exec sleep 60 ;;\n"
                 "esac\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const InstalledApp notes {QStringLiteral("com.example.notes"), QStringLiteral("2.3.1"), std::nullopt, false};
    if (argc == 3 && QByteArray(argv[1]) == "--save") {
        const QString folder = QString::fromLocal8Bit(argv[2]);
        QTemporaryDir tools;
        {
            const std::shared_ptr<AppsModel> model =
                AppsModel::make(ADB(slowCopyingAdb(tools)), QStringLiteral("serial"), QStringLiteral("Phone"));
            model->saveAPK(notes, folder);
            QDeadlineTimer started(10000);
            while (QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot) && !started.hasExpired())
                QThread::msleep(20);
        }
        if (!WorkerPool::shared().shutdown(std::chrono::seconds(10)))
            return 2;
        return QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot) ? 0 : 3;
    }
    {
        // Any program stands in for adb: the action only has to end.
        const std::shared_ptr<AppsModel> model =
            AppsModel::make(ADB(QStringLiteral("/bin/true")), QStringLiteral("serial"), QStringLiteral("Phone"));
        model->forceStop(notes);
    }
    return WorkerPool::shared().shutdown(std::chrono::seconds(10)) ? 0 : 2;
}
