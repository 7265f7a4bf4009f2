// Changing folders, installing, screen captures and drags out through the
// browser model over the real adb tool and the fake phone: names with spaces
// and quotes arrive as they are, the install reaches the phone as adb sends
// it, captures land under free names, and a dragged entry is pulled when the
// receiver asks.

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace browsertest;

namespace {

class FileOpsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString why;
        ASSERT_TRUE(harness.start(&why)) << why.toStdString();
        BrowserModel::Collaborators collaborators;
        collaborators.adb = makeSystemAdbSource();
        collaborators.mtp = std::make_shared<FakeMtpSource>();
        collaborators.settings = &settings;
        collaborators.clock = std::make_shared<ManualClock>();
        collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
        collaborators.desktop = desktop;
        model = std::make_unique<BrowserModel>(std::move(collaborators));
        bool passed = false;
        model->refreshDevices([&] { passed = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return passed && model->readyDevice() && !model->isLoading(); },
                                           std::chrono::seconds(20)));
        model->setSaveFolder(saved.path());
    }
    void TearDown() override
    {
        model.reset();
        harness.stop();
    }
    void finish()
    {
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->job(); }, std::chrono::seconds(60)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->isLoading(); }, std::chrono::seconds(20)));
    }
    QString error() const { return model->errorMessage().value_or(QString()); }
    QString stored(const QString& name) const { return QDir(harness.storage()).filePath(name); }
    QString phoneName() const { return model->readyDevice()->model; }

    FakePhoneHarness harness;
    QTemporaryDir settingsFolder, saved;
    QSettings settings{settingsFolder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> model;
};

TEST_F(FileOpsEndToEnd, NamesWithSpacesAndQuotesAreCreatedRenamedAndDeleted)
{
    const QString folderName = QStringLiteral("Trip 'May' \"24\"");
    const QString renamed = QStringLiteral("It's done.txt");
    QFile(stored(QStringLiteral("old name.txt"))).open(QIODevice::WriteOnly);
    model->reload();
    finish();
    model->newFolder(QStringLiteral(" ") + folderName + QStringLiteral("\n"));
    finish();
    EXPECT_TRUE(QFileInfo(stored(folderName)).isDir());
    EXPECT_EQ(model->selection(), QSet<QString>{folderName});

    model->rename(file(QStringLiteral("old name.txt")), renamed);
    finish();
    EXPECT_TRUE(QFileInfo::exists(stored(renamed)));
    EXPECT_FALSE(QFileInfo::exists(stored(QStringLiteral("old name.txt"))));

    desktop->answer = 0;
    model->remove({folder(folderName), file(renamed)});
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_FALSE(QFileInfo::exists(stored(folderName)));
    EXPECT_FALSE(QFileInfo::exists(stored(renamed)));
    EXPECT_TRUE(QFileInfo::exists(harness.storage()));
}

TEST_F(FileOpsEndToEnd, AnInstallReachesThePhoneAsOneStreamedPackage)
{
    // A name with spaces, a quote and a non-ASCII letter is one argument.
    const QString package = saved.filePath(QStringLiteral("Café 'Game' v2.apk"));
    QFile apk(package);
    ASSERT_TRUE(apk.open(QIODevice::WriteOnly));
    apk.write("PK\x03\x04 not really an app");
    apk.close();
    const QString streamed = QStringLiteral("cmd package 'install' '-r' -S ") + QString::number(apk.size());
    harness.setReply(streamed, {"Success\n"});
    model->install({QUrl::fromLocalFile(package)});
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_TRUE(harness.receivedCommands().contains(QStringLiteral("exec:") + streamed)) << harness.receivedCommands().join(QLatin1Char('|')).toStdString();

    harness.setReply(streamed, {"Failure [INSTALL_FAILED_VERSION_DOWNGRADE]\n"});
    model->install({QUrl::fromLocalFile(package)});
    finish();
    EXPECT_TRUE(error().contains(QStringLiteral("Failure [INSTALL_FAILED_VERSION_DOWNGRADE]"))) << error().toStdString();
}

