// Changing the phone folder, drops and installs, the screen recording's
// states, and the phone paths copied as text: what reaches the phone, the
// questions and lines the user sees, and what is refused before anything runs.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

class FileOpsTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("A2"), QStringLiteral("device"),
                                                                   QStringLiteral("Pixel/8"))});
        phone = adb->phone(QStringLiteral("A1"));
        phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt")),
                                                     file(QStringLiteral("c.txt")), folder(QStringLiteral("Music"))});
        pass();
        model().setSelectedSerial(QStringLiteral("A1"));
        settle();
        model().setSaveFolder(saved.path());
        QObject::connect(&model(), &BrowserModel::jobChanged, &model(), [this] {
            if (model().job() && (lines.isEmpty() || lines.last() != model().job()->message))
                lines.append(model().job()->message);
        });
    }
    void run()
    {
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
    }
    QString error() { return model().errorMessage().value_or(QString()); }
    // A copy to the phone that waits until the gate opens.
    std::shared_ptr<Gate> runningCopy()
    {
        auto gate = std::make_shared<Gate>();
        gates.push_back(gate);
        phone->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
        model().upload({QUrl::fromLocalFile(QStringLiteral("/m/new.bin"))});
        EXPECT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
        return gate;
    }

    QTemporaryDir saved;
    std::shared_ptr<MemoryPhoneFiles> phone;
    QStringList lines;
};

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> result;
    for (const QString& path : paths)
        result.append(QUrl::fromLocalFile(path));
    return result;
}

// ---- delete -----------------------------------------------------------------------------

TEST_F(FileOpsTest, DeleteAsksWithTheNameOrTheCountAndRemovesInTurn)
{
    model().remove({file(QStringLiteral("a.txt"))});
    model().remove({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt")), file(QStringLiteral("c.txt"))});
    ASSERT_EQ(desktop->questions.size(), 2);
    EXPECT_EQ(desktop->questions[0].message, QStringLiteral("Delete “a.txt” from the phone?"));
    EXPECT_EQ(desktop->questions[1].message, QStringLiteral("Delete 3 items from the phone?"));
    EXPECT_EQ(desktop->questions[0].informative, QStringLiteral("This can't be undone."));
    EXPECT_EQ(desktop->questions[0].buttons, (QStringList{QStringLiteral("Delete"), QStringLiteral("Cancel")}));
    EXPECT_TRUE(desktop->questions[0].warning);
    EXPECT_EQ(desktop->questions[0].destructive, 0);
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard/a.txt")), 0); // closed: Cancel

    desktop->answer = 0;
    model().setSelection({QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    model().remove({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))});
    run();
    EXPECT_EQ(lines, (QStringList{QStringLiteral("Deleting…"), QStringLiteral("Deleting “a.txt”…"),
                                  QStringLiteral("Deleting “b.txt”…")}));
    EXPECT_TRUE(model().selection().isEmpty());
    const QStringList left = names(model().entries());
    EXPECT_EQ(QSet<QString>(left.begin(), left.end()), (QSet<QString>{QStringLiteral("Music"), QStringLiteral("c.txt")}));
}

TEST_F(FileOpsTest, AFailedDeleteStopsThereKeepsTheSelectionAndReloads)
{
    desktop->answer = 0;
    phone->failCall(QStringLiteral("remove /sdcard/b.txt"),
                    std::make_exception_ptr(ADBError::failed(QStringLiteral("rm: b.txt: Permission denied"))));
    const QSet<QString> chosen{QStringLiteral("a.txt"), QStringLiteral("b.txt"), QStringLiteral("c.txt")};
    model().setSelection(chosen);
    const int listings = phone->calls(QStringLiteral("list /sdcard"));
    model().remove({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt")), file(QStringLiteral("c.txt"))});
    run();
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard/c.txt")), 0);
    const QStringList left = names(model().entries());
    EXPECT_EQ(QSet<QString>(left.begin(), left.end()),
              (QSet<QString>{QStringLiteral("Music"), QStringLiteral("b.txt"), QStringLiteral("c.txt")}));
    // Kept, but for the name the reload no longer lists.
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("b.txt"), QStringLiteral("c.txt")}));
    EXPECT_TRUE(error().contains(QStringLiteral("Permission denied")));
    EXPECT_EQ(phone->calls(QStringLiteral("list /sdcard")), listings + 1);
}

TEST_F(FileOpsTest, WhileACopyRunsADeleteIsConfirmedThenOnlyBeeps)
{
    auto gate = runningCopy();
    desktop->answer = 0;
    model().remove({file(QStringLiteral("a.txt"))});
    EXPECT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->beeps, 1);
    gate->open();
    run();
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard/a.txt")), 0);
}

