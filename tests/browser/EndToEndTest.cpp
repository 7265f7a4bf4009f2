// The browser model over the real adb tool and the fake phone, for what the
// transports' own tests cannot see: Replace merges a folder on both sides,
// Stop ends a copy without leaving adb running, an install reaches the phone
// as adb sends it, and a dragged entry is pulled when the receiver asks.

#include "BrowserFakes.h"
#include "BrowserPaths.h"
#include "FakePhoneHarness.h"
#include "Paths.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <iostream>
#include <map>

#include <csignal>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace browsertest;

namespace {

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);

void write(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(phonetest::writeFile(path, contents, stamp));
}

// Bytes that differ from one place to the next, so a part or a shifted copy shows.
QByteArray pattern(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + seed) % 251);
    return bytes;
}

// As a camera's files are: dated days before the copy.
void writeCameraFile(const QString& path, const QByteArray& contents)
{
    write(path, contents);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
}

// Every name in a folder, hidden ones included.
QStringList everything(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray read(const QString& path)
{
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

class EndToEnd : public ::testing::Test {
protected:
    explicit EndToEnd(FakePhoneHarness::Options options = {}) : harness(std::move(options)) {}

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
        model->setAskWhereToSave(false);
        model->setSaveFolder(saved.path());
    }
    void TearDown() override
    {
        model.reset();
        harness.stop();
    }
    // Waits for the job and the listing after it.
    void finish()
    {
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->job() && !model->isLoading(); }, std::chrono::seconds(60)));
    }
    QString error() const { return model->errorMessage().value_or(QString()); }
    QString stored(const QString& name) const { return QDir(harness.storage()).filePath(name); }
    std::optional<RemoteEntry> listed(const QString& name)
    {
        for (const RemoteEntry& entry : model->entries())
            if (entry.name == name)
                return entry;
        return std::nullopt;
    }

    // Collects the job's progress, for waiting until a transfer is under way.
    void watchProgress()
    {
        QObject::connect(model.get(), &BrowserModel::jobChanged, model.get(), [&] {
            if (model->job() && model->job()->progress)
                progress.append(*model->job()->progress);
        });
    }
    // Stops the job once its transfer has shown progress a few times.
    void stopUnderWay()
    {
        ASSERT_TRUE(testsupport::waitUntil([&] { return progress.size() >= 3; }, std::chrono::seconds(30)));
        model->cancelJob();
        finish();
    }

    QList<double> progress;
    FakePhoneHarness harness;
    QTemporaryDir settingsFolder, source, saved;
    QSettings settings{settingsFolder.filePath(u"settings.ini"_s), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> model;
};

TEST_F(EndToEnd, ReplaceMergesAFolderOnBothSidesAndStopLeavesNoAdbRunning)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace: folders are merged
    write(stored(u"Album/a.txt"_s), "phone");
    write(source.filePath(u"Album/sub/b.txt"_s), "computer");
    write(saved.filePath(u"Album/c.txt"_s), "kept");
    model->reload();
    finish();
    model->upload(urls({source.filePath(u"Album"_s)}));
    finish();
    ASSERT_TRUE(listed(u"Album"_s));
    model->download({*listed(u"Album"_s)});
    finish();
    EXPECT_EQ(read(stored(u"Album/a.txt"_s)), "phone");
    EXPECT_EQ(read(stored(u"Album/sub/b.txt"_s)), "computer");
    const std::pair<QString, QByteArray> local[] = {
        {u"a.txt"_s, "phone"}, {u"sub/b.txt"_s, "computer"}, {u"c.txt"_s, "kept"}};
    for (const auto& [name, contents] : local)
        EXPECT_EQ(read(saved.filePath(u"Album/"_s + name)), contents) << name.toStdString();
    EXPECT_EQ(desktop->questions.size(), 2);
    EXPECT_EQ(error(), QString());

    // A slowed copy of a new file: rising progress, then Stop.
    QList<double> progress;
    QObject::connect(model.get(), &BrowserModel::jobChanged, model.get(), [&] {
        if (model->job() && model->job()->progress)
            progress.append(*model->job()->progress);
    });
    write(stored(u"big.bin"_s), QByteArray(4 << 20, 'x'));
    model->reload();
    ASSERT_TRUE(testsupport::waitUntil([&] { return listed(u"big.bin"_s).has_value(); }));
    harness.setChunkDelay(40);
    model->download({*listed(u"big.bin"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return progress.size() >= 3; }, std::chrono::seconds(30)));
    EXPECT_LT(progress.first(), progress.last());
    model->cancelJob();
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_TRUE(testsupport::waitUntil([] { return phonetest::adbClientsWith(u"big.bin"_s).isEmpty(); },
                                       std::chrono::seconds(5)));
    EXPECT_FALSE(QFileInfo::exists(saved.filePath(u"big.bin"_s)));
}

// Through adb's own exit statuses: a recording is copied whole and removed
// from the phone; a recorder that fails at once says so and copies nothing,
// not even an older video left on the phone.
TEST_F(EndToEnd, ARecordingIsCopiedAndAFailedRecorderSaysSo)
{
    write(stored(u"vantelorquist-recording.mp4"_s), "an older video");
    const auto recordings = [&] { return QDir(saved.path()).entryList({u"* Recording *"_s}, QDir::Files | QDir::Hidden); };
    const auto record = [&] {
        model->setErrorMessage(std::nullopt);
        model->toggleRecording();
        ASSERT_TRUE(model->recordingStarted());
        model->toggleRecording();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->hasRecordingsToKeep(); }, std::chrono::seconds(30)));
        finish();
    };
    record();
    EXPECT_EQ(error(), QString());
    ASSERT_EQ(recordings().size(), 1);
    EXPECT_EQ(read(saved.filePath(recordings().first())), "fake video");
    EXPECT_EQ(QDir(harness.storage()).entryList({u"vantelorquist-recording-*"_s}), QStringList());

    write(stored(u".screenrecord-fails"_s), "");
    record();
    EXPECT_EQ(error(), u"The phone couldn't record its screen. It said: ERROR: unable to create video encoder"_s);
    EXPECT_EQ(recordings().size(), 1);
    EXPECT_EQ(read(stored(u"vantelorquist-recording.mp4"_s)), "an older video");
}

// Mended: a recorder that failed after some video (a phone whose storage
// filled) was copied and shown as a recording that ended well. The video so
// far is kept, and the phone's error told in its words.
TEST_F(EndToEnd, ARecorderThatFailsMidwayKeepsItsVideoAndSaysWhy)
{
    write(stored(u".screenrecord-fails-midway"_s), "");
    model->toggleRecording();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model->hasRecordingsToKeep(); }, std::chrono::seconds(30)));
    finish();
    EXPECT_EQ(error(), u"The screen recording ended early with an error on the phone. It said: Encoder failed (err=-28)"_s);
    ASSERT_EQ(desktop->revealed.size(), 1);
    EXPECT_EQ(read(desktop->revealed[0][0]), "fake vi");
    EXPECT_EQ(QDir(harness.storage()).entryList({u"vantelorquist-recording-*"_s}), QStringList());
}

// Mended: a screenshot whose connection dropped half-way was saved and
// shown as the screenshot. It is told, and nothing is saved or shown.
TEST_F(EndToEnd, AScreenshotCutShortIsToldNotSaved)
{
    const auto screenshot = [&] {
        model->setErrorMessage(std::nullopt);
        desktop->revealed.clear();
        model->takeScreenshot();
        finish();
    };
    screenshot();
    EXPECT_EQ(error(), QString());
    ASSERT_EQ(desktop->revealed.size(), 1);
    ASSERT_TRUE(QFile::remove(desktop->revealed[0][0]));
    const struct {
        bool thenLeave;
        QString said;
    } cases[] = {
        {false, u"The screenshot came from the phone cut short."_s},
        {true, u"The phone was disconnected before the screenshot arrived."_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.thenLeave ? "the phone then gone" : "the phone still there");
        harness.cutShells(u"screencap"_s, 40, c.thenLeave);
        screenshot();
        EXPECT_EQ(error(), c.said);
        EXPECT_TRUE(desktop->revealed.isEmpty());
        EXPECT_EQ(everything(saved.path()), QStringList());
    }
    harness.cutShells(QString());
}