TEST_F(FileOpsEndToEnd, ScreenshotsTakeAFreeNameAndANonPictureIsExplained)
{
    // Every name the next seconds could give is taken: the capture numbers its own.
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 30; ++second) {
        QFile(saved.filePath(BrowserModel::captureName(phoneName(), QStringLiteral("Screenshot"), now.addSecs(second),
                                                       QStringLiteral("png"))))
            .open(QIODevice::WriteOnly);
    }
    model->takeScreenshot();
    finish();
    ASSERT_EQ(desktop->revealed.size(), 1) << error().toStdString();
    const QString shot = desktop->revealed.first().first();
    EXPECT_TRUE(shot.startsWith(saved.filePath(phoneName() + QStringLiteral(" Screenshot "))));
    EXPECT_TRUE(shot.endsWith(QStringLiteral(" 2.png")));
    QFile picture(shot);
    ASSERT_TRUE(picture.open(QIODevice::ReadOnly));
    EXPECT_TRUE(picture.readAll().startsWith("\x89PNG"));

    for (const QString& command : {QStringLiteral("screencap -p"), QStringLiteral("screencap '-p'")})
        harness.setReply(command, {"screencap: permission denied\n"});
    model->takeScreenshot();
    finish();
    EXPECT_EQ(error(), QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked."));
    EXPECT_EQ(desktop->revealed.size(), 1);
}

TEST_F(FileOpsEndToEnd, ARecordingIsCopiedRemovedFromThePhoneAndShown)
{
    model->toggleRecording();
    ASSERT_TRUE(model->recordingStarted()) << error().toStdString();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return harness.receivedCommands().contains(
            QStringLiteral("screenrecord --bit-rate 12000000 /sdcard/vantelorquist-recording.mp4"));
    }));
    model->toggleRecording();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !desktop->revealed.isEmpty(); }, std::chrono::seconds(30)))
        << error().toStdString();
    finish();
    const QString video = desktop->revealed.first().first();
    EXPECT_TRUE(video.startsWith(saved.filePath(phoneName() + QStringLiteral(" Recording "))));
    EXPECT_TRUE(video.endsWith(QStringLiteral(".mp4")));
    QFile copied(video);
    ASSERT_TRUE(copied.open(QIODevice::ReadOnly));
    EXPECT_EQ(copied.readAll(), "fake video");
    EXPECT_FALSE(QFileInfo::exists(stored(QStringLiteral("vantelorquist-recording.mp4"))));
    EXPECT_FALSE(model->recordingStarted());
}

TEST_F(FileOpsEndToEnd, ADraggedEntryIsPulledOnceWhenAsked)
{
    QDir(harness.storage()).mkpath(QStringLiteral("Album/inner"));
    QFile note(stored(QStringLiteral("note.txt")));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.write("hello");
    note.close();
    for (const RemoteEntry& entry : {file(QStringLiteral("note.txt")), folder(QStringLiteral("Album"))}) {
        const std::unique_ptr<QMimeData> drag(model->itemProvider(entry));
        EXPECT_TRUE(drag->hasUrls());
        const QList<QUrl> first = drag->urls();
        ASSERT_EQ(first.size(), 1) << entry.name.toStdString();
        EXPECT_EQ(drag->urls(), first); // asked again: the same copy
        const QFileInfo pulled(first.first().toLocalFile());
        EXPECT_EQ(pulled.fileName(), entry.name);
        EXPECT_EQ(pulled.isDir(), entry.isDirectory);
        EXPECT_EQ(pulled.dir().dirName().size(), 36);
        if (entry.isDirectory) {
            EXPECT_TRUE(QFileInfo(pulled.filePath() + QStringLiteral("/inner")).isDir());
        }
    }
    const int pulls = int(harness.receivedCommands().filter(QStringLiteral("sync:RECV /sdcard/note.txt")).size());
    EXPECT_EQ(pulls, 1);

    // A missing item gives nothing, and no message.
    const std::unique_ptr<QMimeData> gone(model->itemProvider(file(QStringLiteral("gone.txt"))));
    EXPECT_TRUE(gone->urls().isEmpty());
    EXPECT_EQ(error(), QString());
}

} // namespace