// Mended: an entry with an empty name, joined to the folder, named the folder
// itself, and deleting it removed everything in it.
TEST_F(FileOpsTest, EntriesWhoseNamesNameAnotherPlaceAreRefusedBeforeAnythingRuns)
{
    desktop->answer = 0;
    const QList<std::pair<QString, QString>> cases = {
        {QString(), QStringLiteral("An item without a name can't be deleted.")},
        {QStringLiteral(".."), QStringLiteral("“..” can't be deleted: it isn't a usable file name.")},
        {QStringLiteral("a/b"), QStringLiteral("“a/b” can't be deleted: it isn't a usable file name.")},
    };
    for (const auto& [name, sentence] : cases) {
        model().setErrorMessage(std::nullopt);
        model().remove({file(QStringLiteral("a.txt")), file(name)});
        EXPECT_EQ(error(), sentence) << name.toStdString();
        model().rename(file(name), QStringLiteral("x"));
        EXPECT_TRUE(error().contains(QStringLiteral("renamed"))) << name.toStdString();
        model().setErrorMessage(std::nullopt);
        delete model().itemProvider(file(name));
        EXPECT_TRUE(error().contains(QStringLiteral("dragged out"))) << name.toStdString();
    }
    settle();
    EXPECT_TRUE(desktop->questions.isEmpty());
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard")), 0);
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard/a.txt")), 0);
}

// ---- new folder and rename ----------------------------------------------------------

TEST_F(FileOpsTest, NewFolderAndRenameTrimCheckAndSelectTheNewName)
{
    struct Case {
        const char* what;
        std::function<void()> request;
        QString error;      // empty: none
        QString call;       // expected on the phone; empty: nothing changes
        QString selected;   // alone in the selection afterwards
    };
    const Case cases[] = {
        {"trimmed", [&] { model().newFolder(QStringLiteral("  Photos \n")); }, {}, QStringLiteral("mkdir /sdcard/Photos"),
         QStringLiteral("Photos")},
        {"blank", [&] { model().newFolder(QStringLiteral("  ")); }, {}, {}, {}},
        {"slash", [&] { model().newFolder(QStringLiteral("a/b")); }, QStringLiteral("Names can't contain “/”."), {}, {}},
        {"dot", [&] { model().newFolder(QStringLiteral(".")); }, QStringLiteral("Names can't contain “/”."), {}, {}},
        {"dots", [&] { model().rename(file(QStringLiteral("a.txt")), QStringLiteral("..")); },
         QStringLiteral("Names can't contain “/”."), {}, {}},
        {"taken folder", [&] { model().newFolder(QStringLiteral("Music")); }, QStringLiteral("“Music” already exists."),
         {}, {}},
        {"unchanged", [&] { model().rename(file(QStringLiteral("a.txt")), QStringLiteral(" a.txt ")); }, {}, {}, {}},
        {"taken name", [&] { model().rename(file(QStringLiteral("a.txt")), QStringLiteral("b.txt")); },
         QStringLiteral("“b.txt” already exists."), {}, {}},
        {"renamed", [&] { model().rename(file(QStringLiteral("a.txt")), QStringLiteral("d.txt")); }, {},
         QStringLiteral("move /sdcard/a.txt /sdcard/d.txt"), QStringLiteral("d.txt")},
    };
    for (const Case& c : cases) {
        model().setErrorMessage(std::nullopt);
        model().setSelection({QStringLiteral("c.txt")});
        const QStringList before = names(model().entries());
        c.request();
        run();
        EXPECT_EQ(error(), c.error) << c.what;
        EXPECT_EQ(phone->calls(QStringLiteral("mkdir /sdcard/Music")), 0) << c.what;
        if (c.call.isEmpty()) {
            EXPECT_EQ(names(model().entries()), before) << c.what;
            continue;
        }
        EXPECT_EQ(phone->calls(c.call), 1) << c.what;
        EXPECT_EQ(model().selection(), QSet<QString>{c.selected}) << c.what;
        EXPECT_TRUE(names(model().entries()).contains(c.selected)) << c.what;
    }
}