// The adb child of ours whose arguments hold `text`; 0 when none runs.
pid_t childRunning(const QByteArray& text)
{
    for (const QString& entry : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        const QByteArray status = read(u"/proc/"_s + entry + u"/status"_s);
        const bool ours = status.contains("\nPPid:\t" + QByteArray::number(::getpid()) + '\n');
        if (ours && read(u"/proc/"_s + entry + u"/cmdline"_s).replace('\0', ' ').contains(text))
            return pid;
    }
    return 0;
}

// Mended: a recorder whose adb was ended from outside was copied at once,
// while the phone's recorder still wrote its closing bytes, and then the
// phone's whole video was removed.
TEST_F(EndToEnd, ARecordingWhoseAdbIsEndedByItsPidIsCopiedWholeOnceItsRecorderHasEnded)
{
    const QString lingers = stored(u".screenrecord-lingers"_s);
    write(lingers, "");
    const auto removeMark = qScopeGuard([&] { QFile::remove(lingers); });
    model->toggleRecording();
    ASSERT_TRUE(model->recordingStarted());
    pid_t client = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        client = childRunning("shell screenrecord --bit-rate");
        return client > 0 && !QDir(harness.storage()).entryList({u"vantelorquist-recording-*"_s}).isEmpty();
    }));
    ASSERT_EQ(::kill(client, SIGKILL), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model->hasRecordingsToKeep(); }, std::chrono::seconds(30)));
    finish();
    EXPECT_EQ(error(), QString());
    const QStringList saves = QDir(saved.path()).entryList({u"* Recording *"_s}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(saves.size(), 1);
    EXPECT_EQ(read(saved.filePath(saves.first())), "fake video");
    EXPECT_EQ(QDir(harness.storage()).entryList({u"vantelorquist-recording-*"_s}), QStringList());
}

// Mended: a recording's copy whose adb was ended from outside was told as
// the person's own Stop, and then not as a failure at all.
TEST_F(EndToEnd, ARecordingsCopyWhoseAdbIsEndedByItsPidSaysWhereTheVideoStayed)
{
    model->toggleRecording();
    ASSERT_TRUE(model->recordingStarted());
    harness.freezeAfterBytes(1); // the pull holds after its first byte
    model->toggleRecording();
    pid_t pull = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] { return (pull = childRunning(" pull /sdcard/vantelorquist-recording-")) > 0; },
                                       std::chrono::seconds(30)));
    ASSERT_EQ(::kill(pull, SIGKILL), 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model->hasRecordingsToKeep(); }, std::chrono::seconds(30)));
    harness.freezeAfterBytes(-1);
    finish();
    EXPECT_TRUE(error().startsWith(u"The screen recording stayed on the phone as “/sdcard/vantelorquist-recording-"_s))
        << error().toStdString();
    EXPECT_TRUE(error().endsWith(u" adb was stopped before it answered."_s)) << error().toStdString();
    EXPECT_TRUE(desktop->questions.isEmpty());
    EXPECT_EQ(QDir(harness.storage()).entryList({u"vantelorquist-recording-*"_s}).size(), 1);
    EXPECT_TRUE(QDir(saved.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// Mended: a stop that reached the phone before its recorder ran found
// nothing to stop, and the recording went on, never copied. Under load a
// stop right after the start did so.
TEST_F(EndToEnd, AStopBeforeThePhonesRecorderRunsStillEndsAndCopiesTheRecording)
{
    const QString held = stored(u".screenrecord-held"_s);
    write(held, "");
    model->toggleRecording();
    ASSERT_TRUE(model->recordingStarted());
    model->toggleRecording();
    // The first stop found no recorder and is asked again.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return harness.receivedCommands().count(u"pkill -INT screenrecord"_s) >= 2; }, std::chrono::seconds(30)));
    QFile::remove(held);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model->hasRecordingsToKeep(); }, std::chrono::seconds(60)));
    finish();
    EXPECT_EQ(error(), QString());
    const QStringList saves = QDir(saved.path()).entryList({u"* Recording *"_s}, QDir::Files | QDir::Hidden);
    ASSERT_EQ(saves.size(), 1);
    EXPECT_EQ(read(saved.filePath(saves.first())), "fake video");
}

TEST_F(EndToEnd, AnInstallReachesThePhoneAsOneStreamedPackage)
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
}

TEST_F(EndToEnd, DraggedEntriesArePulledWhenAskedAndEveryRequestGetsTheSameCopies)
{
    QDir(harness.storage()).mkpath(u"Album/inner"_s);
    write(stored(u"note.txt"_s), "hello");
    write(stored(u"other.txt"_s), QByteArray(300000, 'o'));
    EXPECT_TRUE(harness.receivedCommands().filter(u"sync:RECV"_s).isEmpty());
    for (const RemoteEntry& entry : {file(u"note.txt"_s), folder(u"Album"_s)}) {
        const std::unique_ptr<QMimeData> drag(model->itemProvider(entry));
        const QList<QUrl> first = drag->urls();
        ASSERT_EQ(first.size(), 1) << entry.name.toStdString();
        // Asked again (a receiver asks at every move): the same copy.
        EXPECT_EQ(drag->urls(), first);
        const QFileInfo pulled(first.first().toLocalFile());
        EXPECT_EQ(pulled.fileName(), entry.name);
        EXPECT_EQ(QFileInfo(pulled.filePath() + (entry.isDirectory ? u"/inner"_s : QString())).isDir(), entry.isDirectory);
    }
    EXPECT_EQ(harness.receivedCommands().filter(u"sync:RECV /sdcard/note.txt"_s).size(), 1);

    // Two files at once, each in a folder of its own, each whole.
    const std::unique_ptr<QMimeData> two(model->itemProvider(QList<RemoteEntry>{file(u"note.txt"_s), file(u"other.txt"_s)}));
    const QList<QUrl> both = two->urls();
    ASSERT_EQ(both.size(), 2);
    EXPECT_NE(QFileInfo(both[0].toLocalFile()).path(), QFileInfo(both[1].toLocalFile()).path());
    EXPECT_EQ(read(both[0].toLocalFile()), "hello");
    EXPECT_EQ(read(both[1].toLocalFile()), QByteArray(300000, 'o'));

    // A missing item gives nothing, and the window says why.
    const std::unique_ptr<QMimeData> gone(model->itemProvider(file(u"gone.txt"_s)));
    EXPECT_TRUE(gone->urls().isEmpty());
    EXPECT_TRUE(testsupport::waitUntil([&] { return !error().isEmpty(); }));
    EXPECT_EQ(error(), u"remote object '/sdcard/gone.txt' does not exist"_s);
}

