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
        model = newModel(makeSystemAdbSource(), std::make_shared<FakeMtpSource>(), settings, std::make_shared<ManualClock>(),
                         desktop);
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
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->job() && !model->isLoading(); }, std::chrono::seconds(60)));
    }
    QString error() const { return model->errorMessage().value_or(QString()); }
    QString stored(const QString& name) const { return QDir(harness.storage()).filePath(name); }
    void write(const QString& path, const QByteArray& data)
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(data);
    }
    QByteArray read(const QString& path)
    {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    }
    QString revealed() const { return desktop->revealed.isEmpty() ? QString() : desktop->revealed.first().first(); }
    QString capture(const QString& kind) const { return saved.filePath(model->readyDevice()->model + u' ' + kind + u' '); }

    FakePhoneHarness harness;
    QTemporaryDir settingsFolder, saved;
    QSettings settings{settingsFolder.filePath(u"settings.ini"_s), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> model;
};

TEST_F(FileOpsEndToEnd, NamesWithSpacesAndQuotesAreCreatedRenamedAndDeleted)
{
    const QString folderName = u"Trip 'May' \"24\""_s;
    const QString renamed = u"It's done.txt"_s;
    write(stored(u"old name.txt"_s), {});
    model->reload();
    finish();
    model->newFolder(folderName);
    finish();
    model->rename(file(u"old name.txt"_s), renamed);
    finish();
    EXPECT_TRUE(QFileInfo(stored(folderName)).isDir());
    EXPECT_TRUE(QFileInfo::exists(stored(renamed)));
    EXPECT_FALSE(QFileInfo::exists(stored(u"old name.txt"_s)));

    desktop->answer = 0;
    model->remove({folder(folderName), file(renamed)});
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_FALSE(QFileInfo::exists(stored(folderName)) || QFileInfo::exists(stored(renamed)));
    EXPECT_TRUE(QFileInfo::exists(harness.storage()));
}

TEST_F(FileOpsEndToEnd, AnInstallReachesThePhoneAsOneStreamedPackage)
{
    // A name with spaces, a quote and a non-ASCII letter is one argument.
    const QString package = saved.filePath(u"Café 'Game' v2.apk"_s);
    write(package, "PK\x03\x04 not really an app");
    const QString streamed = u"cmd package 'install' '-r' -S "_s + QString::number(QFileInfo(package).size());
    harness.setReply(streamed, {"Success\n"});
    model->install({QUrl::fromLocalFile(package)});
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_TRUE(harness.receivedCommands().contains(u"exec:"_s + streamed)) << harness.receivedCommands().join(u'|').toStdString();

    harness.setReply(streamed, {"Failure [INSTALL_FAILED_VERSION_DOWNGRADE]\n"});
    model->install({QUrl::fromLocalFile(package)});
    finish();
    EXPECT_TRUE(error().contains(u"Failure [INSTALL_FAILED_VERSION_DOWNGRADE]"_s)) << error().toStdString();
}

TEST_F(FileOpsEndToEnd, ScreenshotsTakeAFreeNameAndANonPictureIsExplained)
{
    // Every name the next seconds could give is taken: the capture numbers its own.
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 30; ++second)
        write(saved.filePath(BrowserModel::captureName(model->readyDevice()->model, u"Screenshot"_s, now.addSecs(second), u"png"_s)), {});
    model->takeScreenshot();
    finish();
    EXPECT_TRUE(revealed().startsWith(capture(u"Screenshot"_s)) && revealed().endsWith(u" 2.png"_s)) << error().toStdString();
    EXPECT_TRUE(read(revealed()).startsWith("\x89PNG"));

    for (const QString& command : {u"screencap -p"_s, u"screencap '-p'"_s})
        harness.setReply(command, {"screencap: permission denied\n"});
    model->takeScreenshot();
    finish();
    EXPECT_EQ(error(), u"The phone didn't return a screenshot. Make sure it's unlocked."_s);
    EXPECT_EQ(desktop->revealed.size(), 1);
}

TEST_F(FileOpsEndToEnd, ARecordingIsCopiedRemovedFromThePhoneAndShown)
{
    model->toggleRecording();
    ASSERT_TRUE(model->recordingStarted()) << error().toStdString();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return harness.receivedCommands().contains(u"screenrecord --bit-rate 12000000 /sdcard/vantelorquist-recording.mp4"_s);
    }));
    model->toggleRecording();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !desktop->revealed.isEmpty(); }, std::chrono::seconds(30)))
        << error().toStdString();
    finish();
    EXPECT_TRUE(revealed().startsWith(capture(u"Recording"_s)) && revealed().endsWith(u".mp4"_s));
    EXPECT_EQ(read(revealed()), "fake video");
    EXPECT_FALSE(QFileInfo::exists(stored(u"vantelorquist-recording.mp4"_s)));
}

TEST_F(FileOpsEndToEnd, ADraggedEntryIsPulledOnceWhenAsked)
{
    QDir(harness.storage()).mkpath(u"Album/inner"_s);
    write(stored(u"note.txt"_s), "hello");
    for (const RemoteEntry& entry : {file(u"note.txt"_s), folder(u"Album"_s)}) {
        const std::unique_ptr<QMimeData> drag(model->itemProvider(entry));
        const QList<QUrl> first = drag->urls();
        ASSERT_EQ(first.size(), 1) << entry.name.toStdString();
        EXPECT_EQ(drag->urls(), first); // asked again: the same copy
        const QFileInfo pulled(first.first().toLocalFile());
        EXPECT_EQ(pulled.fileName(), entry.name);
        EXPECT_EQ(QFileInfo(pulled.filePath() + (entry.isDirectory ? u"/inner"_s : QString())).isDir(), entry.isDirectory);
    }
    EXPECT_EQ(harness.receivedCommands().filter(u"sync:RECV /sdcard/note.txt"_s).size(), 1);

    // A missing item gives nothing, and no message.
    const std::unique_ptr<QMimeData> gone(model->itemProvider(file(u"gone.txt"_s)));
    EXPECT_TRUE(gone->urls().isEmpty());
    EXPECT_EQ(error(), QString());
}

} // namespace