// ---- drops and installs ---------------------------------------------------------------

TEST_F(FileOpsTest, ADropOfAppsOnAReadyAdbPhoneAsksElseItIsCopied)
{
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("U1"), QStringLiteral("unauthorized"))});
    pass();
    mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), {});
    struct Case {
        const char* what;
        QString phone;
        QStringList dropped;
        std::optional<int> answer;
        QString question; // empty: none asked
        int installs;
        int copies;
    };
    const Case cases[] = {
        {"one app", QStringLiteral("A1"), {QStringLiteral("/m/Game.APK")}, 0, QStringLiteral("Install “Game.APK”?"), 1, 0},
        {"three apps", QStringLiteral("A1"), {QStringLiteral("/m/a.apk"), QStringLiteral("/m/b.apk"), QStringLiteral("/m/c.Apk")},
         0, QStringLiteral("Install 3 apps?"), 3, 0},
        {"copy file", QStringLiteral("A1"), {QStringLiteral("/m/Game.APK")}, 1, QStringLiteral("Install “Game.APK”?"), 0, 1},
        {"cancel", QStringLiteral("A1"), {QStringLiteral("/m/Game.APK")}, 2, QStringLiteral("Install “Game.APK”?"), 0, 0},
        {"mixed", QStringLiteral("A1"), {QStringLiteral("/m/a.apk"), QStringLiteral("/m/notes.txt")}, 0, {}, 0, 2},
        {"over MTP", QStringLiteral("M1"), {QStringLiteral("/m/a.apk")}, 0, {}, 0, 1},
        {"unauthorized", QStringLiteral("U1"), {QStringLiteral("/m/a.apk")}, 0, {}, 0, 0},
    };
    for (const Case& c : cases) {
        model().setSelectedSerial(c.phone);
        settle();
        desktop->questions.clear();
        desktop->answer = c.answer;
        const int installs = adb->callsStartingWith(QStringLiteral("run -s A1 install -r "));
        auto& files = c.phone == QStringLiteral("M1") ? *mtp->phone(c.phone) : *adb->phone(c.phone);
        // Into the folder dropped on; none (over MTP) is the folder shown.
        const QString into = c.phone == QStringLiteral("M1") ? QStringLiteral("/sdcard/") : QStringLiteral("/sdcard/DCIM/");
        int copies = 0;
        for (const QString& path : c.dropped)
            copies -= files.calls(QStringLiteral("push ") + path + QLatin1Char(' ') + into);
        model().handleDrop(urls(c.dropped), c.phone == QStringLiteral("M1") ? std::optional<QString>()
                                                                            : QStringLiteral("/sdcard/DCIM"));
        run();
        EXPECT_EQ(desktop->questions.size(), c.question.isEmpty() ? 0 : 1) << c.what;
        if (!c.question.isEmpty()) {
            EXPECT_EQ(desktop->questions.first().message, c.question) << c.what;
            EXPECT_EQ(desktop->questions.first().buttons,
                      (QStringList{QStringLiteral("Install"), QStringLiteral("Copy File"), QStringLiteral("Cancel")}));
        }
        EXPECT_EQ(adb->callsStartingWith(QStringLiteral("run -s A1 install -r ")) - installs, c.installs) << c.what;
        for (const QString& path : c.dropped)
            copies += files.calls(QStringLiteral("push ") + path + QLatin1Char(' ') + into);
        EXPECT_EQ(copies, c.copies) << c.what;
    }
}