// Mended: a folder deleted on the phone while it was shown came back: New
// Folder made it again around the new one (mkdir -p), Copy to Phone made it
// again for its copy (adb push makes the folders it needs), and Copy to
// Computer of its rows failed with adb's words while the rows stayed.
TEST_F(EndToEnd, AFolderDeletedOnThePhoneIsNotMadeAgainAndTheBrowserGoesUpToWhatIsThere)
{
    model->setRevealAfterCopy(false);
    write(source.filePath(u"song.mp3"_s), "la");
    const struct {
        const char* what;
        std::function<void()> request;
        QString error; // empty: adb's own words
    } cases[] = {
        {"new folder", [&] { model->newFolder(u"Day 2"_s); },
         u"“Day 2” wasn't created: “Vacation” isn't on the phone any more."_s},
        {"copy to the phone", [&] { model->upload(urls({source.filePath(u"song.mp3"_s)})); },
         u"“Vacation” isn't on the phone any more."_s},
        {"copy to the computer", [&] { model->download({file(u"beach.jpg"_s, 4)}); }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(stored(u"Trips/Vacation/beach.jpg"_s), "sand");
        model->navigate(u"/sdcard/Trips/Vacation"_s);
        finish();
        ASSERT_TRUE(listed(u"beach.jpg"_s));
        model->setErrorMessage(std::nullopt);
        ASSERT_TRUE(QDir(stored(u"Trips/Vacation"_s)).removeRecursively());
        c.request();
        finish();
        ASSERT_TRUE(testsupport::waitUntil([&] { return model->path() == u"/sdcard/Trips"_s && !model->isLoading(); }));
        EXPECT_FALSE(QFileInfo::exists(stored(u"Trips/Vacation"_s)));
        EXPECT_FALSE(error().isEmpty());
        if (!c.error.isEmpty()) {
            EXPECT_EQ(error(), c.error);
        }
        EXPECT_EQ(model->notice(), u"“Vacation” isn't on the phone any more."_s);
        EXPECT_TRUE(model->entries().isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(saved.filePath(u"beach.jpg"_s)));
}

// Mended: items dropped on another folder, or hidden ones while hidden
// items are not shown, replaced the phone's files unasked; and Stop during
// a Replace left part of the new file in place of the phone's.
TEST_F(EndToEnd, ACopyToThePhoneAsksFirstAndAStoppedReplaceLeavesThePhonesFile)
{
    model->setRevealAfterCopy(false);
    write(stored(u"Documents/letter.txt"_s), "the phone's letter");
    write(stored(u".secret"_s), "the phone's secret");
    write(source.filePath(u"letter.txt"_s), "the computer's letter");
    write(source.filePath(u".secret"_s), "the computer's secret");
    model->reload();
    finish();
    desktop->answer = 2; // Skip
    model->handleDrop(urls({source.filePath(u"letter.txt"_s)}), u"/sdcard/Documents"_s);
    finish();
    model->handleDrop(urls({source.filePath(u".secret"_s)}));
    finish();
    EXPECT_EQ(desktop->questions.size(), 2);
    EXPECT_EQ(read(stored(u"Documents/letter.txt"_s)), "the phone's letter");
    EXPECT_EQ(read(stored(u".secret"_s)), "the phone's secret");

    const QByteArray big = pattern(4 << 20, 'c');
    write(source.filePath(u"keep.bin"_s), big);
    write(stored(u"keep.bin"_s), "the phone's keep.bin");
    model->reload();
    finish();
    desktop->answer = 0; // Replace
    harness.setChunkDelay(40);
    model->upload(urls({source.filePath(u"keep.bin"_s)}));
    // Stop once part of the new file is on the phone.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            const QDir storage(harness.storage());
            for (const QFileInfo& item : storage.entryInfoList(QDir::Files | QDir::Hidden))
                if (item.fileName() != u".secret"_s && item.size() > (1 << 20))
                    return true;
            return false;
        },
        std::chrono::seconds(30)));
    model->cancelJob();
    finish();
    EXPECT_EQ(read(stored(u"keep.bin"_s)), "the phone's keep.bin");
    EXPECT_EQ(everything(harness.storage()), (QStringList{u".secret"_s, u"Documents"_s, u"keep.bin"_s}));

    harness.setChunkDelay(0);
    model->upload(urls({source.filePath(u"keep.bin"_s)}));
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(read(stored(u"keep.bin"_s)), big);
    EXPECT_EQ(everything(harness.storage()), (QStringList{u".secret"_s, u"Documents"_s, u"keep.bin"_s}));
}

// Mended: an item chosen in the Copy to Phone panel under a name that isn't
// UTF-8 (Latin-1, as old archives and memory cards hold) went on as a URL
// that can't hold its bytes, so the copy looked for another name.
TEST_F(EndToEnd, ItemsChosenUnderNamesThatArentTextReachThePhoneUnderTheirBytes)
{
    model->setRevealAfterCopy(false);
    const QByteArray song = pattern(50000, 'e');
    const QByteArray top = paths::bytes(source.path());
    const auto make = [](const QByteArray& path, const QByteArray& contents) {
        const int file = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(::write(file, contents.constData(), size_t(contents.size())), contents.size());
        ::close(file);
    };
    const QByteArray storage = paths::bytes(harness.storage());
    // The temporary folders' own clean-up reads names as text and would leave these.
    const auto removeOdd = qScopeGuard([&] {
        for (const QByteArray& folder : {top, storage}) {
            paths::removeLocalTree(paths::text(folder + "/caf\xe9.mp3"));
            paths::removeLocalTree(paths::text(folder + "/d\xe9j\xe0"));
        }
    });
    make(top + "/caf\xe9.mp3", song);
    ASSERT_EQ(::mkdir((top + "/d\xe9j\xe0").constData(), 0755), 0);
    make(top + "/d\xe9j\xe0/x\xff.bin", "inner");
    desktop->items = {paths::text(top + "/caf\xe9.mp3"), paths::text(top + "/d\xe9j\xe0")};
    model->chooseAndUpload();
    finish();
    EXPECT_EQ(error(), QString());

    // What the phone holds, by the bytes of each name.
    const auto held = [](const QByteArray& folder) {
        std::map<QByteArray, paths::Kind> names;
        for (const paths::LocalItem& item : paths::localItems(paths::text(folder)))
            names[paths::bytes(item.name)] = item.kind;
        return names;
    };
    EXPECT_EQ(held(storage), (std::map<QByteArray, paths::Kind>{{"caf\xe9.mp3", paths::Kind::file},
                                                                 {"d\xe9j\xe0", paths::Kind::folder}}));
    EXPECT_EQ(held(storage + "/d\xe9j\xe0"), (std::map<QByteArray, paths::Kind>{{"x\xff.bin", paths::Kind::file}}));
    const auto contents = [](const QByteArray& path) {
        QFile file;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        return fd >= 0 && file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(contents(storage + "/caf\xe9.mp3"), song);
    EXPECT_EQ(contents(storage + "/d\xe9j\xe0/x\xff.bin"), "inner");
}

// Mended: a new file went in under its own name, so one the phone cut short
// stayed there looking whole. It is made under a working name and takes its
// own only once whole; a working file left behind goes the next time its
// folder is read, while one a running copy uses and the person's own hidden
// files stay.
TEST_F(EndToEnd, ANewFileTakesItsNameOnlyOnceWholeAndOnlyStaleWorkingFilesGo)
{
    model->setRevealAfterCopy(false);
    const QByteArray huge = pattern(4 << 20, 'h');
    write(source.filePath(u"huge.bin"_s), huge);
    harness.setChunkDelay(40);
    model->upload(urls({source.filePath(u"huge.bin"_s)}));
    QString arriving;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            for (const QFileInfo& item : QDir(harness.storage()).entryInfoList(QDir::Files | QDir::Hidden))
                if (item.size() > (1 << 20))
                    arriving = item.fileName();
            return !arriving.isEmpty();
        },
        std::chrono::seconds(30)));
    EXPECT_TRUE(browserpaths::isWorkingName(arriving)) << arriving.toStdString();
    EXPECT_FALSE(QFileInfo::exists(stored(u"huge.bin"_s)));
    harness.setChunkDelay(0);
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(read(stored(u"huge.bin"_s)), huge);
    EXPECT_EQ(everything(harness.storage()), QStringList{u"huge.bin"_s});

    const browserpaths::HeldWorkingName running(browserpaths::temporaryName(u"other.bin"_s, true));
    write(stored(running.name()), "a copy under way");
    // Left by a copy the phone cut short, in a run that has ended; one
    // unrecorded (another process's, say) stays as any item we didn't make.
    const QString left = browserpaths::temporaryName(u"huge.bin"_s, true);
    write(stored(left), "left by a copy the phone cut short");
    ProcessIdentity ended = ProcessIdentity::self();
    ended.start += 1;
    browserpaths::workingnames::restore(
        {{}, {{BrowserModel::leftoverKey(model->readyDevice()->serial, Device::Transport::adb), {u"/sdcard/"_s + left, {}}, ended}}, {}});
    const QString unrecorded = browserpaths::temporaryName(u"other.bin"_s, true);
    write(stored(unrecorded), "not recorded");
    write(stored(u".huge.bin.copy"_s), "the person's");
    write(stored(u".huge.bin.123456789abc.vantelorquist-copy.txt"_s), "the person's too");
    model->setShowHidden(true);
    finish();
    QStringList expected{u".huge.bin.123456789abc.vantelorquist-copy.txt"_s, u".huge.bin.copy"_s, running.name(),
                         unrecorded, u"huge.bin"_s};
    expected.sort();
    QStringList after = everything(harness.storage());
    after.sort();
    EXPECT_EQ(after, expected);
    QStringList shown = names(model->entries());
    shown.sort();
    EXPECT_EQ(shown, (QStringList{u".huge.bin.123456789abc.vantelorquist-copy.txt"_s, u".huge.bin.copy"_s,
                                  u"huge.bin"_s}));
}

// Mended: a folder copied to the phone cost an adb run per file. Now one
// push into a working folder beside it and one shell command that renames
// each file into place: files replaced, folders merged or moved whole, an
// item meeting one of the other kind left out and named; nothing of the
// phone's removed, nothing of the copy left behind.
TEST_F(EndToEnd, AFolderMergesInOneCopyAndOneCommand)
{
    model->setRevealAfterCopy(false);
    write(stored(u"Album/a.txt"_s), "phone a");
    write(stored(u"Album/keep.txt"_s), "phone keep");
    write(stored(u"Album/sub/x.txt"_s), "phone x");
    write(stored(u"Album/clash/inside.txt"_s), "phone inside");
    write(stored(u"Album/file"_s), "phone file");
    write(source.filePath(u"Album/a.txt"_s), "new a");
    write(source.filePath(u"Album/.hidden"_s), "new hidden");
    write(source.filePath(u"Album/it's \\n $HOME"_s), "odd name");
    write(source.filePath(u"Album/sub/x.txt"_s), "new x");
    write(source.filePath(u"Album/sub/y.txt"_s), "new y");
    write(source.filePath(u"Album/new/deep/z.txt"_s), "new z");
    write(source.filePath(u"Album/clash"_s), "computer clash");
    write(source.filePath(u"Album/file/in.txt"_s), "computer in");
    for (int i = 0; i < 450; ++i)
        write(source.filePath(u"Album/many/f%1"_s.arg(i)), QByteArray::number(i));
    for (int i = 0; i < 450; i += 2)
        write(stored(u"Album/many/f%1"_s.arg(i)), "old");
    model->reload();
    finish();
    desktop->answer = 0; // Replace
    harness.clearReceived();
    model->upload(urls({source.filePath(u"Album"_s)}));
    finish();
    const QStringList commands = harness.receivedCommands();
    EXPECT_LT(commands.filter(QRegularExpression(u"^(?!sync:)"_s)).size(), 12) << commands.join(u'\n').toStdString();

    // Both items left out are told: the first by name, the other counted and listed.
    EXPECT_EQ(error(), u"“clash” wasn't copied: a folder of that name is in its place. 1 other item wasn't copied."_s);
    EXPECT_EQ(model->errorDetails(), (QStringList{u"“clash” wasn't copied: a folder of that name is in its place."_s,
                                                  u"“file” wasn't copied: a file of that name is in its place."_s}));
    const std::pair<QString, QByteArray> expected[] = {
        {u"a.txt"_s, "new a"},           {u"keep.txt"_s, "phone keep"},     {u".hidden"_s, "new hidden"},
        {u"it's \\n $HOME"_s, "odd name"}, {u"sub/x.txt"_s, "new x"},         {u"sub/y.txt"_s, "new y"},
        {u"new/deep/z.txt"_s, "new z"},  {u"clash/inside.txt"_s, "phone inside"}, {u"file"_s, "phone file"},
        {u"many/f0"_s, "0"},             {u"many/f449"_s, "449"},
    };
    for (const auto& [name, contents] : expected)
        EXPECT_EQ(read(stored(u"Album/"_s + name)), contents) << name.toStdString();
    EXPECT_EQ(everything(stored(u"Album/many"_s)).size(), 450);
    EXPECT_EQ(everything(stored(u"Album/clash"_s)), QStringList{u"inside.txt"_s});
    EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});

    // Stop while the folder is on its way: the phone's files as they were, nothing left beside them.
    // Larger than what the sockets between adb and the phone hold, which adb reads at once.
    write(source.filePath(u"Album/big.bin"_s), pattern(16 << 20, 'b'));
    write(source.filePath(u"Album/a.txt"_s), "newer a");
    watchProgress();
    harness.setChunkDelay(40);
    model->setErrorMessage(std::nullopt);
    model->upload(urls({source.filePath(u"Album"_s)}));
    stopUnderWay();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(read(stored(u"Album/a.txt"_s)), "new a");
    EXPECT_FALSE(QFileInfo::exists(stored(u"Album/big.bin"_s)));
    // The phone may still write what adb sent before Stop after the clean-up
    // ran; the next reading of the folder takes it away.
    model->setShowHidden(true);
    finish();
    EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});
}

// A large folder merges in parts: each part one push of the files named
// and one shell command moving them in while the next part goes, never a
// run per file; a clash in an early part is named once the later parts are
// in place, and nothing of the copy is left beside the folder.
TEST_F(EndToEnd, ALargeFolderMergesInPartsAndAClashIsNamedOnceTheRestIsIn)
{
    model->setRevealAfterCopy(false);
    model->setPushBatchLimits({.bytes = 4000, .files = 4, .pathBytes = 1 << 20});
    write(stored(u"Album/a.txt"_s), "phone a");
    write(stored(u"Album/keep.txt"_s), "phone keep");
    write(stored(u"Album/b/inside.txt"_s), "phone inside");
    write(stored(u"Album/deep/f1"_s), "old");
    write(source.filePath(u"Album/a.txt"_s), "new a");
    write(source.filePath(u"Album/b"_s), "computer b");
    QStringList files{u"a.txt"_s};
    for (int i = 0; i < 12; ++i) {
        write(source.filePath(u"Album/c%1"_s.arg(i, 2, 10, QLatin1Char('0'))), pattern(900, char('a' + i)));
        files << u"c%1"_s.arg(i, 2, 10, QLatin1Char('0'));
    }
    for (int i = 0; i < 6; ++i) {
        write(source.filePath(u"Album/deep/f%1"_s.arg(i)), pattern(700, char('A' + i)));
        files << u"deep/f%1"_s.arg(i);
    }
    write(source.filePath(u"Album/small/s"_s), "whole folder");
    files << u"small/s"_s;
    model->reload();
    finish();
    desktop->answer = 0; // Replace
    harness.clearReceived();
    model->upload(urls({source.filePath(u"Album"_s)}));
    finish();

    EXPECT_EQ(error(), u"“b” wasn't copied: a folder of that name is in its place."_s);
    for (const QString& name : files)
        EXPECT_EQ(read(stored(u"Album/"_s + name)), read(source.filePath(u"Album/"_s + name))) << name.toStdString();
    EXPECT_EQ(read(stored(u"Album/keep.txt"_s)), "phone keep");
    EXPECT_EQ(everything(stored(u"Album/b"_s)), QStringList{u"inside.txt"_s});
    EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});
    const QStringList commands = harness.receivedCommands();
    const qsizetype merges = commands.filter(u"rmdir"_s).size();
    EXPECT_GE(merges, 4) << commands.join(u'\n').toStdString();
    EXPECT_LT(commands.filter(QRegularExpression(u"^(?!sync:)"_s)).size(), 2 * merges + 6)
        << commands.join(u'\n').toStdString();
}

// Mended: a folder cost one adb run per file (about 14 files a second).
TEST_F(EndToEnd, AFolderComesInOneAdbRunAndMergesIntoTheComputersFolder)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace: folders merge, files are replaced
    const std::pair<QString, QByteArray> phone[] = {
        {u"a.txt"_s, "the phone's a"}, {u".hidden"_s, "hidden"}, {u"sub/b.txt"_s, "b"}, {u"sub/deeper/c.txt"_s, "c"}};
    for (const auto& [name, contents] : phone)
        write(stored(u"Album/"_s + name), contents);
    ASSERT_TRUE(QDir().mkpath(stored(u"Album/empty"_s)));
    write(saved.filePath(u"Album/a.txt"_s), "the computer's a");
    write(saved.filePath(u"Album/keep.txt"_s), "kept");
    model->reload();
    finish();
    harness.clearReceived();
    model->download({*listed(u"Album"_s)});
    finish();
    EXPECT_EQ(error(), QString());
    for (const auto& [name, contents] : phone) {
        EXPECT_EQ(read(saved.filePath(u"Album/"_s + name)), contents) << name.toStdString();
        EXPECT_EQ(QFileInfo(saved.filePath(u"Album/"_s + name)).lastModified(), stamp) << name.toStdString();
    }
    EXPECT_EQ(read(saved.filePath(u"Album/keep.txt"_s)), "kept");
    EXPECT_TRUE(QFileInfo(saved.filePath(u"Album/empty"_s)).isDir());
    EXPECT_EQ(everything(saved.path()), QStringList{u"Album"_s});
    EXPECT_EQ(everything(saved.filePath(u"Album"_s)),
              (QStringList{u".hidden"_s, u"a.txt"_s, u"empty"_s, u"keep.txt"_s, u"sub"_s}));
    // A pull of each file would ask for each file's facts.
    EXPECT_EQ(harness.receivedCommands().filter(QRegularExpression(u"^sync:STAT "_s)),
              QStringList{u"sync:STAT /sdcard/Album"_s});
}