TEST_F(FileOpsTest, InstallCountsThePackagesAndStopsAtTheFirstFailureWithoutReloading)
{
    QStringList paths;
    adb->onRun([&](const QStringList& args) {
        paths.append(args.last());
        return args.last().endsWith(QStringLiteral("b b.apk"))
                   ? QStringLiteral("Performing Streamed Install\nFailure [INSTALL_FAILED_OLDER_SDK]\n")
                   : QStringLiteral("Success\n");
    });
    const int listings = phone->calls(QStringLiteral("list /sdcard"));
    model().install(urls({QStringLiteral("/m/a.apk"), QStringLiteral("/m/b b.apk"), QStringLiteral("/m/c.apk")}));
    run();
    EXPECT_EQ(lines, (QStringList{QStringLiteral("Installing…"), QStringLiteral("Installing “a.apk” (1 of 3)…"),
                                  QStringLiteral("Installing “b b.apk” (2 of 3)…")}));
    EXPECT_EQ(paths, (QStringList{QStringLiteral("/m/a.apk"), QStringLiteral("/m/b b.apk")}));
    EXPECT_EQ(error(), ADB::clean(QStringLiteral("Performing Streamed Install\nFailure [INSTALL_FAILED_OLDER_SDK]\n")));
    EXPECT_EQ(phone->calls(QStringLiteral("list /sdcard")), listings);

    // The panel offers packages in any letter case and installs what it chose.
    desktop->items = {QStringLiteral("/m/x.apk")};
    model().installAPK();
    run();
    EXPECT_EQ(desktop->panels.last().prompt, QStringLiteral("Install"));
    EXPECT_EQ(desktop->patterns.last(), QStringList{QStringLiteral("*.[aA][pP][kK]")});
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 install -r /m/x.apk")), 1);
}

// ---- screen captures ----------------------------------------------------------------------

// Mended: a "/" in the phone's name sent the file into another folder.
TEST_F(FileOpsTest, CaptureNamesKeepThePhoneNameInOneFileName)
{
    const QDateTime when(QDate(2026, 3, 1), QTime(14, 5, 9), Qt::LocalTime);
    const QList<std::pair<QString, QString>> cases = {
        {QStringLiteral("Pixel 7"), QStringLiteral("Pixel 7 Screenshot 2026-03-01 at 14.05.09.png")},
        {QStringLiteral("A/B") + QChar(0) + QStringLiteral("C"), QStringLiteral("A-B-C Screenshot 2026-03-01 at 14.05.09.png")},
    };
    for (const auto& [phoneName, expected] : cases)
        EXPECT_EQ(BrowserModel::captureName(phoneName, QStringLiteral("Screenshot"), when, QStringLiteral("png")), expected);
}

class RecordingTest : public FileOpsTest {
protected:
    void SetUp() override
    {
        FileOpsTest::SetUp();
        // A recorder that runs until the stop command has reached "the phone".
        stopFile = tools.filePath(QStringLiteral("stopped"));
        const QString tool = tools.filePath(QStringLiteral("recorder"));
        QFile script(tool);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor i in $(seq 500); do [ -e '" + stopFile.toUtf8() + "' ] && exit 0; sleep 0.02; done\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        adb->setStreamTool(tool);
        adb->onRun([this](const QStringList& args) {
            if (args.last() == QStringLiteral("pkill -INT screenrecord"))
                QFile(stopFile).open(QIODevice::WriteOnly);
            return QString();
        });
    }
    void ended()
    {
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().recordingStarted(); }));
        run();
    }

    QTemporaryDir tools;
    QString stopFile;
};

TEST_F(RecordingTest, TheStopGoesToTheRecordingPhoneAndTheEndRunsOnce)
{
    model().toggleRecording();
    ASSERT_TRUE(model().recordingStarted());
    EXPECT_EQ(adb->calls(QStringLiteral("stream -s A1 shell screenrecord --bit-rate 12000000 "
                                        "/sdcard/vantelorquist-recording.mp4")),
              1);
    // No settling while the recorder runs: it keeps a worker busy.
    model().setSelectedSerial(QStringLiteral("A2"));
    model().toggleRecording();
    model().toggleRecording();
    ended();
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 shell pkill -INT screenrecord")), 2);
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A2 shell pkill -INT screenrecord")), 0);
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 shell rm -f /sdcard/vantelorquist-recording.mp4")), 1);
    ASSERT_EQ(desktop->revealed.size(), 1);
    EXPECT_TRUE(desktop->revealed.first().first().startsWith(saved.filePath(QStringLiteral("Pixel 7 Recording "))));
    EXPECT_TRUE(desktop->revealed.first().first().endsWith(QStringLiteral(".mp4")));
    EXPECT_TRUE(lines.contains(QStringLiteral("Copying the screen recording from Pixel 7…")));
}

TEST_F(RecordingTest, ALaunchFailureIsShownAndLeavesNoRecording)
{
    adb->setStreamTool({});
    model().toggleRecording();
    EXPECT_EQ(error(), QStringLiteral("adb couldn't be started."));
    EXPECT_FALSE(model().recordingStarted());
    model().toggleRecording(); // still a start, not a stop
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 shell pkill -INT screenrecord")), 0);
}

// Mended: a recording that ended while a copy ran was left on the phone, to
// be overwritten by the next one.
TEST_F(RecordingTest, ARecordingEndingDuringAJobIsCopiedAfterItAndHoldsBackTheNextOne)
{
    model().toggleRecording();
    auto gate = runningCopy();
    model().toggleRecording();
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().recordingStarted(); }));
    QFile::remove(stopFile);
    model().toggleRecording(); // the phone file is still the last recording's
    EXPECT_EQ(desktop->beeps, 1);
    EXPECT_FALSE(model().recordingStarted());
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 shell rm -f /sdcard/vantelorquist-recording.mp4")), 0);
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([this] { return !desktop->revealed.isEmpty(); }));
    run();
    EXPECT_EQ(adb->calls(QStringLiteral("run -s A1 shell rm -f /sdcard/vantelorquist-recording.mp4")), 1);
    model().toggleRecording();
    EXPECT_TRUE(model().recordingStarted());
    model().toggleRecording();
    ended();
}

// ---- copy paths ----------------------------------------------------------------------------

TEST_F(FileOpsTest, CopyPathsPutsOnePhonePathALine)
{
    phone->setFolder(QStringLiteral("/"), {folder(QStringLiteral("sdcard")), file(QStringLiteral("x"))});
    const QList<std::tuple<QString, QList<RemoteEntry>, QString>> cases = {
        {QStringLiteral("/sdcard"), {file(QStringLiteral("x")), folder(QStringLiteral("My Files"))},
         QStringLiteral("/sdcard/x\n/sdcard/My Files")},
        {QStringLiteral("/"), {file(QStringLiteral("x"))}, QStringLiteral("/x")},
        {QStringLiteral("/"), {}, QString()},
    };
    for (const auto& [path, entries, text] : cases) {
        model().navigate(path);
        settle();
        desktop->clipboard.reset();
        model().copyPaths(entries);
        EXPECT_EQ(desktop->clipboard, text) << path.toStdString();
    }
}

} // namespace