// Mended: a copy of an item deleted on the phone meanwhile failed with adb's
// "remote object '/sdcard/…' does not exist" and left the row.
TEST_F(EndToEnd, ACopyOfAnItemDeletedOnThePhoneSaysSoAndListsTheFolderAgain)
{
    write(stored(u"gone.txt"_s), "x");
    write(stored(u"Gone/inside.txt"_s), "x");
    model->reload();
    finish();
    for (const QString& name : {u"gone.txt"_s, u"Gone"_s}) {
        SCOPED_TRACE(name.toStdString());
        const std::optional<RemoteEntry> row = listed(name);
        ASSERT_TRUE(row);
        QFile::remove(stored(name));
        QDir(stored(name)).removeRecursively();
        model->setErrorMessage(std::nullopt);
        model->download({*row});
        finish();
        EXPECT_EQ(error(), u"“"_s + name + u"” isn't on the phone any more."_s);
        EXPECT_FALSE(listed(name));
        EXPECT_EQ(everything(saved.path()), QStringList());
    }
}

// Mended: adb ended by a signal the application did not send (killall adb,
// the out-of-memory killer) ended a copy, an install and a screenshot in
// silence, as if they had worked.
TEST_F(EndToEnd, AdbEndedFromOutsideIsToldNotTakenForAStop)
{
    model->setRevealAfterCopy(false);
    write(stored(u"big.bin"_s), pattern(4 << 20, 'b'));
    const QString package = source.filePath(u"game.apk"_s);
    write(package, "PK\x03\x04 not really an app");
    const QString streamed = u"cmd package 'install' '-r' -S "_s + QString::number(QFileInfo(package).size());
    harness.setReply(streamed, {"Success\n", {}, 0, 10000});
    harness.setReply(u"screencap '-p'"_s, {QByteArray("\x89PNG\r\n\x1a\n", 8), {}, 0, 10000});
    model->reload();
    finish();
    const struct {
        const char* what;
        QString client; // words of the adb run to end
        std::function<void()> start;
    } jobs[] = {
        {"a copy to the computer", u"pull"_s,
         [&] {
             harness.setChunkDelay(40);
             model->download({*listed(u"big.bin"_s)});
         }},
        {"an install", u"install"_s, [&] { model->install({QUrl::fromLocalFile(package)}); }},
        {"a screenshot", u"screencap"_s, [&] { model->takeScreenshot(); }},
    };
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.what);
        model->setErrorMessage(std::nullopt);
        job.start();
        QStringList clients;
        ASSERT_TRUE(testsupport::waitUntil([&] { return !(clients = phonetest::adbClientsWith(job.client)).isEmpty(); },
                                           std::chrono::seconds(20)));
        ::kill(clients.first().section(u':', 0, 0).toInt(), SIGKILL);
        finish();
        EXPECT_EQ(error(), u"adb was stopped before it answered."_s);
        harness.setChunkDelay(0);
    }
    EXPECT_EQ(everything(saved.path()), QStringList());
}

// Mended: Stop during a Replace left the computer's file as part of the
// phone's, and Stop during a folder copy left the file under way half
// written under its own name.
TEST_F(EndToEnd, AStoppedCopyToTheComputerLeavesNoPartOfAFile)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    write(saved.filePath(u"replace-me.bin"_s), "the computer's own");
    write(stored(u"replace-me.bin"_s), pattern(4 << 20, 'p'));
    const QStringList album{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s};
    for (const QString& name : album)
        write(stored(u"Album/"_s + name), pattern(1 << 20, name.at(0).toLatin1()));
    model->reload();
    finish();
    watchProgress();
    harness.setChunkDelay(40);
    model->download({*listed(u"replace-me.bin"_s)});
    stopUnderWay();
    EXPECT_EQ(read(saved.filePath(u"replace-me.bin"_s)), "the computer's own");
    EXPECT_EQ(everything(saved.path()), QStringList{u"replace-me.bin"_s});

    // What stays of the folder after a pull that ended a third of the way
    // into its second file (adb's order is the phone's): the first, whole.
    const auto firstFileOnly = [&] {
        const QStringList copied = everything(saved.filePath(u"Album"_s));
        EXPECT_EQ(copied.size(), 1) << copied.join(u' ').toStdString();
        for (const QString& name : copied) {
            ASSERT_TRUE(album.contains(name)) << name.toStdString();
            EXPECT_EQ(read(saved.filePath(u"Album/"_s + name)), read(stored(u"Album/"_s + name))) << name.toStdString();
        }
        EXPECT_EQ(everything(saved.path()), (QStringList{u"Album"_s, u"replace-me.bin"_s}));
    };
    progress.clear();
    model->download({*listed(u"Album"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return !progress.isEmpty() && progress.last() > 0.45; },
                                       std::chrono::seconds(30)));
    model->cancelJob();
    finish();
    EXPECT_EQ(error(), QString());
    firstFileOnly();

    // To the end: the same bytes on both sides.
    harness.setChunkDelay(0);
    model->download({*listed(u"Album"_s), *listed(u"replace-me.bin"_s)});
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(everything(saved.filePath(u"Album"_s)), album);
    for (const QString& name : album)
        EXPECT_EQ(read(saved.filePath(u"Album/"_s + name)), read(stored(u"Album/"_s + name))) << name.toStdString();
    EXPECT_EQ(read(saved.filePath(u"replace-me.bin"_s)), read(stored(u"replace-me.bin"_s)));
    EXPECT_EQ(everything(saved.path()), (QStringList{u"Album"_s, u"replace-me.bin"_s}));

    // Cut short by the phone: the same, and the failure is told.
    QDir(saved.filePath(u"Album"_s)).removeRecursively();
    harness.dropAfterBytes((1 << 20) + (1 << 18));
    model->download({*listed(u"Album"_s)});
    finish();
    EXPECT_NE(error(), QString());
    firstFileOnly();
}

// A folder merged into the computer's shows each file in its place once it
// is whole, while the rest still comes, and never a part of one: the files it
// replaces are freed during the transfer instead of after it.
TEST_F(EndToEnd, AFolderComingToTheComputerPutsEachWholeFileInPlaceWhileTheRestStillComes)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    const QStringList album{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s};
    for (const QString& name : album) {
        write(stored(u"Album/"_s + name), pattern(1 << 20, name.at(0).toLatin1()));
        write(saved.filePath(u"Album/"_s + name), "the computer's " + name.toUtf8());
    }
    model->reload();
    finish();
    // The phone stops answering a quarter into the second file, which is
    // begun well after the first (the disk's times have a coarse grain).
    harness.setChunkDelay(5);
    harness.freezeAfterBytes((1 << 20) + (1 << 18));
    model->download({*listed(u"Album"_s)});
    const auto phones = [&] {
        int count = 0;
        for (const QString& name : album)
            count += read(saved.filePath(u"Album/"_s + name)) == read(stored(u"Album/"_s + name));
        return count;
    };
    EXPECT_TRUE(testsupport::waitUntil([&] { return phones() == 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(model->job());
    for (const QString& name : album) {
        const QByteArray now = read(saved.filePath(u"Album/"_s + name));
        EXPECT_TRUE(now == read(stored(u"Album/"_s + name)) || now == "the computer's " + name.toUtf8())
            << name.toStdString();
    }
    EXPECT_EQ(everything(saved.filePath(u"Album"_s)), album);

    harness.setChunkDelay(0);
    harness.freezeAfterBytes(-1);
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(phones(), 3);
    EXPECT_EQ(everything(saved.path()), QStringList{u"Album"_s});
    EXPECT_EQ(everything(saved.filePath(u"Album"_s)), album);
}

// A large folder of many files goes in one transfer, the finished files
// moving in while the rest is sent, rather than in parts of a run each; one
// of few files goes in parts.
TEST_F(EndToEnd, ALargeFolderOfManyFilesMergesInOneTransfer)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    QStringList album;
    for (int i = 0; i < 4; ++i) {
        album.append(u"IMG_%1.jpg"_s.arg(i));
        write(source.filePath(u"Album/"_s + album.last()), pattern(512 << 10, char('a' + i)));
    }
    const struct {
        int movesWhileSending;
        bool inOne;
    } cases[] = {{4, true}, {5, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.movesWhileSending);
        model->setPushBatchLimits({.bytes = 1 << 20, .files = 2, .movesWhileSending = c.movesWhileSending});
        for (const QString& name : album)
            write(stored(u"Album/"_s + name), "the phone's " + name.toUtf8());
        model->reload();
        finish();
        harness.clearReceived();
        model->upload(urls({source.filePath(u"Album"_s)}));
        finish();
        EXPECT_EQ(error(), QString());
        for (const QString& name : album)
            EXPECT_EQ(read(stored(u"Album/"_s + name)), read(source.filePath(u"Album/"_s + name)));
        const QStringList sends = harness.receivedCommands().filter(u"sync:SEND"_s);
        EXPECT_EQ(sends.size(), album.size());
        // One transfer into the working folder's "sent", or parts "0", "1".
        EXPECT_EQ(sends.filter(u"vantelorquist-copy/sent/"_s).size(), c.inOne ? album.size() : 0)
            << sends.join(u'|').toStdString();
        EXPECT_EQ(sends.filter(u"vantelorquist-copy/1/"_s).size(), c.inOne ? 0 : 2) << sends.join(u'|').toStdString();
        EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});
    }
}

// A merge of many files sent in one transfer: each file the phone has
// finished takes its place while the rest is still sent; a file meeting a
// folder stays out and is named.
TEST_F(EndToEnd, AFolderMergedIntoThePhonesPutsEachWholeFileInPlaceWhileTheRestIsSent)
{
    model->setRevealAfterCopy(false);
    model->setPushBatchLimits({.movesWhileSending = 2});
    desktop->answer = 0; // Replace
    const QStringList album{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s};
    for (const QString& name : album) {
        writeCameraFile(source.filePath(u"Album/"_s + name), pattern(1 << 20, name.at(0).toLatin1()));
        write(stored(u"Album/"_s + name), "the phone's " + name.toUtf8());
    }
    write(source.filePath(u"Album/d.bin"_s), "a file");
    write(stored(u"Album/d.bin/inside"_s), "the phone's folder");
    model->reload();
    finish();
    // The phone stops answering a quarter into the third file.
    harness.setChunkDelay(40);
    harness.freezeAfterBytes(2 * (1 << 20) + (1 << 18));
    model->upload(urls({source.filePath(u"Album"_s)}));
    const auto newOnes = [&] {
        int count = 0;
        for (const QString& name : album)
            count += read(stored(u"Album/"_s + name)) == read(source.filePath(u"Album/"_s + name));
        return count;
    };
    EXPECT_TRUE(testsupport::waitUntil([&] { return newOnes() >= 1; }, std::chrono::seconds(10)));
    EXPECT_TRUE(model->job());
    for (const QString& name : album) {
        const QByteArray now = read(stored(u"Album/"_s + name));
        EXPECT_TRUE(now == read(source.filePath(u"Album/"_s + name)) || now == "the phone's " + name.toUtf8())
            << name.toStdString();
    }

    harness.setChunkDelay(0);
    harness.freezeAfterBytes(-1);
    finish();
    EXPECT_EQ(error(), u"“d.bin” wasn't copied: a folder of that name is in its place."_s);
    EXPECT_EQ(newOnes(), 3);
    EXPECT_EQ(read(stored(u"Album/d.bin/inside"_s)), "the phone's folder");
    EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});
    EXPECT_EQ(everything(stored(u"Album"_s)), (QStringList{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s, u"d.bin"_s}));
}

// Files changed on the phone while the question was open stay, and are
// named, whether the moves while sending or the merge after them reach them:
// each looks up only the names of the files it still has to move.
TEST_F(EndToEnd, FilesChangedWhileAskedStayWhileTheRestMovesInAsItIsSent)
{
    model->setRevealAfterCopy(false);
    model->setPushBatchLimits({.movesWhileSending = 2});
    desktop->answer = 0; // Replace
    const QStringList album{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s, u"d.bin"_s};
    const QStringList theirs{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s}; // at most one of them is sent last
    for (const QString& name : album) {
        writeCameraFile(source.filePath(u"Album/"_s + name), pattern(1 << 20, name.at(0).toLatin1()));
        write(stored(u"Album/"_s + name), "the phone's " + name.toUtf8());
    }
    model->reload();
    finish();
    bool asked = false;
    desktop->whileAsking = [&] {
        for (const QString& name : theirs)
            write(stored(u"Album/"_s + name), "theirs");
        asked = true;
    };
    // Slow enough for several moves while the rest is sent.
    harness.setChunkDelay(15);
    model->upload(urls({source.filePath(u"Album"_s)}));
    const auto kept = [&] {
        return std::all_of(theirs.begin(), theirs.end(),
                           [&](const QString& name) { return read(stored(u"Album/"_s + name)) == "theirs"; });
    };
    bool keptThroughout = true;
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            keptThroughout = keptThroughout && (!asked || kept());
            return !model->job();
        },
        std::chrono::seconds(30)));
    harness.setChunkDelay(0);
    desktop->whileAsking = nullptr;
    finish();
    EXPECT_TRUE(keptThroughout);
    EXPECT_TRUE(kept());
    const QString came = u" wasn't copied: an item of that name came onto the phone meanwhile."_s;
    EXPECT_EQ(model->errorDetails(), (QStringList{u"“a.bin”"_s + came, u"“b.bin”"_s + came, u"“c.bin”"_s + came}));
    EXPECT_EQ(read(stored(u"Album/d.bin"_s)), read(source.filePath(u"Album/d.bin"_s)));
    EXPECT_EQ(everything(harness.storage()), QStringList{u"Album"_s});
}

} // namespace

namespace frozen {

// Lets events run for a while.
void pause(std::chrono::milliseconds time)
{
    testsupport::waitUntil([] { return false; }, time);
}

} // namespace frozen

// Mended: on a phone that stopped answering (a Wi-Fi link gone dead without a
// reset) Stop did not end a copy to it, whose clean-up waited on the phone
// without end, and the jobs without Stop (a new folder, a delete, ...) went
// on until adb gave up. Every job now ends soon after Stop whatever the phone
// does, and what a stopped copy could not remove is named.
TEST_F(EndToEnd, EveryJobOnAPhoneThatStoppedAnsweringEndsAtStop)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Delete
    write(source.filePath(u"big.bin"_s), pattern(8 << 20, 'b'));
    write(stored(u"large.bin"_s), pattern(8 << 20, 'l'));
    write(stored(u"note.txt"_s), "a note");
    write(source.filePath(u"game.apk"_s), "PK\x03\x04 not really an app");
    model->reload();
    finish();
    ASSERT_TRUE(listed(u"large.bin"_s) && listed(u"note.txt"_s));
    const RemoteEntry large = *listed(u"large.bin"_s);
    const RemoteEntry note = *listed(u"note.txt"_s);
    // A new file is made under a working name of its own, which goes when the phone is next read.
    const QString leftover = u"The phone didn’t answer in time to remove the unfinished copy of “big.bin”; it will be "
                             u"removed when the phone is next reachable."_s;
    // A folder merged into the phone's, here sent in one transfer.
    QDir(source.path()).mkpath(u"Album"_s);
    for (const char* name : {"a.bin", "b.bin"})
        write(source.filePath(u"Album/"_s + QLatin1String(name)), pattern(4 << 20, name[0]));
    write(stored(u"Album/a.bin"_s), "the phone's a");
    const QString albumLeftover = QString(leftover).replace(u"“big.bin”"_s, u"“Album”"_s);
    const struct {
        const char* what;
        qint64 freezeAfter; // sync data bytes
        std::function<void()> start;
        QString message; // after Stop
        bool outcome = false; // told as what Stop did, not as an error
    } cases[] = {
        {"a copy to the phone", 1 << 20, [&] { model->upload(urls({source.filePath(u"big.bin"_s)})); }, leftover},
        {"a folder merged into the phone's", 1 << 20,
         [&] {
             desktop->answer = 0; // Replace
             model->upload(urls({source.filePath(u"Album"_s)}));
         },
         albumLeftover},
        {"a copy to the computer", 1 << 20, [&] { model->download({large}); }, {}},
        {"opening on the computer", 1 << 20, [&] { model->openOnMac({large}); }, {}},
        {"a new folder", 0, [&] { model->newFolder(u"Fresh"_s); }, {}},
        {"a rename", 0, [&] { model->rename(note, u"renamed.txt"_s); }, {}},
        {"a delete", 0, [&] { model->remove({note}); }, {}},
        {"an install", 0, [&] { model->install({QUrl::fromLocalFile(source.filePath(u"game.apk"_s))}); }, {}},
        {"a screenshot", 0, [&] { model->takeScreenshot(); }, {}},
        {"a recording's copy", 1,
         [&] {
             model->toggleRecording();
             model->toggleRecording();
             ASSERT_TRUE(testsupport::waitUntil([&] { return model->job().has_value(); }, std::chrono::seconds(30)));
         },
         u"The screen recording stayed on the phone as “"_s, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model->setErrorMessage(std::nullopt);
        harness.freezeAfterBytes(c.freezeAfter);
        c.start();
        // Under way, and then held by the phone.
        frozen::pause(std::chrono::milliseconds(800));
        ASSERT_TRUE(model->job());
        EXPECT_TRUE(model->job()->cancellable);
        const qsizetype asked = desktop->questions.size();
        QElapsedTimer stopped;
        stopped.start();
        model->cancelJob();
        const bool ended = testsupport::waitUntil([&] { return !model->job(); }, std::chrono::seconds(5));
        std::cout << "[ frozen adb phone ] Stop to the end of " << c.what << ": " << stopped.elapsed() << " ms\n";
        EXPECT_TRUE(ended);
        if (c.message.isEmpty()) {
            EXPECT_EQ(error(), QString());
        } else if (c.outcome) {
            EXPECT_EQ(error(), QString());
            ASSERT_TRUE(testsupport::waitUntil([&] { return desktop->questions.size() > asked; }));
            EXPECT_TRUE(desktop->questions.last().message.startsWith(c.message))
                << desktop->questions.last().message.toStdString();
        } else {
            EXPECT_TRUE(error().startsWith(c.message)) << error().toStdString();
        }
        // Answering again, for the next.
        harness.freezeAfterBytes(-1);
        finish();
        ASSERT_EQ(harness.shell(u"true"_s, 20000).status, 0);
    }
}

// ---- a phone whose storage ignores letter case ---------------------------------------

namespace {

FakePhoneHarness::Options caselessPhone()
{
    FakePhoneHarness::Options options;
    options.caselessStorage = true;
    return options;
}

} // namespace

// Mended: a link on the phone where the copy's folder goes led the merge
// into the folder it names, outside the one chosen, and its files were
// replaced there.
TEST_F(EndToEnd, AMergeNeverFollowsALinkOnThePhone)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    write(stored(u"Other/x.txt"_s), "phone x");
    write(stored(u"Album/a.txt"_s), "phone a");
    ASSERT_TRUE(QFile::link(u"../Other"_s, stored(u"Album/sub"_s)));
    write(source.filePath(u"Album/a.txt"_s), "new a");
    write(source.filePath(u"Album/sub/x.txt"_s), "new x");
    model->reload();
    finish();
    model->upload(urls({source.filePath(u"Album"_s)}));
    finish();
    EXPECT_EQ(error(), u"“sub” wasn't copied: a file of that name is in its place."_s);
    EXPECT_EQ(read(stored(u"Other/x.txt"_s)), "phone x");
    EXPECT_EQ(read(stored(u"Album/a.txt"_s)), "new a");
    EXPECT_EQ(everything(stored(u"Other"_s)), QStringList{u"x.txt"_s});
}

// Mended: a Replace went over what another program made or changed on the
// phone after the question, at the top or inside a merged folder.
TEST_F(EndToEnd, AReplaceLeavesWhatCameOntoThePhoneAfterTheQuestion)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    write(source.filePath(u"keep.bin"_s), "new keep");
    write(source.filePath(u"Album/a.txt"_s), "new a");
    write(source.filePath(u"Album/b.txt"_s), "new b");
    write(source.filePath(u"Album/c.txt"_s), "new c");
    const struct {
        QString item;
        QString theirs; // written while the question is open
    } rows[] = {
        {u"keep.bin"_s, u"keep.bin"_s},      // the file the answer covers, changed
        {u"Album"_s, u"Album/a.txt"_s},      // a file of the merged folder, changed
        {u"Album"_s, u"Album/b.txt"_s},      // a new one where the merge puts one
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.theirs.toStdString());
        QDir(stored(u"Album"_s)).removeRecursively();
        write(stored(u"keep.bin"_s), "phone keep");
        write(stored(u"Album/a.txt"_s), "phone a");
        model->setErrorMessage(std::nullopt);
        model->reload();
        finish();
        desktop->whileAsking = [&] { write(stored(row.theirs), "theirs"); };
        model->upload(urls({source.filePath(row.item)}));
        finish();
        desktop->whileAsking = nullptr;
        EXPECT_EQ(error(), u"“"_s + row.theirs.section(u'/', -1)
                               + u"” wasn't copied: an item of that name came onto the phone meanwhile."_s);
        EXPECT_EQ(read(stored(row.theirs)), "theirs");
        if (row.item == u"Album"_s) {
            EXPECT_EQ(read(stored(u"Album/c.txt"_s)), "new c");
        }
        EXPECT_EQ(everything(harness.storage()).filter(u".vantelorquist-copy"_s), QStringList());
    }
}

// Mended: a merge on the phone named only the first item it left out, the
// others (folders in their places, files come meanwhile) reading as copied.
TEST_F(EndToEnd, EveryItemAMergeOnThePhoneLeavesOutIsNamedOrCounted)
{
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace
    for (const QString& name : {u"a.txt"_s, u"b.txt"_s, u"x.txt"_s, u"y.txt"_s, u"z.txt"_s})
        write(source.filePath(u"Album/"_s + name), "new " + name.toUtf8());
    const QString folderThere = u" wasn't copied: a folder of that name is in its place."_s;
    const QString came = u" wasn't copied: an item of that name came onto the phone meanwhile."_s;
    const struct {
        const char* what;
        std::optional<PushBatchLimits> parts;
        bool meanwhile; // a.txt and b.txt change while the question is open; else x.txt and y.txt are folders
        QStringList details;
    } rows[] = {
        {"folders in the way, in one merge", std::nullopt, false, {u"“x.txt”"_s + folderThere, u"“y.txt”"_s + folderThere}},
        {"folders in the way, in parts", PushBatchLimits{.bytes = 6, .files = 1, .pathBytes = 1 << 20}, false,
         {u"“x.txt”"_s + folderThere, u"“y.txt”"_s + folderThere}},
        {"files come meanwhile, in one merge", std::nullopt, true, {u"“a.txt”"_s + came, u"“b.txt”"_s + came}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        model->setPushBatchLimits(row.parts.value_or(PushBatchLimits{}));
        QDir(stored(u"Album"_s)).removeRecursively();
        write(stored(u"Album/a.txt"_s), "phone a");
        write(stored(u"Album/b.txt"_s), "phone b");
        if (!row.meanwhile) {
            write(stored(u"Album/x.txt/inside"_s), "phone x");
            write(stored(u"Album/y.txt/inside"_s), "phone y");
        }
        model->setErrorMessage(std::nullopt);
        model->reload();
        finish();
        desktop->whileAsking = [&] {
            if (row.meanwhile) {
                write(stored(u"Album/a.txt"_s), "theirs");
                write(stored(u"Album/b.txt"_s), "theirs");
            }
        };
        model->upload(urls({source.filePath(u"Album"_s)}));
        finish();
        desktop->whileAsking = nullptr;
        EXPECT_EQ(error(), row.details.first() + u" 1 other item wasn't copied."_s);
        EXPECT_EQ(model->errorDetails(), row.details);
        EXPECT_EQ(read(stored(u"Album/z.txt"_s)), "new z.txt");
        EXPECT_EQ(everything(harness.storage()).filter(u".vantelorquist-copy"_s), QStringList());
    }
}

class CaselessEndToEnd : public EndToEnd {
protected:
    CaselessEndToEnd() : EndToEnd(caselessPhone()) {}
    void SetUp() override
    {
        if (const QString why = FakePhoneHarness::caselessStorageUnavailable(); !why.isEmpty())
            GTEST_SKIP() << "no storage that ignores letter case here: " << why.toStdString();
        EndToEnd::SetUp();
    }
};

// Mended: a phone folder holding two names alike but for their letter case,
// copied to a disk that ignores it, came in as one file under one name,
// holding either's bytes, and the copy said nothing of the other.
TEST_F(EndToEnd, FilesWhoseNamesTheComputersDiskTakesForOneAreLeftOutAndNamed)
{
    if (const QString why = FakePhoneHarness::caselessStorageUnavailable(); !why.isEmpty())
        GTEST_SKIP() << "no disk that ignores letter case here: " << why.toStdString();
    model->setRevealAfterCopy(false);
    desktop->answer = 0; // Replace: folders merge, files are replaced
    write(stored(u"Album/IMG_1.JPG"_s), "upper");
    write(stored(u"Album/img_1.jpg"_s), "lower");
    write(stored(u"Album/other.jpg"_s), "other");
    write(saved.filePath(u"Album/Img_1.jpg"_s), "the computer's");
    write(saved.filePath(u"Album/mine.txt"_s), "mine");
    QString why;
    const auto disk = FakePhoneHarness::mountDisk(saved.path(), {}, &why);
    ASSERT_TRUE(disk) << why.toStdString();
    model->reload();
    finish();
    for (const bool merged : {true, false}) {
        SCOPED_TRACE(merged ? "merged into the computer's folder" : "a new folder");
        if (!merged) {
            ASSERT_TRUE(QDir(saved.filePath(u"Album"_s)).removeRecursively());
        }
        model->setErrorMessage(std::nullopt);
        model->download({*listed(u"Album"_s)});
        finish();
        EXPECT_TRUE(error().contains(u"“IMG_1.JPG” wasn't copied"_s)) << error().toStdString();
        EXPECT_TRUE(error().contains(u"1 other item wasn't copied"_s)) << error().toStdString();
        EXPECT_EQ(read(saved.filePath(u"Album/other.jpg"_s)), "other");
        if (merged) {
            EXPECT_EQ(read(saved.filePath(u"Album/Img_1.jpg"_s)), "the computer's");
            EXPECT_EQ(read(saved.filePath(u"Album/mine.txt"_s)), "mine");
        } else {
            EXPECT_FALSE(QFileInfo::exists(saved.filePath(u"Album/img_1.jpg"_s)));
        }
        EXPECT_EQ(everything(saved.path()), QStringList{u"Album"_s});
    }

    // The two files copied as two items: the second finds the first's copy.
    model->navigate(u"/sdcard/Album"_s, true);
    finish();
    model->setErrorMessage(std::nullopt);
    model->download({*listed(u"IMG_1.JPG"_s), *listed(u"img_1.jpg"_s)});
    finish();
    EXPECT_EQ(error(), u"“img_1.jpg” wasn't copied: the computer's disk takes its name for “IMG_1.JPG”, which this copy "
                       "has just put there."_s);
    EXPECT_EQ(read(saved.filePath(u"IMG_1.JPG"_s)), "upper");
}

// Mended: the second of two items alike but for their letter case took the
// first one's place on the phone, and the copy said nothing.
TEST_F(CaselessEndToEnd, ItemsWhoseNamesThePhoneTakesForOneNeverTakeEachOthersPlace)
{
    model->setRevealAfterCopy(false);
    write(stored(u"photo.jpg"_s), "phone photo");
    write(source.filePath(u"Pair/a.txt"_s), "little a");
    write(source.filePath(u"Pair/A.txt"_s), "big A");
    write(source.filePath(u"Twins/top.txt"_s), "top");
    write(source.filePath(u"Twins/deep/a.txt"_s), "little a");
    write(source.filePath(u"Twins/deep/A.txt"_s), "big A");
    write(source.filePath(u"PHOTO.JPG"_s), "computer photo");
    model->reload();
    finish();
    desktop->answer = 0; // Replace

    // Two files of one copy.
    model->upload(urls({source.filePath(u"Pair/a.txt"_s), source.filePath(u"Pair/A.txt"_s)}));
    finish();
    EXPECT_EQ(error(), u"“A.txt” wasn't copied: the phone takes its name for “a.txt”, which this copy has just put there."_s);
    EXPECT_EQ(read(stored(u"a.txt"_s)), "little a");

    // Two files of one folder within the copied one, new on the phone or merged into its folder.
    const QString refused = u"“Twins” wasn't copied: it holds “A.txt” and “a.txt”, which the phone takes for one name."_s;
    model->setErrorMessage(std::nullopt);
    model->upload(urls({source.filePath(u"Twins"_s)}));
    finish();
    EXPECT_EQ(error(), refused);
    EXPECT_FALSE(QFileInfo::exists(stored(u"Twins"_s)));
    QDir().mkpath(stored(u"Twins"_s));
    model->reload();
    finish();
    model->setErrorMessage(std::nullopt);
    model->upload(urls({source.filePath(u"Twins"_s)}));
    finish();
    EXPECT_EQ(error(), refused);
    // Mended: a merge large enough to go in parts let one of the pair overwrite the other.
    model->setPushBatchLimits({.bytes = 4, .files = 1});
    model->setErrorMessage(std::nullopt);
    model->upload(urls({source.filePath(u"Twins"_s)}));
    finish();
    EXPECT_EQ(error(), refused);
    model->setShowHidden(true);
    finish();
    EXPECT_EQ(everything(harness.storage()), (QStringList{u"Twins"_s, u"a.txt"_s, u"photo.jpg"_s}));
    EXPECT_EQ(everything(stored(u"Twins"_s)), QStringList());

    // One name in other letter case is the phone's item: replaced under its own name.
    model->setErrorMessage(std::nullopt);
    model->upload(urls({source.filePath(u"PHOTO.JPG"_s)}));
    finish();
    EXPECT_EQ(error(), QString());
    EXPECT_EQ(read(stored(u"photo.jpg"_s)), "computer photo");
}

// Mended: a new letter case for a name was refused as "already exists" (the
// phone finds the item by it), and a plain rename onto it changes nothing.
TEST_F(CaselessEndToEnd, ANameRespelledInOtherLetterCaseTakesTheNewSpelling)
{
    write(stored(u"photo.jpg"_s), "phone photo");
    write(stored(u"Album/inside.txt"_s), "inside");
    model->reload();
    finish();
    for (const auto& [from, to] : {std::pair{u"photo.jpg"_s, u"Photo.JPG"_s}, std::pair{u"Album"_s, u"ALBUM"_s}}) {
        SCOPED_TRACE(to.toStdString());
        model->rename(*listed(from), to);
        finish();
        EXPECT_EQ(error(), QString());
        EXPECT_TRUE(listed(to));
        EXPECT_FALSE(listed(from));
    }
    EXPECT_EQ(everything(harness.storage()), (QStringList{u"ALBUM"_s, u"Photo.JPG"_s}));
    EXPECT_EQ(read(stored(u"Photo.JPG"_s)), "phone photo");
    EXPECT_EQ(read(stored(u"ALBUM/inside.txt"_s)), "inside");
}

// ---- a phone without adb's shell protocol (Android 6 and older) ----------------------

namespace {

FakePhoneHarness::Options phoneWithoutShellProtocol()
{
    FakePhoneHarness::Options options;
    options.shellProtocol = false;
    return options;
}

class OlderPhoneEndToEnd : public EndToEnd {
protected:
    OlderPhoneEndToEnd() : EndToEnd(phoneWithoutShellProtocol()) {}
};

} // namespace

// Mended: adb gives such a phone's shell no exit status, and every failure
// read "The connection to the phone ended before it answered.": a refused
// rename, a New Folder on a full phone, and a folder deleted on the phone,
// which then no longer read as missing, so the browser stayed in it.
TEST_F(OlderPhoneEndToEnd, RefusalsAreToldInThePhonesWordsAndAMissingFolderSendsTheBrowserUp)
{
    write(stored(u"Trips/Vacation/beach.jpg"_s), "sand");
    model->navigate(u"/sdcard/Trips/Vacation"_s);
    finish();
    ASSERT_TRUE(listed(u"beach.jpg"_s));

    harness.setRefuseMoves(true);
    model->rename(*listed(u"beach.jpg"_s), u"sea.jpg"_s);
    finish();
    harness.setRefuseMoves(false);
    EXPECT_TRUE(error().contains(u"Permission denied"_s)) << error().toStdString();
    EXPECT_TRUE(QFileInfo::exists(stored(u"Trips/Vacation/beach.jpg"_s)));

    model->setErrorMessage(std::nullopt);
    harness.setStorageFull(true);
    model->newFolder(u"Day 2"_s);
    finish();
    harness.setStorageFull(false);
    EXPECT_TRUE(error().contains(u"No space left on device"_s)) << error().toStdString();

    model->setErrorMessage(std::nullopt);
    ASSERT_TRUE(QDir(stored(u"Trips/Vacation"_s)).removeRecursively());
    model->reload();
    ASSERT_TRUE(testsupport::waitUntil([&] { return model->path() == u"/sdcard/Trips"_s && !model->isLoading(); }));
    EXPECT_EQ(model->notice(), u"“Vacation” isn't on the phone any more."_s);
}
